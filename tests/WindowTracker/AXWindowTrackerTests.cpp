// The window tracker on the simulated desktop, on virtual time: coalescing, launch delay, quarantine, lock, publication.
#include "Support/SimBridge.h"

#include "Runtime/Log.h"
#include "Runtime/SerialQueue.h"
#include "SystemBridge/Backends.h"
#include "WindowTracker/AXWindowTracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Ids = std::vector<WindowID>;

constexpr Pid ownPid = 4242;
constexpr Pid editor = 11;
constexpr Pid mail = 12;

Ids ids(const TrackingSnapshot& snapshot)
{
    Ids result;
    std::ranges::transform(snapshot.windows, std::back_inserter(result), &WindowInfo::id);
    return result;
}

/// The window `id` of `snapshot`, or an empty record when it is not listed.
WindowInfo at(const TrackingSnapshot& snapshot, WindowID id)
{
    auto it = std::ranges::find(snapshot.windows, id, &WindowInfo::id);
    return it == snapshot.windows.end() ? WindowInfo{} : *it;
}

// Spaces 1 (shown) and 2, and a full-screen space 9; the editor has 101 on
// space 1 and 102 (frontmost) on space 2, Mail has 201 on space 1.
class AXWindowTrackerTest : public test::SimBridgeTest {
protected:
    void SetUp() override
    {
        desktop->addDisplay({.identifier = "main", .spaces = {{.id = 1}, {.id = 2}, {.id = 9, .type = 4}}, .currentSpaceID = 1});
        desktop->launch({.pid = editor, .name = "editor", .bundleID = "org.example.Editor"});
        desktop->launch({.pid = mail, .name = "Mail", .bundleID = "org.example.Mail"});
        desktop->openWindow({.id = 101, .pid = editor, .title = "notes.txt", .spaces = {1}});
        desktop->openWindow({.id = 102, .pid = editor, .title = "todo.txt", .spaces = {2}});
        desktop->openWindow({.id = 201, .pid = mail, .title = "Inbox", .spaces = {1}});
    }

    /// Starts tracking and returns the first snapshot; the calls made so far are forgotten.
    TrackingSnapshot startTracker()
    {
        start();
        auto first = published();
        desktop->clearCalls();
        return first;
    }

    void start()
    {
        tracker->start([this](TrackingSnapshot snapshot) { snapshots.push_back(std::move(snapshot)); },
                       [this](WindowID id) { focused.push_back(id); });
    }

    /// Runs what is due now, then returns and forgets what was published.
    std::vector<TrackingSnapshot> takeSnapshots()
    {
        loop.runPending();
        return std::exchange(snapshots, {});
    }

    /// The one snapshot published by what is due now.
    TrackingSnapshot published()
    {
        auto all = takeSnapshots();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? TrackingSnapshot{} : all.back();
    }

    /// Lets the 50 ms coalescing pass and returns the one snapshot.
    TrackingSnapshot settled()
    {
        loop.advance(50ms);
        return published();
    }

    /// Nothing is published while `wait` passes.
    void expectQuiet(Duration wait, const char* why = "")
    {
        loop.advance(wait);
        EXPECT_TRUE(takeSnapshots().empty()) << why;
    }

    void setLocked(bool locked)
    {
        desktop->setScreenLocked(locked);
        loop.runPending();
    }

    std::size_t windowReads() const
    {
        return static_cast<std::size_t>(std::ranges::count(desktop->calls(), "AXUIElementCopyAttributeValue AXWindows"));
    }

    std::shared_ptr<ManualSerialQueue> queue = std::make_shared<ManualSerialQueue>(loop);
    std::unique_ptr<AXWindowTracker> tracker = std::make_unique<AXWindowTracker>(loop, AXWindowTracker::Options{.queue = queue, .ownPid = ownPid});
    std::vector<TrackingSnapshot> snapshots;
    std::vector<WindowID> focused;
};

TEST_F(AXWindowTrackerTest, FirstSnapshotIsHandedToTheMainLoopBeforeStartReturns)
{
    start();
    // Posted, never run inline: the very next turn of the loop, with no time passing, delivers it.
    EXPECT_TRUE(snapshots.empty());
    EXPECT_EQ(ids(published()), (Ids{102, 101, 201})); // windows front to back within each application
}

