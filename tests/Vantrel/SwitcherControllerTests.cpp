// The switcher on virtual time: opening, showing, stepping, repeating, filtering, refreshing, committing; its
// hot keys, the pause list, focusing, the item actions and the desktop environment they go through.
#include "Vantrel/SwitcherController.h"
#include "Vantrel/DesktopEnvironment.h"

#include "Platform/Sim/SimulatedInput.h"
#include "Platform/Sim/SimDesktop.h"
#include "Support/FakePanels.h"
#include "Support/FakeWindowTracking.h"
#include "Support/InstalledInput.h"
#include "Support/SimBridge.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/SymbolicHotKeys.h"
#include "Runtime/Log.h"
#include "Runtime/ManualRunLoop.h"
#include "Runtime/SerialQueue.h"
#include "Runtime/UserDefaults.h"
#include "VantrelCore/KeyCodes.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>

using namespace std::chrono_literals;

namespace vantrel {
namespace {

using test::idList;
using test::window;
using Calls = std::vector<std::string>;
using Ids = std::vector<WindowID>;

using ModifierFlags::capsLock, ModifierFlags::command, ModifierFlags::shift;
const SwitcherConfig commandTab = SwitcherConfig::commandTab(), commandGrave = SwitcherConfig::commandGrave(),
                     controlOptionTab = SwitcherConfig::controlOptionTab();

class SwitcherTest : public test::SimBridgeTest {
protected:
    SwitcherTest()
    {
        auto ownedMirrors = std::make_unique<test::FakeMirrorPanels>();
        mirrors = ownedMirrors.get();
        controller = std::make_unique<SwitcherController>(loop, store, panel, settingsStore, environment, std::move(ownedMirrors),
                                                          std::make_shared<ManualSerialQueue>(loop));
        controller->installPanelCallbacks();
        store.onChange = [this] { controller->storeChanged(); };
        store.start();
        windows();
    }

    void publish(const std::vector<WindowInfo>& windows, std::set<SpaceID> visible = {}, std::set<SpaceID> fullscreen = {})
    {
        tracking->publish({windows, std::move(visible), std::move(fullscreen), {{1, 1}, {2, 2}, {3, 3}}});
    }
    /// Publishes the windows, most recently used first.
    void publishInOrder(const std::vector<WindowInfo>& windows)
    {
        publish(windows);
        for (auto it = windows.rbegin(); it != windows.rend(); ++it)
            tracking->focus(it->id);
    }
    /// Windows 1 Safari, 2 Terminal, 3 Mail, most recent first; any other count: A, B, C, D...
    void windows(int count = 3)
    {
        if (count == 3)
            return publishInOrder({window(1, 10, "Safari", "Apple"), window(2, 20, "Terminal", "ssh host"), window(3, 30, "Mail", "Inbox")});
        std::vector<WindowInfo> all;
        for (int i = 1; i <= count; ++i)
            all.push_back(window(WindowID(i), 10 * i, std::string(1, char('A' + i - 1)), std::string(1, char('a' + i - 1))));
        publishInOrder(all);
    }
    void setDelay(std::int64_t milliseconds)
    {
        settingsStore.update([&](Settings& settings) { settings.showDelayMilliseconds = milliseconds; });
    }
    void tab(const SwitcherConfig& config = commandTab) { controller->activate(config); }
    void release() { controller->flagsChanged(0); }
    /// Ends the session and puts the panel away, as a new session expects to find it.
    void reset()
    {
        controller->endSession();
        panel.hide();
        clearCalls();
    }
    void clearCalls() { panel.calls.clear(); mirrors->calls.clear(); }
    /// The windows focused so far, once the work queue has run.
    Ids focusedIDs()
    {
        loop.runPending();
        return environment.focused;
    }
    /// Holds the switcher's key (`step` +1) or its move-up key (-1) with the given key repeat.
    void hold(int step, Duration delay, Duration interval)
    {
        environment.repeat = {delay, interval};
        step > 0 ? tab() : controller->moveUp(commandTab);
        controller->startRepeat(step, commandTab);
    }
    std::ptrdiff_t selection() const { return controller->session()->selection; }
    std::string itemIDs() const { return idList(controller->session()->items); }
    std::string items(const SwitcherConfig& config) const { return idList(controller->items(config)); }

