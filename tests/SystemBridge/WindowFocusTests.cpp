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

using WindowFocus::Step;
using WindowFocus::Trace;
using Names = std::vector<std::string>;

/// "name: detail", or "name FAILED: detail" for a step that failed.
std::string describe(const Step& step)
{
    return step.name + (step.ok ? ": " : " FAILED: ") + step.detail;
}

Names steps(const Trace& trace)
{
    Names lines;
    std::ranges::transform(trace.steps, std::back_inserter(lines), describe);
    return lines;
}

/// The step `name` of `trace`, described; "no step" when it did not run.
std::string step(const Trace& trace, std::string_view name)
{
    auto it = std::ranges::find(trace.steps, name, &Step::name);
    return it == trace.steps.end() ? "no step" : describe(*it);
}

const std::string frontOk = "setFrontProcessWithOptions: CGError 0, mode 0x200", postOk = "postEventRecord: down=0",
                  raiseOk = "raise: AXError 0";

// Display A shows space 1 (of 1, 2), display B shows 3 (of 3, 4). The editor
// (pid 10) has window 100 on hidden space 2, 101 on spaces 4 and 2, 102 on no
// space; the mail application (pid 20), frontmost, has window 200 on space 1.
class FocusTest : public test::SimBridgeTest {
protected:
    void SetUp() override
    {
        desktop->addDisplay({"A", {}, {}, {{1, 0, "", 0}, {2, 0, "", 0}}, 1});
        desktop->addDisplay({"B", {}, {}, {{3, 0, "", 0}, {4, 0, "", 0}}, 3});
        desktop->launch({.pid = 10, .name = "Editor"});
        desktop->launch({.pid = 20, .name = "Mail"});
        desktop->openWindow({.id = 100, .pid = 10, .title = "notes", .spaces = {2}});
        desktop->openWindow({.id = 101, .pid = 10, .title = "draft", .spaces = {4, 2}});
        desktop->openWindow({.id = 102, .pid = 10, .title = "floating"});
        desktop->openWindow({.id = 200, .pid = 20, .title = "inbox", .spaces = {1}});
        desktop->focus(200);
    }
};

TEST_F(FocusTest, FrontmostPidNeedsTheProcessLookup)
{
    desktop->removeSlot("GetProcessPID");
    EXPECT_EQ(WindowFocus::frontmostPID(), std::nullopt);
}

TEST_F(FocusTest, AWindowOnAShownSpaceOrOnNoSpaceIsRaisedWithoutASwitch)
{
    desktop->openWindow({.id = 201, .pid = 20, .title = "other", .spaces = {1}});
    auto trace = WindowFocus::focus(201, 20);
    EXPECT_EQ(steps(trace), (Names{frontOk, postOk, raiseOk}));
    EXPECT_EQ(trace.finalSpaceID, SpaceID{1});
    EXPECT_GE(trace.total, trace.steps[0].elapsed);
    EXPECT_EQ(desktop->windows().front().id, 201u) << "raised";
    EXPECT_EQ(steps(WindowFocus::focus(102, 10)), (Names{frontOk, postOk, raiseOk}));
}

TEST_F(FocusTest, SwitchesToTheWindowsSpaceAndRepairsTheOrigin)
{
    auto trace = WindowFocus::focus(100, 10);
    EXPECT_EQ(steps(trace), (Names{"switchSpace: space 2", frontOk, postOk, raiseOk, "repairOriginSpace: space 1 \u2190 pid 20"}));
    EXPECT_EQ(trace.finalSpaceID, SpaceID{2});
    EXPECT_EQ(desktop->spaceFrontPID(1), Pid{20});
}

TEST_F(FocusTest, AWindowOnTwoHiddenSpacesGoesToTheFirstListed)
{
    // Space 1 stays visible on display A, so there is nothing to repair.
    EXPECT_EQ(steps(WindowFocus::focus(101, 10)), (Names{"switchSpace: space 4", frontOk, postOk, raiseOk}));
}

TEST_F(FocusTest, UnminimizesAfterTheSpaceSwitch)
{
    desktop->setMinimized(100, true);
    EXPECT_EQ(steps(WindowFocus::focus(100, 10)), (Names{"switchSpace: space 2", "unminimize: AXError 0", frontOk, postOk,
                                                      raiseOk, "repairOriginSpace: space 1 \u2190 pid 20"}));
}

TEST_F(FocusTest, AWindowWhoseStateCannotBeReadCountsAsNotMinimized)
{
    desktop->setMinimized(200, true);
    auto element = AXBridge::window(200, 20);
    ASSERT_TRUE(element);
    desktop->injectAXError(20, AXErrors::apiDisabled);
    EXPECT_EQ(step(WindowFocus::focus(200, 20, *element), "unminimize"), "no step");
}

TEST_F(FocusTest, MissingProcessLookupEndsAtPsn)
{
    desktop->removeSlot("GetProcessForPID");
    auto trace = WindowFocus::focus(100, 10);
    EXPECT_EQ(steps(trace), (Names{"switchSpace: space 2", "psn FAILED: GetProcessForPID failed"}));
    EXPECT_EQ(trace.finalSpaceID, std::nullopt);
    EXPECT_FALSE(trace.succeeded());
}