TEST_F(AXWindowTrackerTest, RegularApplicationsOtherThanThisOneAreListedByNameIgnoringCaseThenByPid)
{
    desktop->launch({.pid = 13, .name = "mail", .bundleID = "org.example.mail2"});
    desktop->launch({.pid = 14, .name = "Zebra"});
    desktop->launch({.pid = 16}); // no name: "?"
    desktop->launch({.pid = 21, .name = "Helper", .policy = ActivationPolicy::accessory});
    desktop->launch({.pid = 22, .name = "Daemon", .policy = ActivationPolicy::prohibited});
    desktop->launch({.pid = ownPid, .name = "Vantrel"});
    for (Pid pid : {13, 14, 16, 21, 22, ownPid})
        desktop->openWindow({.id = static_cast<WindowID>(pid * 10), .pid = pid, .title = "w", .spaces = {1}});
    auto first = startTracker();
    // Equal names keep pid order: "Mail" (12) before "mail" (13).
    EXPECT_EQ(ids(first), (Ids{160, 102, 101, 201, 130, 140}));
    EXPECT_EQ(at(first, 160), (WindowInfo{.id = 160, .pid = 16, .bundleID = std::nullopt, .appName = "?", .title = "w", .spaceIDs = {1}}));

    // Launched later, they stay untracked too, as do their notifications.
    desktop->launch({.pid = 23, .name = "Menu Extra", .policy = ActivationPolicy::accessory});
    desktop->openWindow({.id = 704, .pid = 23, .title = "extra", .spaces = {1}});
    desktop->setTitle(210, "helper 2");
    expectQuiet(2s);
}

TEST_F(AXWindowTrackerTest, WindowsAreFilteredBySubroleAndServerOnlyOnesListedWhenLargeEnoughAndOnASpace)
{
    // Panels float above layer 0 and bare elements here are too small, so the
    // window server's list cannot bring them back: only the subrole decides.
    desktop->openWindow({.id = 103, .pid = editor, .title = "Find", .subrole = "AXFloatingWindow", .spaces = {1}, .layer = 3});
    desktop->openWindow({.id = 104, .pid = editor, .title = "Save?", .subrole = "AXDialog", .spaces = {1}, .width = 200, .height = 100});
    desktop->openWindow({.id = 105, .pid = editor, .title = "bare", .subrole = "", .spaces = {1}, .width = 200, .height = 100});
    desktop->openWindow({.id = 106, .pid = editor, .title = "tool", .subrole = "AXSystemDialog", .spaces = {1}, .width = 200, .height = 100});
    desktop->openWindow({.id = 111, .pid = editor, .title = "", .spaces = {2}, .width = 300, .height = 200, .accessible = false});
    desktop->openWindow({.id = 112, .pid = editor, .title = "narrow", .spaces = {1}, .width = 299, .height = 600, .accessible = false});
    desktop->openWindow({.id = 113, .pid = editor, .title = "short", .spaces = {1}, .width = 800, .height = 199, .accessible = false});
    desktop->openWindow({.id = 114, .pid = editor, .title = "nowhere", .spaces = {}, .accessible = false});
    desktop->openWindow({.id = 115, .pid = editor, .title = "overlay", .spaces = {1}, .layer = 25, .accessible = false});
    desktop->openWindow({.id = 116, .pid = editor, .title = "Palette", .spaces = {1}, .accessible = false});
    desktop->openWindow({.id = 120, .pid = mail, .title = "sticky", .spaces = {2, 1}});
    auto first = startTracker();
    // Accessibility windows first, then the server's in its (front-to-back) order.
    EXPECT_EQ(ids(first), (Ids{104, 102, 101, 116, 111, 120, 201}));
    EXPECT_EQ(at(first, 111), (WindowInfo{.id = 111, .pid = editor, .bundleID = "org.example.Editor", .appName = "editor",
                                          .title = "editor", .spaceIDs = {2}}));
    EXPECT_EQ(at(first, 116).title, "Palette");
    EXPECT_EQ(at(first, 120).spaceIDs, (std::vector<SpaceID>{1, 2})) << "several spaces in walk order";
}

