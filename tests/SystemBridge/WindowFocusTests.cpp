// Window focus: the step sequence and its trace, against the simulated desktop.
#include "Support/SimBridge.h"
#include "SystemBridge/AXBridge.h"
#include "Runtime/SerialQueue.h"
#include "SystemBridge/Spaces.h"
#include "SystemBridge/WindowFocus.h"

#include <atomic>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using WindowFocus::Options;
using WindowFocus::Step;
using WindowFocus::Trace;
using Names = std::vector<std::string>;

Names stepNames(const Trace& trace)
{
    Names names;
    for (const auto& step : trace.steps)
        names.push_back(step.name);
    return names;
}

const Step* findStep(const Trace& trace, std::string_view name)
{
    for (const auto& step : trace.steps)
        if (step.name == name)
            return &step;
    return nullptr;
}

// Display A shows space 1 (of 1, 2), display B shows 3 (of 3, 4). The editor
// (pid 10) has window 100 on hidden space 2, 101 on spaces 4 and 2, 102 on no
// space; the mail application (pid 20), frontmost, has window 200 on space 1.
class FocusTest : public testing::SimBridgeTest {
protected:
    void SetUp() override
    {
        SimBridgeTest::SetUp();
        desktop->addDisplay({"A", {}, {}, {{1, 0, "", 0}, {2, 0, "", 0}}, 1});
        desktop->addDisplay({"B", {}, {}, {{3, 0, "", 0}, {4, 0, "", 0}}, 3});
        desktop->launch({.pid = 10, .name = "Editor"});
        desktop->launch({.pid = 20, .name = "Mail"});
        desktop->openWindow({.id = 100, .pid = 10, .title = "notes", .spaces = {2}});
        desktop->openWindow({.id = 101, .pid = 10, .title = "draft", .spaces = {4, 2}});
        desktop->openWindow({.id = 102, .pid = 10, .title = "floating"});
        desktop->openWindow({.id = 200, .pid = 20, .title = "inbox", .spaces = {1}});
        desktop->focus(200);
        desktop->clearCalls();
    }
};

TEST_F(FocusTest, WindowOnAVisibleSpaceTakesTheShortPathAndTheFrontmostPidIsLookedUpOnEveryCall)
{
    EXPECT_EQ(WindowFocus::frontmostPID(), Pid{20});
    desktop->removeSlot("GetProcessPID");
    EXPECT_EQ(WindowFocus::frontmostPID(), std::nullopt);
    desktop->restoreSlot("GetProcessPID");
    desktop->focus(100);
    EXPECT_EQ(WindowFocus::frontmostPID(), Pid{10});

    desktop->openWindow({.id = 201, .pid = 20, .title = "other", .spaces = {1}});
    auto trace = WindowFocus::focus(201, 20);
    EXPECT_EQ(stepNames(trace), (Names{"setFrontProcessWithOptions", "postEventRecord", "raise"}));
    EXPECT_TRUE(trace.succeeded());
    EXPECT_EQ(trace.steps[0].detail, "CGError 0, mode 0x200");
    EXPECT_EQ(trace.steps[1].detail, "down=0");
    EXPECT_EQ(trace.steps[2].detail, "AXError 0");
    EXPECT_EQ(trace.originSpaceID, SpaceID{1});
    EXPECT_EQ(trace.finalSpaceID, SpaceID{1});
    EXPECT_GE(trace.total, trace.steps[0].elapsed);
    EXPECT_EQ(desktop->frontmostPID(), Pid{20});
    EXPECT_EQ(desktop->windows().front().id, 201u) << "raised";
}