TEST_F(FocusTest, TheSecondEventRecordDiffersInItsTypeOnlyAndNeverChangesOk)
{
    desktop->failNext("SLPSPostEventRecordTo", {0, -7});
    EXPECT_EQ(step(WindowFocus::focus(200, 20, nullptr, {.postMouseUp = true}), "postEventRecord"), "postEventRecord: down=0 up=-7");
    EXPECT_EQ(desktop->postedEventRecords(),
              (std::vector{WindowFocus::makeEventRecord(200, 1), WindowFocus::makeEventRecord(200, 2)}));
    desktop->failNext("SLPSPostEventRecordTo", {-1, 0});
    EXPECT_EQ(step(WindowFocus::focus(200, 20, nullptr, {.postMouseUp = true}), "postEventRecord"),
              "postEventRecord FAILED: down=-1 up=0");
}

TEST_F(FocusTest, TheFrontProcessModeIsPassedOnAndItsFailureFailsTheFocus)
{
    WindowFocus::focus(200, 20, nullptr, {.frontProcessMode = 0xABC01});
    EXPECT_TRUE(desktop->called("_SLPSSetFrontProcessWithOptions pid=20 wid=200 mode=0xabc01"));
    desktop->failNext("_SLPSSetFrontProcessWithOptions", {-3});
    EXPECT_FALSE(WindowFocus::focus(200, 20).succeeded());
}

TEST_F(FocusTest, MissingSlotsAreReportedAsSymbolMissing)
{
    desktop->removeSlot("_SLPSSetFrontProcessWithOptions");
    desktop->removeSlot("SLPSPostEventRecordTo");
    EXPECT_FALSE(WindowFocus::isAvailable());
    EXPECT_EQ(steps(WindowFocus::focus(200, 20)), (Names{"setFrontProcessWithOptions FAILED: symbol missing",
                                                         "postEventRecord FAILED: symbol missing", raiseOk}));
}

TEST_F(FocusTest, OptionsTurnStepsOff)
{
    auto trace = WindowFocus::focus(100, 10, nullptr, {.postEventRecord = false, .raise = false, .repairOriginSpace = false});
    EXPECT_EQ(steps(trace), (Names{"switchSpace: space 2", frontOk}));
}

TEST_F(FocusTest, RaiseRetriesAnInvalidElementOnceWithAFreshOneAndFailsWithoutAny)
{
    auto raised = [&](std::optional<AXElement> element) {
        return step(WindowFocus::focus(200, 20, element.value_or(nullptr)), "raise");
    };
    auto element = AXBridge::window(200, 20);
    desktop->invalidateElements(200);
    EXPECT_EQ(raised(element), "raise: retried after invalidUIElement \u2192 AXError 0");

    desktop->clearCalls();
    desktop->failNextActions(20, {AXErrors::invalidUIElement, AXErrors::invalidUIElement, AXErrors::invalidUIElement});
    EXPECT_EQ(raised(std::nullopt), "raise FAILED: retried after invalidUIElement \u2192 AXError -25202");
    EXPECT_EQ(std::ranges::count(desktop->calls(), "AXUIElementPerformAction AXRaise"), 2) << "retried once only";

    // With no fresh element to be had, the first code is reported.
    element = AXBridge::window(200, 20);
    desktop->invalidateElements(200);
    desktop->removeSlot("_AXUIElementGetWindow");
    reinstall();
    EXPECT_EQ(raised(element), "raise FAILED: AXError -25202");

    // A window without any element cannot be raised, and the focus fails.
    desktop->openWindow({.id = 300, .pid = 20, .title = "server only", .spaces = {1}, .accessible = false});
    auto trace = WindowFocus::focus(300, 20);
    EXPECT_EQ(step(trace, "raise"), "raise FAILED: no AX element for wid 300");
    EXPECT_FALSE(trace.succeeded());
}

TEST_F(FocusTest, AFailedRepairDoesNotFailTheFocus)
{
    desktop->failNext("SLSSpaceSetFrontPSN", {1000});
    auto failed = WindowFocus::focus(100, 10);
    EXPECT_TRUE(failed.succeeded());
    EXPECT_EQ(failed.summary(),
              "switchSpace=true setFrontProcessWithOptions=true postEventRecord=true raise=true repairOriginSpace=false");
}

TEST_F(FocusTest, RepairNeedsAPreviousFrontProcessOtherThanTheTarget)
{
    desktop->focus(102);
    auto trace = WindowFocus::focus(100, 10);
    EXPECT_EQ(step(trace, "switchSpace"), "switchSpace: space 2");
    EXPECT_EQ(step(trace, "repairOriginSpace"), "no step");

    desktop->setCurrentSpace("A", 1);
    desktop->focus(200);
    desktop->removeSlot("GetFrontProcess");
    EXPECT_EQ(step(WindowFocus::focus(100, 10), "repairOriginSpace"), "no step");
}

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