TEST_F(AXWindowTrackerTest, ABurstFromTwoApplicationsIsServedByOneRefreshAndOnePublication)
{
    startTracker();
    for (int i = 0; i < 5; ++i) {
        desktop->setTitle(101, "notes " + std::to_string(i));
        desktop->setTitle(201, "Inbox (" + std::to_string(i) + ")");
        loop.advance(4ms);
    }
    expectQuiet(29ms, "49 ms after the first notification");

    loop.advance(1ms);
    auto snapshot = published();
    EXPECT_EQ(windowReads(), 2u) << "each application read once";
    EXPECT_EQ(at(snapshot, 101).title, "notes 4");
    EXPECT_EQ(at(snapshot, 201).title, "Inbox (4)");
    expectQuiet(1s, "the burst is over");
    EXPECT_EQ(windowReads(), 2u);
}

TEST_F(AXWindowTrackerTest, HiddenApplicationsMarkTheirWindowsFromTheStartAndOnChange)
{
    desktop->setHidden(mail, true);
    EXPECT_TRUE(at(startTracker(), 201).isAppHidden);
    for (bool hidden : {false, true}) {
        desktop->setHidden(mail, hidden);
        auto snapshot = settled();
        EXPECT_EQ(at(snapshot, 201).isAppHidden, hidden);
        EXPECT_FALSE(at(snapshot, 101).isAppHidden);
    }
}

TEST_F(AXWindowTrackerTest, ALaunchedApplicationIsReadHalfASecondLater)
{
    startTracker();
    desktop->launch({.pid = 31, .name = "Browser"});
    desktop->openWindow({.id = 311, .pid = 31, .title = "Start page", .spaces = {2}});
    expectQuiet(499ms);
    EXPECT_FALSE(desktop->called("AXObserverCreate 31"));

    loop.advance(1ms);
    EXPECT_EQ(ids(published()), (Ids{311, 102, 101, 201}));
    desktop->setTitle(311, "News");
    EXPECT_EQ(at(settled(), 311).title, "News") << "from now on its notifications count";
}

TEST_F(AXWindowTrackerTest, TerminationRemovesTheApplicationsWindowsAtOnceEvenDuringTheLaunchDelay)
{
    startTracker();
    desktop->quit(editor);
    EXPECT_EQ(ids(published()), (Ids{201}));

    // One quitting during its launch delay is not tracked as a dead application.
    desktop->launch({.pid = 31, .name = "Flash"});
    loop.advance(100ms);
    LogCapture capture;
    desktop->quit(31);
    loop.advance(1s);
    EXPECT_FALSE(desktop->called("AXObserverCreate 31"));
    for (const auto& record : capture.records())
        EXPECT_NE(record.level, LogLevel::error) << "a dead application was read: " << record.message;
}

class QuarantineTest : public AXWindowTrackerTest {
protected:
    /// Refreshes everything right now: an unlock does so without coalescing.
    void refreshImmediately()
    {
        setLocked(true);
        setLocked(false);
    }

    std::vector<std::string> quarantineLines()
    {
        auto lines = capture.messages("tracker");
        std::erase_if(lines, [](const std::string& message) { return message.find("quarantined") == std::string::npos; });
        capture.clear();
        return lines;
    }

    static std::vector<std::string> line(int seconds)
    {
        return {"editor: cannotComplete (timeout / hung app) — quarantined " + std::to_string(seconds) + ".000000s"};
    }

    LogCapture capture;
};

TEST_F(QuarantineTest, BackOffDoublesUpToAMinuteAndASuccessResetsIt)
{
    startTracker();
    desktop->injectAXError(editor, AXErrors::cannotComplete);
    for (int seconds : {2, 4, 8, 16, 32, 60, 60, 60}) {
        refreshImmediately();
        EXPECT_EQ(quarantineLines(), line(seconds));
        // One millisecond before the end the application is still skipped;
        // at the end it is read again (and fails again, at the next step).
        loop.advance(std::chrono::seconds(seconds) - 1ms);
        refreshImmediately();
        EXPECT_TRUE(quarantineLines().empty()) << "still quarantined after " << seconds << " s";
        loop.advance(1ms);
    }
    // One success clears the count; the shift behind the doubling stays defined far beyond the cap.
    desktop->injectAXError(editor, AXErrors::success);
    refreshImmediately();
    EXPECT_TRUE(quarantineLines().empty());
    desktop->injectAXError(editor, AXErrors::cannotComplete);
    refreshImmediately();
    EXPECT_EQ(quarantineLines(), line(2));
    for (int failures : {31, 32, 64, 1000})
        EXPECT_EQ(AXWindowTracker::quarantineBackoff(failures).count(), 60) << failures;
}