TEST_F(FocusTest, SwitchesToTheWindowsSpaceAndRepairsTheOrigin)
{
    auto trace = WindowFocus::focus(100, 10);
    EXPECT_EQ(stepNames(trace),
              (Names{"switchSpace", "setFrontProcessWithOptions", "postEventRecord", "raise", "repairOriginSpace"}));
    EXPECT_EQ(trace.steps[0].detail, "space 2");
    EXPECT_TRUE(trace.steps[0].ok);
    EXPECT_EQ(trace.originSpaceID, SpaceID{1});
    EXPECT_EQ(trace.finalSpaceID, SpaceID{2});
    EXPECT_EQ(trace.steps[4].detail, "space 1 \u2190 pid 20");
    EXPECT_TRUE(trace.succeeded());
    EXPECT_EQ(desktop->spaceFrontPID(1), Pid{20});
    EXPECT_EQ(desktop->frontmostPID(), Pid{10});
}

TEST_F(FocusTest, AWindowOnTwoHiddenSpacesGoesToTheFirstListedOneWithoutKnownSpacesDoesNotSwitch)
{
    auto trace = WindowFocus::focus(101, 10);
    ASSERT_FALSE(trace.steps.empty());
    EXPECT_EQ(trace.steps[0].name, "switchSpace");
    EXPECT_EQ(trace.steps[0].detail, "space 4");
    // Space 1 stays visible on display A, so there is nothing to repair.
    EXPECT_EQ(findStep(trace, "repairOriginSpace"), nullptr);
    EXPECT_EQ(trace.finalSpaceID, SpaceID{4});

    desktop->clearCalls();
    trace = WindowFocus::focus(102, 10);
    EXPECT_EQ(findStep(trace, "switchSpace"), nullptr);
    EXPECT_EQ(findStep(trace, "repairOriginSpace"), nullptr);
    EXPECT_FALSE(desktop->called("CGSManagedDisplaySetCurrentSpace"));
}

TEST_F(FocusTest, UnminimizesOnlyAMinimizedWindow)
{
    desktop->setMinimized(100, true);
    auto trace = WindowFocus::focus(100, 10);
    auto* step = findStep(trace, "unminimize");
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(trace.steps[1].name, "unminimize") << "after the space switch";
    EXPECT_TRUE(step->ok);
    EXPECT_EQ(step->detail, "AXError 0");
    EXPECT_FALSE(desktop->window(100)->minimized);

    EXPECT_EQ(findStep(WindowFocus::focus(100, 10), "unminimize"), nullptr);

    // The attribute cannot be read either, so it counts as not minimised.
    desktop->setMinimized(200, true);
    auto element = AXBridge::window(200, 20);
    ASSERT_TRUE(element);
    desktop->injectAXError(20, AXErrors::apiDisabled);
    EXPECT_EQ(findStep(WindowFocus::focus(200, 20, *element), "unminimize"), nullptr);
}

TEST_F(FocusTest, MissingProcessLookupEndsAtPsn)
{
    desktop->removeSlot("GetProcessForPID");
    reinstall();
    auto trace = WindowFocus::focus(100, 10);
    EXPECT_EQ(stepNames(trace), (Names{"switchSpace", "psn"}));
    EXPECT_FALSE(trace.steps[1].ok);
    EXPECT_EQ(trace.steps[1].detail, "GetProcessForPID failed");
    EXPECT_EQ(trace.steps[1].elapsed, std::chrono::nanoseconds::zero());
    EXPECT_EQ(trace.finalSpaceID, std::nullopt);
    EXPECT_TRUE(trace.originSpaceID);
    EXPECT_FALSE(trace.succeeded());
    EXPECT_FALSE(desktop->called("_SLPSSetFrontProcessWithOptions"));
    EXPECT_FALSE(desktop->called("AXUIElementPerformAction"));

    desktop->restoreSlot("GetProcessForPID");
    reinstall();
    EXPECT_EQ(WindowFocus::focus(100, 4242).steps.back().name, "psn") << "a process that does not run";
}

TEST_F(FocusTest, ModeIsWrittenInLowercaseHexadecimal)
{
    Options options;
    options.frontProcessMode = 0xABC01;
    auto trace = WindowFocus::focus(200, 20, nullptr, options);
    EXPECT_EQ(trace.steps[0].detail, "CGError 0, mode 0xabc01");
    EXPECT_TRUE(desktop->called("_SLPSSetFrontProcessWithOptions pid=20 wid=200 mode=0xabc01"));
    options.frontProcessMode = 0;
    desktop->failNext("_SLPSSetFrontProcessWithOptions", {-3});
    trace = WindowFocus::focus(200, 20, nullptr, options);
    EXPECT_EQ(trace.steps[0].detail, "CGError -3, mode 0x0");
    EXPECT_FALSE(trace.steps[0].ok);
    EXPECT_FALSE(trace.succeeded());
}