    std::shared_ptr<test::FakeTrackingLog> tracking = std::make_shared<test::FakeTrackingLog>();
    WindowStore store{std::make_unique<test::FakeWindowTracking>(tracking)};
    SettingsStore settingsStore{std::make_shared<MemoryUserDefaults>()};
    test::FakeSwitcherPanel panel;
    test::FakeSwitcherEnvironment environment;
    test::FakeMirrorPanels* mirrors = nullptr;
    std::unique_ptr<SwitcherController> controller;
};

/// The panel shows as soon as a switcher opens.
class ShownSwitcherTest : public SwitcherTest {
protected:
    ShownSwitcherTest() { setDelay(0); }
};

TEST_F(SwitcherTest, AQuickPressAndReleaseFocusesThePreviousWindowWithoutShowing)
{
    tab();
    loop.advance(100ms);
    release();
    EXPECT_EQ(focusedIDs(), Ids{2});
    loop.advance(1s);
    EXPECT_EQ(panel.count("show") + panel.count("select") + panel.count("update") + mirrors->count("show"), 0u);
}

TEST_F(SwitcherTest, AChordReachingUsJustAfterItsModifiersWereReleasedSwitchesAtOnce)
{
    struct Case {
        const char* name;
        std::uint64_t released;
        Duration before;
        bool switches;
    };
    const Case cases[] = {{"a quick tap's release, ahead of its chord", KeyChord::command, 0ms, true},
                          {"another modifier's release", KeyChord::shift, 0ms, false},
                          {"a release long before the press", KeyChord::command, 1s, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        controller->flagsChanged(c.released);
        controller->flagsChanged(0);
        loop.advance(c.before);
        tab();
        EXPECT_EQ(focusedIDs(), c.switches ? Ids{2} : Ids{});
        reset();
        environment.focused.clear();
    }
}

TEST_F(SwitcherTest, MovingUpWithoutASessionOpensItOnTheLastWindow)
{
    controller->moveUp(commandTab);
    loop.advance(150ms);
    EXPECT_EQ(panel.calls, Calls{"show 1,2,3 @2 key"});
    reset();
    setDelay(0);
    controller->moveUp(commandTab);
    EXPECT_EQ(panel.calls, (Calls{"show 1,2,3 @1 key", "select 2"}));
}

TEST_F(SwitcherTest, ThePanelShowsOnceWithTheCurrentSelectionWhenTheDelayFromNothingToADayRunsOut)
{
    const std::pair<std::int64_t, Duration> cases[] = {{150, 150ms},
                                                       {0, 0ms},
                                                       {-5, 0ms},
                                                       {9'200'000'000'000, longestSettingDelay},
                                                       {std::numeric_limits<std::int64_t>::max(), longestSettingDelay}};
    for (auto [delay, wait] : cases) {
        SCOPED_TRACE(delay);
        setDelay(delay);
        tab();
        if (wait > 0ms) {
            loop.advance(wait - 1ms);
            tab(); // still pending: moves without showing
            loop.advance(1ms);
        }
        EXPECT_EQ(panel.calls, Calls{wait > 0ms ? "show 1,2,3 @2 key" : "show 1,2,3 @1 key"});
        loop.advance(10s);
        EXPECT_EQ(panel.count("show"), 1u);
        reset();
    }
}

TEST_F(ShownSwitcherTest, ThePanelGetsTheStoresSpaces)
{
    publish(store.windows(), {1});
    tab();
    EXPECT_EQ(panel.visibleSpaceIDs, (std::set<SpaceID>{1}));
    EXPECT_EQ(panel.spaceNumbers.size(), 3u);
}

TEST_F(SwitcherTest, AQueryWithoutASessionDoesNothing)
{
    controller->queryChanged("saf");
    EXPECT_TRUE(panel.calls.empty());
}

TEST_F(SwitcherTest, ASingleWindowIsTheOneAQuickSwitchFocuses)
{
    publishInOrder({window(7, 70, "Notes")});
    tab();
    release();
    EXPECT_EQ(focusedIDs(), Ids{7});
}

TEST_F(ShownSwitcherTest, PressesStepDownAndMoveUpStepsUpBothWrapping)
{
    tab();
    for (bool down : {true, true, false, false})
        down ? tab() : controller->moveUp(commandTab);
    EXPECT_EQ(panel.calls, (Calls{"show 1,2,3 @1 key", "select 2", "select 0", "select 2", "select 1"}));
    EXPECT_EQ(mirrors->calls, (Calls{"select 2", "select 0", "select 2", "select 1"}));
}

TEST_F(SwitcherTest, RepeatFirstStepAfterTheDelayThenOnePerIntervalNeverFasterThanThirtyMilliseconds)
{
    struct Case {
        const char* name;
        int step;
        Duration delay, interval;
        std::vector<std::pair<Duration, std::ptrdiff_t>> selections; // after advancing by .first
    };
    const Case cases[] = {
        {"down", +1, 400ms, 50ms, {{0ms, 1}, {399ms, 1}, {1ms, 2}, {49ms, 2}, {1ms, 3}, {50ms, 0}}},
        {"up", -1, 200ms, 40ms, {{0ms, 3}, {240ms, 1}}},
        {"a 5 ms interval", +1, 100ms, 5ms, {{100ms, 2}, {29ms, 2}, {1ms, 3}, {30ms, 0}}},
    };
    windows(4);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hold(c.step, c.delay, c.interval);
        for (const auto& [advance, expected] : c.selections) {
            loop.advance(advance);
            EXPECT_EQ(selection(), expected);
        }
        controller->stopRepeat(); // releasing the key stops at once
        auto stoppedAt = selection();
        loop.advance(1s);
        EXPECT_EQ(selection(), stoppedAt);
        controller->endSession();
    }
}

TEST_F(SwitcherTest, RepeatStopsWithItsSession)
{
    windows(4);
    hold(+1, 100ms, 30ms);
    tab(controlOptionTab); // another switcher replaces the session
    loop.advance(1s);
    EXPECT_EQ(selection(), 1);
    EXPECT_FALSE(controller->isRepeating());

    hold(+1, 100ms, 30ms);
    loop.advance(50ms);
    release();
    tab(); // a new session of the same switcher, without a held key: nothing steps it
    loop.advance(100ms); // not 1 s, whose 32 steps of a left-over repeat would come round to the same row
    EXPECT_EQ(selection(), 1);
}

TEST_F(SwitcherTest, ReleasingTheLastOfTheChordsModifiersCommits)
{
    const SwitcherConfig bare{"f13", "F13", KeyChord{105, 0}, std::nullopt, SwitcherScope::allApps, true};
    struct Case {
        const char* name;
        const SwitcherConfig& config;
        int presses;
        std::vector<std::uint64_t> held;
        std::uint64_t released;
        WindowID committed;
    };
    // Each commit makes its window the most recent: 2, 1, 3 then 1, 2, 3.
    const Case cases[] = {
        {"shift and caps lock are no part of cmd-tab", commandTab, 1,
         {KeyChord::command | KeyChord::shift, KeyChord::command, KeyChord::command | capsLock}, capsLock, 2},
        {"either modifier of ctrl-opt-tab keeps it", controlOptionTab, 1, {KeyChord::option}, KeyChord::command | KeyChord::shift, 1},
        {"a chord without modifiers, on the first change", bare, 2, {}, KeyChord::command, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int press = 0; press < c.presses; ++press)
            tab(c.config);
        for (std::uint64_t flags : c.held)
            controller->flagsChanged(flags);
        EXPECT_TRUE(focusedIDs().empty());
        controller->flagsChanged(c.released);
        EXPECT_EQ(focusedIDs(), Ids{c.committed});
        environment.focused.clear();
    }
}

TEST_F(ShownSwitcherTest, PanelCommitFocusesItsWindowAndCancelFocusesNothing)
{
    for (bool commit : {true, false}) {
        SCOPED_TRACE(commit ? "Return" : "Escape");
        tab();
        if (commit) {
            tab();
            panel.pressReturn();
        } else {
            panel.visible = false; // Escape: the panel puts itself away, then reports a cancel
            panel.onCancel();
        }
        EXPECT_FALSE(controller->session());
        EXPECT_EQ(focusedIDs(), Ids{3});
        EXPECT_EQ(mirrors->calls.back(), "hide");
    }
}

TEST_F(ShownSwitcherTest, TypingFiltersTheListAndReleaseCommitsItsBestMatchIfAny)
{
    const std::tuple<std::string, std::string, Ids> cases[] = {{"inb", "3", {3}}, {"zqx", "", {}}};
    for (const auto& [typed, listed, focused] : cases) {
        SCOPED_TRACE(typed);
        tab();
        clearCalls();
        panel.type(typed);
        EXPECT_EQ(panel.calls, (Calls{"query " + typed, "update " + listed, "select 0"}));
        EXPECT_EQ(mirrors->calls, (Calls{"update " + listed, "select 0"}));
        release();
        EXPECT_EQ(focusedIDs(), focused);
        EXPECT_FALSE(controller->session());
        EXPECT_FALSE(panel.isVisible());
        environment.focused.clear();
    }
}

TEST_F(ShownSwitcherTest, AnEmptyOrBlankQueryRestoresTheStartingList)
{
    tab();
    panel.type(" ssh ");
    EXPECT_EQ(itemIDs(), "2");
    for (std::string blank : {"", "  \t "}) {
        controller->queryChanged("saf");
        controller->queryChanged(blank);
        EXPECT_EQ(itemIDs(), "1,2,3");
        EXPECT_EQ(selection(), 0);
        EXPECT_EQ(panel.query, blank);
    }
}

TEST_F(SwitcherTest, ActiveAppScopeNarrowsToTheFrontmostApplication)
{
    publishInOrder({window(1, 10, "Safari", "one"), window(2, 20, "Terminal", "a"), window(3, 10, "Safari", "two"),
                    window(4, 20, "Terminal", "b")});
    environment.frontmost = 20;
    EXPECT_EQ(items(commandGrave), "2,4");
    EXPECT_EQ(items(commandTab), "1,2,3,4");
    environment.frontmost = std::nullopt;
    EXPECT_EQ(items(commandGrave), "1,2,3,4");
}

// How each setting places a window is the settings' own concern; here: the
// controller applies them, the Spaces filter before the minimized placement.
TEST_F(SwitcherTest, ListingFollowsTheSpacesAndMinimizedSettings)
{
    auto minimized = window(1, 10, "A", "", {1});
    minimized.isMinimized = true;
    publishInOrder({minimized, window(2, 20, "B", "", {2}), window(3, 30, "C", "", {3}), window(4, 40, "D")});
    publish(store.windows(), {1}, {3});
    EXPECT_EQ(items(commandTab), "2,3,4,1");
    settingsStore.update([](Settings& s) { s.spacesFilter = SpacesFilter::visibleSpaces; });
    EXPECT_EQ(items(commandTab), "4,1");
    settingsStore.update([](Settings& s) {
        s.spacesFilter = SpacesFilter::visibleAndFullscreen;
        s.minimizedWindows = WindowFilter::hide;
    });
    EXPECT_EQ(items(commandTab), "3,4");
}

TEST_F(SwitcherTest, ClosingAWindowKeepsTheSelectionOnTheSameWindowAlsoBeforeShowing)
{
    auto w1 = window(1, 10, "A"), w2 = window(2, 20, "B"), w3 = window(3, 30, "C"), w4 = window(4, 40, "D"),
         w5 = window(5, 50, "E");
    publishInOrder({w1, w2, w3, w4, w5});
    tab();
    tab(); // on window 3, not shown yet
    publish({w2, w3, w4, w5}); // window 1 closes: 3 moves up a row and stays selected
    loop.advance(150ms);
    EXPECT_EQ(panel.calls, Calls{"show 2,3,4,5 @1 key"});
    clearCalls();

    publish({w3, w4, w5}); // and again while shown
    EXPECT_EQ(panel.calls, (Calls{"update 3,4,5", "select 0"}));
    EXPECT_EQ(mirrors->calls, panel.calls);
}

TEST_F(ShownSwitcherTest, TheLastWindowClosingEndsTheSession)
{
    tab();
    clearCalls();
    publish({});
    EXPECT_FALSE(controller->session());
    EXPECT_EQ(panel.calls, Calls{"hide"});
    EXPECT_EQ(mirrors->calls, Calls{"hide"});
}

TEST_F(ShownSwitcherTest, StoreChangeKeepsTheTypedQueryApplied)
{
    auto t1 = window(1, 10, "Terminal", "build"), safari = window(2, 20, "Safari", "news"),
         t3 = window(3, 10, "Terminal", "tests"), mail = window(4, 30, "Mail");
    publishInOrder({t1, safari, t3, mail});
    tab();
    panel.type("term");
    controller->step(1); // on window 3

    publish({safari, t3, mail}); // window 1 closes while the user types
    EXPECT_EQ(itemIDs(), "3");
    EXPECT_EQ(selection(), 0);
    EXPECT_EQ(panel.items.size(), 1u);

    panel.type("zz"); // nothing matches any more, the session stays open
    publish({safari, t3, mail, window(5, 10, "Terminal", "zz top")});
    EXPECT_EQ(itemIDs(), "5");
    controller->queryChanged(""); // cleared: the refreshed list, not the list at the start
    EXPECT_EQ(itemIDs(), "2,3,4,5");
}

TEST_F(SwitcherTest, AReplacedSessionsTimerDoesNotShowALaterSessionOfItsSwitcherEarly)
{
    for (const auto* config : {&commandTab, &controlOptionTab, &commandTab}) { // the last a fresh cmd-tab session
        tab(*config);
        loop.advance(50ms);
    } // the first one's show was due now
    EXPECT_EQ(panel.count("show"), 0u);
    loop.advance(100ms);
    EXPECT_EQ(panel.calls, Calls{"show 1,2,3 @1 key"});
}

TEST_F(SwitcherTest, ASwitcherWithNothingToListLeavesTheSessionAndItsTimerAlone)
{
    tab();
    environment.frontmost = 99;
    tab(commandGrave);
    controller->moveUp(commandGrave);
    loop.advance(150ms);
    EXPECT_EQ(panel.calls, Calls{"show 1,2,3 @1 key"});
}

TEST_F(ShownSwitcherTest, AllDisplaysMirrorsExcludingThePanelsScreen)
{
    settingsStore.update([](Settings& s) { s.panelDisplayMode = PanelDisplayMode::allDisplays; });
    tab();
    EXPECT_EQ(mirrors->calls, Calls{"show 1,2,3 @1 excluding screen-1"});
    reset();
    panel.assignedScreen = std::nullopt;
    tab();
    EXPECT_EQ(mirrors->calls, Calls{"show 1,2,3 @1 excluding screen-main"});
}

TEST_F(SwitcherTest, FocusMakesTheWindowMostRecentThenRunsOnTheWorkQueue)
{
    Signposts::reset();
    controller->focus(window(3, 30, "Mail"));
    EXPECT_EQ(store.ordered().front().id, 3u);
    EXPECT_TRUE(environment.focused.empty());
    EXPECT_TRUE(Signposts::durations("focus").empty());
    EXPECT_EQ(focusedIDs(), Ids{3});
    EXPECT_EQ(Signposts::durations("focus").size(), 1u) << "the interval spans the background work";
}

TEST_F(SwitcherTest, AFailedFocusKeepsTheWindowFirstAndLogsItsSteps)
{
    environment.focusTrace.steps = {{"psn", true, "", {}}, {"setFrontProcessWithOptions", false, "", {}}};
    LogCapture capture;
    controller->focus(window(3, 30, "Mail"));
    loop.runPending();
    EXPECT_EQ(store.ordered().front().id, 3u);
    EXPECT_TRUE(capture.contains("focus failed for Mail: psn=true setFrontProcessWithOptions=false", "switcher"));
}

TEST_F(SwitcherTest, AWindowClosedAfterItWasListedIsNotFocused)
{
    publish({window(1, 10, "Safari")});
    controller->focus(window(3, 30, "Mail"));
    EXPECT_TRUE(focusedIDs().empty());
}

constexpr std::uint16_t tabKey = KeyCodes::tab, commandKey = KeyCodes::leftCommand, graveKey = KeyCodes::grave;

class SwitcherHotKeysTest : public ShownSwitcherTest {
protected:
    void SetUp() override { controller->start(); }
    void TearDown() override { controller.reset(); }
    std::size_t grabs() const { return input->grabs.size(); }
    bool systemCommandTabOn() const { return desktop->hotKeyEnabled(SymbolicHotKey::nextWindow); }
    void press(std::uint16_t key, std::uint64_t flags)
    {
        input->keyDown(key, flags);
        input->keyUp(key, flags);
    }