TEST_F(QuarantineTest, AHungApplicationCostsOneTimeoutPerBackOffPeriod)
{
    startTracker();
    desktop->setHung(editor, true);
    auto waitedBefore = desktop->axWaited();
    for (int i = 0; i < 20; ++i) {
        loop.advance(150ms);
        desktop->setTitle(201, "Inbox " + std::to_string(i)); // every application refreshes 50 ms later
        loop.advance(50ms);
    }
    // 4 s of refreshes: failures at 0.2 s and at about 2.3 s (after the 2 s back-off).
    EXPECT_EQ(desktop->axWaited() - waitedBefore, 2 * std::chrono::duration_cast<Duration>(500ms));
}

TEST_F(AXWindowTrackerTest, AnApplicationWithoutObserverStaysTrackedAndRefreshesWithOthers)
{
    LogCapture capture;
    desktop->injectAXError(mail, AXErrors::cannotComplete);
    startTracker();
    EXPECT_TRUE(capture.contains("AXObserverCreate failed for Mail", "tracker"));
    desktop->injectAXError(mail, AXErrors::success);

    desktop->setTitle(201, "unseen");
    expectQuiet(1s, "its own notifications are not heard");
    desktop->setTitle(101, "seen");
    EXPECT_EQ(at(settled(), 201).title, "unseen");
}

TEST_F(AXWindowTrackerTest, FocusIsReportedWithoutARefresh)
{
    startTracker();
    desktop->focus(102);
    loop.runPending();
    EXPECT_EQ(std::set<WindowID>(focused.begin(), focused.end()), std::set<WindowID>{102}) << "at least one report, all of 102";
    expectQuiet(1s);
    EXPECT_EQ(windowReads(), 0u);
}

TEST_F(AXWindowTrackerTest, ALockedScreenPausesEverythingUntilTheUnlockCatchesUpAtOnce)
{
    desktop->setScreenLocked(true);
    startTracker(); // the first snapshot is published regardless
    desktop->focus(201);
    desktop->setTitle(101, "changed while locked");
    desktop->setCurrentSpace("main", 2);
    desktop->setWindowSpaces(102, {1});
    expectQuiet(1s);
    EXPECT_TRUE(focused.empty());

    desktop->setScreenLocked(false);
    auto snapshot = published();
    EXPECT_EQ(windowReads(), 2u);
    EXPECT_EQ(at(snapshot, 101).title, "changed while locked");
    EXPECT_EQ(snapshot.visibleSpaceIDs, (std::set<SpaceID>{2}));
    EXPECT_EQ(at(snapshot, 102).spaceIDs, (std::vector<SpaceID>{1}));
    expectQuiet(1s, "the changes seen while locked are not served again");
    desktop->focus(102);
    loop.runPending();
    EXPECT_FALSE(focused.empty());
}

TEST_F(AXWindowTrackerTest, TerminationsArePublishedWhileLockedWithoutReading)
{
    startTracker();
    setLocked(true);
    desktop->setTitle(101, "changed while locked");
    loop.advance(50ms); // when a refresh would be due, were the tracker not paused
    desktop->quit(mail);
    EXPECT_EQ(at(published(), 101).title, "notes.txt");
}

// No accessibility notification tells of these.
TEST_F(AXWindowTrackerTest, SpaceChangesAreReadOncePerBurst)
{
    startTracker();
    desktop->setCurrentSpace("main", 2);
    loop.advance(10ms);
    desktop->setWindowSpaces(201, {2});
    desktop->setTitle(102, "todo (2)");
    desktop->setSpaces("main", {{.id = 1}, {.id = 2}, {.id = 3}, {.id = 9, .type = 4}});
    desktop->setCurrentSpace("main", 3);
    expectQuiet(39ms);
    loop.advance(1ms);
    auto snapshot = published();
    EXPECT_EQ(windowReads(), 2u) << "each application read once";
    EXPECT_EQ(snapshot.visibleSpaceIDs, (std::set<SpaceID>{3}));
    EXPECT_EQ(snapshot.spaceNumbers, (std::map<SpaceID, int>{{1, 1}, {2, 2}, {3, 3}, {9, 4}}));
    EXPECT_EQ(at(snapshot, 201).spaceIDs, (std::vector<SpaceID>{2}));
    EXPECT_EQ(at(snapshot, 102).title, "todo (2)");
    expectQuiet(1s);
}