TEST_F(FocusTest, EventRecordLayout)
{
    auto record = WindowFocus::makeEventRecord(0x01020304, 1);
    // 300000.0 as little-endian doubles at 32 and 40, the window id at 60.
    std::array<std::uint8_t, eventRecordSize> expected{};
    for (auto [offset, byte] : {std::pair{4, 0xF8}, {8, 1}, {36, 0x80}, {37, 0x4F}, {38, 0x12}, {39, 0x41}, {44, 0x80},
                                {45, 0x4F}, {46, 0x12}, {47, 0x41}, {58, 0x10}, {60, 4}, {61, 3}, {62, 2}, {63, 1}})
        expected[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(byte);
    EXPECT_EQ(record, expected);
}

TEST_F(FocusTest, TheSecondEventRecordNeverChangesOk)
{
    Options options;
    options.postMouseUp = true;
    desktop->failNext("SLPSPostEventRecordTo", {0, -7});
    auto trace = WindowFocus::focus(200, 20, nullptr, options);
    auto* step = findStep(trace, "postEventRecord");
    ASSERT_NE(step, nullptr);
    EXPECT_TRUE(step->ok);
    EXPECT_EQ(step->detail, "down=0 up=-7");
    // The same record twice, only its type changed.
    EXPECT_EQ(desktop->postedEventRecords(),
              (std::vector{WindowFocus::makeEventRecord(200, 1), WindowFocus::makeEventRecord(200, 2)}));

    desktop->failNext("SLPSPostEventRecordTo", {-1, 0});
    trace = WindowFocus::focus(200, 20, nullptr, options);
    EXPECT_FALSE(findStep(trace, "postEventRecord")->ok);
    EXPECT_EQ(findStep(trace, "postEventRecord")->detail, "down=-1 up=0");
}

TEST_F(FocusTest, MissingSlotsAreReportedAsSymbolMissingAndOptionsTurnStepsOff)
{
    desktop->removeSlot("_SLPSSetFrontProcessWithOptions");
    desktop->removeSlot("SLPSPostEventRecordTo");
    reinstall();
    EXPECT_FALSE(WindowFocus::isAvailable());
    auto trace = WindowFocus::focus(200, 20);
    EXPECT_EQ(stepNames(trace), (Names{"setFrontProcessWithOptions", "postEventRecord", "raise"}));
    EXPECT_EQ(trace.steps[0].detail, "symbol missing");
    EXPECT_EQ(trace.steps[1].detail, "symbol missing");
    EXPECT_FALSE(trace.steps[0].ok);
    EXPECT_TRUE(trace.steps[2].ok);

    desktop->clearCalls();
    Options options;
    options.postEventRecord = false;
    options.raise = false;
    options.repairOriginSpace = false;
    trace = WindowFocus::focus(100, 10, nullptr, options);
    EXPECT_EQ(stepNames(trace), (Names{"switchSpace", "setFrontProcessWithOptions"}));
    EXPECT_FALSE(desktop->called("AXUIElementPerformAction"));
}

TEST_F(FocusTest, RaiseRetriesAnInvalidElementOnceWithAFreshOneAndFailsWithoutAny)
{
    auto raiseDetail = [&](std::optional<AXElement> element) {
        auto trace = WindowFocus::focus(200, 20, element.value_or(nullptr));
        auto* step = findStep(trace, "raise");
        return step ? std::string(step->ok ? "ok: " : "failed: ") + step->detail : std::string("no raise step");
    };
    auto element = AXBridge::window(200, 20);
    ASSERT_TRUE(element);
    desktop->invalidateElements(200);
    EXPECT_EQ(raiseDetail(element), "ok: retried after invalidUIElement \u2192 AXError 0");

    desktop->clearCalls();
    desktop->failNextActions(20, {AXErrors::invalidUIElement, AXErrors::invalidUIElement, AXErrors::invalidUIElement});
    EXPECT_EQ(raiseDetail(std::nullopt), "failed: retried after invalidUIElement \u2192 AXError -25202");
    auto calls = desktop->calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "AXUIElementPerformAction AXRaise"), 2) << "retried once only";

    // With no fresh element to be had, the first code is reported.
    element = AXBridge::window(200, 20);
    desktop->invalidateElements(200);
    desktop->removeSlot("_AXUIElementGetWindow");
    reinstall();
    EXPECT_EQ(raiseDetail(element), "failed: AXError -25202");

    // A window without any element cannot be raised, and the focus fails.
    desktop->openWindow({.id = 300, .pid = 20, .title = "server only", .spaces = {1}, .accessible = false});
    auto trace = WindowFocus::focus(300, 20);
    auto* step = findStep(trace, "raise");
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->detail, "no AX element for wid 300");
    EXPECT_FALSE(step->ok);
    EXPECT_FALSE(trace.succeeded());
}
TEST_F(FocusTest, RepairNeedsAnotherPreviousFrontProcessAndAHiddenOriginAndItsFailureDoesNotFailTheFocus)
{
    desktop->failNext("SLSSpaceSetFrontPSN", {1000});
    auto failed = WindowFocus::focus(100, 10);
    EXPECT_TRUE(failed.succeeded());
    EXPECT_EQ(failed.summary(),
              "switchSpace=true setFrontProcessWithOptions=true postEventRecord=true raise=true repairOriginSpace=false");

    desktop->setCurrentSpace("A", 1);
    desktop->focus(200);
    Options noRepair;
    noRepair.repairOriginSpace = false;
    auto trace = WindowFocus::focus(100, 10, nullptr, noRepair);
    EXPECT_EQ(findStep(trace, "repairOriginSpace"), nullptr);

    // Back on space 1 with the editor already frontmost: the previous front
    // process is the target itself.
    desktop->setCurrentSpace("A", 1);
    desktop->focus(102);
    trace = WindowFocus::focus(100, 10);
    EXPECT_NE(findStep(trace, "switchSpace"), nullptr);
    EXPECT_EQ(findStep(trace, "repairOriginSpace"), nullptr);

    // Without a front process there is nothing to give back either.
    desktop->setCurrentSpace("A", 1);
    desktop->removeSlot("GetFrontProcess");
    trace = WindowFocus::focus(100, 10);
    EXPECT_EQ(findStep(trace, "repairOriginSpace"), nullptr);
}