    std::shared_ptr<SimulatedInput> input = std::make_shared<SimulatedInput>();
    test::InstalledInputBackend installedInput{input};
};

TEST_F(SwitcherHotKeysTest, ARefusedChordCostsOnlyThatChord)
{
    LogCapture capture;
    input->refuseChord(tabKey, command);
    input->refuseChord(graveKey, command | shift); // a refused move-up is skipped silently
    desktop->failNext("CGSSetSymbolicHotKeyEnabled", {1000});
    controller->applySettings();
    EXPECT_EQ(capture.messages("switcher"),
              (Calls{"could not disable system ⌘Tab", "could not register activate chord for ⌘Tab — all windows",
                     "settings applied: 4 hotkeys, replacesCommandTab=true"}));
    press(tabKey, command | shift);
    loop.runPending();
    EXPECT_EQ(controller->session()->selection, 2) << "the move-up chord opens the session on its own";
}

TEST_F(SwitcherHotKeysTest, ADesktopWithoutASystemSwitcherSaysSoOnceWithoutAnError)
{
    SystemBridge::reset();
    LogCapture capture;
    controller->applySettings();
    controller->applySettings();
    const std::string applied = "settings applied: 6 hotkeys, replacesCommandTab=true";
    EXPECT_EQ(capture.messages("switcher"), (Calls{"no system ⌘Tab to disable on this desktop", applied, applied}));
}

TEST_F(SwitcherHotKeysTest, WithNoSwitcherOnSuperTabTheSystemsComesBack)
{
    settingsStore.update([](Settings& s) { s.switchers = {SwitcherConfig::controlOptionTab()}; });
    controller->applySettings();
    EXPECT_EQ(grabs(), 2u);
    EXPECT_TRUE(systemCommandTabOn());
}

TEST_F(SwitcherHotKeysTest, PressesRunAsMainLoopJobs)
{
    environment.repeat = {300ms, 50ms};
    input->keyDown(tabKey, command);
    EXPECT_FALSE(controller->session()) << "never inline";
    loop.advance(300ms);
    EXPECT_EQ(controller->session()->selection, 2) << "held: repeats";
    input->keyUp(tabKey, command);
    press(tabKey, command); // released before its job runs
    loop.advance(350ms); // a repeat would have stepped twice by now
    input->flagsChanged(commandKey, 0);
    EXPECT_EQ(focusedIDs(), Ids{1});
}

TEST_F(SwitcherHotKeysTest, TimersJobsAndCallbacksOutlivingTheControllerDoNothing)
{
    setDelay(150);
    environment.repeat = {100ms, 30ms};
    tab();
    controller->startRepeat(1, commandTab);
    press(tabKey, command);
    controller.reset();
    store.onChange = nullptr;
    EXPECT_EQ(grabs(), 0u);
    loop.advance(1s);
    environment.bringToFront("x", "y");
    panel.type("x");
    panel.pressReturn();
    EXPECT_TRUE(panel.calls.empty());
}

TEST_F(SwitcherHotKeysTest, APausedFrontmostApplicationGetsTheChordsUntilAnotherComesToTheFront)
{
    settingsStore.update([](Settings& s) { s.rules.pauseApps = {"org.remmina.Remmina"}; });
    press(tabKey, command);
    loop.runPending();
    environment.bringToFront("org.remmina.Remmina", "Remmina");
    EXPECT_FALSE(controller->session());
    EXPECT_EQ(panel.calls.back(), "hide");
    EXPECT_TRUE(systemCommandTabOn());
    controller->applySettings(); // a settings change while paused
    environment.bringToFront("org.remmina.Remmina", std::nullopt);
    EXPECT_EQ(grabs(), 0u);
    environment.bringToFront(std::nullopt, std::nullopt);
    EXPECT_EQ(grabs(), 6u);
}

TEST_F(SwitcherHotKeysTest, RecordingAChordLeavesTheChordsAloneUntilItEnds)
{
    // Wired as the application wires it.
    settingsStore.onRecordingChange = [this](bool on) { on ? controller->pauseHotKeys() : controller->applySettings(); };
    settingsStore.setRecordingChord(true);
    controller->applySettings();
    EXPECT_EQ(grabs(), 0u);
    settingsStore.setRecordingChord(false);
    EXPECT_EQ(grabs(), 6u);
}

TEST_F(SwitcherHotKeysTest, StoppingGivesTheChordsBackToTheSystem)
{
    controller->stop();
    EXPECT_EQ(grabs(), 0u);
    EXPECT_TRUE(systemCommandTabOn());
}

TEST_F(SwitcherHotKeysTest, TheDesktopEnvironmentReadsTheFrontmostProcessAndKeyRepeatOfTheInstalledWorkspace)
{
    desktop->setKeyRepeat({400ms, 50ms});
    desktop->launch({.pid = 20, .name = "Terminal"});
    desktop->openWindow({.id = 2, .pid = 20});
    desktop->focus(2);
    const DesktopEnvironment real(loop);
    EXPECT_EQ(real.frontmostProcess(), 20);
    EXPECT_EQ(real.keyRepeat(), (SwitcherEnvironment::KeyRepeat{400ms, 50ms}));
}

TEST_F(SwitcherHotKeysTest, TheDesktopEnvironmentReportsTheApplicationInFrontAtOnceThenEachActivation)
{
    desktop->launch({.pid = 20, .name = "Terminal"});
    desktop->openWindow({.id = 2, .pid = 20});
    desktop->focus(2);
    desktop->launch({.pid = 30, .name = "Remmina", .bundleID = "org.remmina.Remmina"});
    desktop->openWindow({.id = 3, .pid = 30});
    DesktopEnvironment real(loop);
    Calls fronts;
    auto observation = real.observeFrontmost([&](const auto& bundleID, const auto& name) {
        fronts.push_back(bundleID.value_or("-") + " " + name.value_or("-"));
    });
    desktop->focus(3);
    loop.runPending();
    EXPECT_EQ(fronts, (Calls{"- Terminal", "org.remmina.Remmina Remmina"}));
}

TEST_F(SwitcherHotKeysTest, TheDesktopEnvironmentMinimizesAndClosesWindowsThroughAccessibility)
{
    desktop->launch({.pid = 20, .name = "Terminal"});
    desktop->openWindow({.id = 2, .pid = 20});
    DesktopEnvironment real(loop);
    EXPECT_TRUE(real.minimizeWindow(window(2, 20, "Terminal")));
    EXPECT_TRUE(desktop->window(2)->minimized);
    EXPECT_TRUE(real.closeWindow(window(2, 20, "Terminal")));
    EXPECT_FALSE(desktop->window(2));
}

TEST_F(SwitcherHotKeysTest, ItemActionsKeepTheSessionAndWindowActionsWaitForTheWorkQueue)
{
    tab();
    const WindowInfo mail = window(3, 30, "Mail");
    for (auto action : {ItemAction::close, ItemAction::minimize, ItemAction::quit, ItemAction::hide})
        panel.onAction(mail, action);
    EXPECT_EQ(environment.actions, (Calls{"quit 30", "hide 30"}));
    loop.runPending();
    EXPECT_EQ(environment.actions, (Calls{"quit 30", "hide 30", "close 3", "minimize 3"}));
    EXPECT_TRUE(controller->session());
}

} // namespace
} // namespace vantrel