TEST_F(AXWindowTrackerTest, StopOrDestructionEndsEveryDeliveryIncludingPendingWorkAndAStoppedOneCanStartAgain)
{
    startTracker();
    desktop->setTitle(101, "pending"); // a refresh is due in 50 ms
    desktop->launch({.pid = 31, .name = "Late"});
    loop.runPending();
    tracker->stop();

    loop.advance(2s);
    desktop->focus(201);
    desktop->setTitle(201, "after stop");
    desktop->setCurrentSpace("main", 2);
    expectQuiet(2s);
    EXPECT_FALSE(desktop->called("AXObserverCreate 31"));

    start();
    EXPECT_EQ(at(published(), 201).title, "after stop");
    EXPECT_EQ(focused, (Ids{201})) << "a new start reports the focused window again";
    focused.clear();

    // Work that stop() itself drains from the queue hands nothing over either.
    desktop->focus(102);
    desktop->quit(mail);
    loop.post([this] { tracker->stop(); }); // after the notifications reach the queue
    expectQuiet(2s);
    EXPECT_TRUE(focused.empty());
    start();
    published();
    focused.clear();

    // Destroying it with work pending is as safe.
    desktop->setTitle(101, "pending again");
    desktop->launch({.pid = 32, .name = "Later"});
    desktop->focus(102);
    tracker.reset();
    expectQuiet(2s);
    EXPECT_TRUE(focused.empty());
}

/// The layer-0 windows of a window server offering only the window list, answering with `list`.
std::vector<AXWindowTracker::ServerWindow> layerZeroWindowsOf(std::optional<nlohmann::json> list)
{
    struct FixedWindowList final : WindowServerBackend {
        std::optional<nlohmann::json> list;
        WindowServerSlots slots() override
        {
            WindowServerSlots table;
            table.windowListCopyWindowInfo = [this](std::int32_t, WindowID) { return list; };
            return table;
        }
    };
    auto server = std::make_shared<FixedWindowList>();
    server->list = std::move(list);
    const test::InstalledBridge bridge(Backends{.windowServer = server, .accessibility = nullptr, .workspace = nullptr});
    return AXWindowTracker::layerZeroWindows();
}

TEST(LayerZeroWindows, MalformedEntriesAreSkippedOneByOne)
{
    auto list = nlohmann::json::parse(R"([
        {"kCGWindowLayer": 0, "kCGWindowNumber": 7, "kCGWindowOwnerPID": 70,
         "kCGWindowBounds": {"Width": 640, "Height": 480}, "kCGWindowName": "seven"},
        {"kCGWindowLayer": 3, "kCGWindowNumber": 8, "kCGWindowOwnerPID": 70},
        {"kCGWindowLayer": "0", "kCGWindowNumber": 9, "kCGWindowOwnerPID": 70},
        {"kCGWindowNumber": 10, "kCGWindowOwnerPID": 70},
        {"kCGWindowLayer": 0, "kCGWindowNumber": -1, "kCGWindowOwnerPID": 70},
        {"kCGWindowLayer": 0, "kCGWindowNumber": 4294967296, "kCGWindowOwnerPID": 70},
        {"kCGWindowLayer": 0, "kCGWindowNumber": 11, "kCGWindowOwnerPID": 2147483648},
        {"kCGWindowLayer": 0, "kCGWindowNumber": 12},
        {"kCGWindowLayer": 0, "kCGWindowNumber": 13, "kCGWindowOwnerPID": 71,
         "kCGWindowBounds": {"Width": "wide", "Height": 480}, "kCGWindowName": 5},
        {"kCGWindowLayer": 0, "kCGWindowNumber": 4294967295, "kCGWindowOwnerPID": -5,
         "kCGWindowBounds": {"Width": 300.0, "Height": 200.0}}
    ])");
    EXPECT_EQ(layerZeroWindowsOf(list), (std::vector<AXWindowTracker::ServerWindow>{
                                            {7, 70, "seven", 640, 480}, {13, 71, "", 0, 0}, {4294967295u, -5, "", 300, 200}}));
    EXPECT_TRUE(layerZeroWindowsOf(nlohmann::json::array({1, 2})).empty());
    EXPECT_TRUE(layerZeroWindowsOf(std::nullopt).empty());
    EXPECT_TRUE(AXWindowTracker::layerZeroWindows().empty()) << "no backend installed";
}

} // namespace
} // namespace vantrel