// Focus runs on a background queue while the main thread keeps reading the
// desktop and delivering its notifications.
TEST_F(FocusTest, FocusOnABackgroundQueueWhileTheMainThreadWorks)
{
    auto app = AXBridge::application(10);
    std::shared_ptr<AXObserver> observer;
    int heard = 0;
    ASSERT_EQ(SystemBridge::installed().accessibility->createObserver(
                  10, [&](const AXElement&, const std::string&) { ++heard; }, observer),
              AXErrors::success);
    observer->addNotification(app, "AXMainWindowChanged");
    observer->attach(loop);

    ThreadSerialQueue queue("focus");
    std::atomic<int> succeeded{0};
    constexpr int attempts = 50;
    for (int i = 0; i < attempts; ++i)
        queue.async([&, i] {
            if (WindowFocus::focus(i % 2 == 0 ? 100 : 101, 10).succeeded())
                ++succeeded;
        });
    std::atomic<bool> done{false};
    queue.async([&] { done = true; });
    while (!done) {
        loop.runPending();
        EXPECT_EQ(Spaces::displays().size(), 2u);
    }
    loop.runPending();
    EXPECT_EQ(succeeded.load(), attempts);
    EXPECT_EQ(heard, attempts) << "one raise notification per focus, delivered on the main loop";
}

} // namespace
} // namespace vantrel
