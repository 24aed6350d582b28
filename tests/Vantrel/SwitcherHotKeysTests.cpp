// The switcher's hot keys, pause list, focusing and item actions, on a simulated keyboard and desktop.
#include "Vantrel/SwitcherController.h"

#include "InputEngine/SimulatedInput.h"
#include "Runtime/Log.h"
#include "Runtime/SerialQueue.h"
#include "Support/FakePanels.h"
#include "Support/FakeWindowTracking.h"
#include "Support/SimBridge.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace vantrel {
namespace {

using Calls = std::vector<std::string>;

constexpr std::uint16_t tabKey = 48, commandKey = 55, graveKey = 50;
constexpr std::uint64_t command = KeyChord::command, shift = KeyChord::shift;

WindowInfo window(WindowID id, ProcessID pid, std::string app)
{
    WindowInfo info;
    info.id = id;
    info.pid = pid;
    info.bundleID = "org.example." + app;
    info.appName = app;
    info.title = app + " window";
    return info;
}

class SwitcherHotKeysTest : public testing::SimBridgeTest {
protected:
    void SetUp() override
    {
        SimBridgeTest::SetUp();
        setCurrentInputBackend(input);
        auto ownedMirrors = std::make_unique<testing::FakeMirrorPanels>();
        mirrors = ownedMirrors.get();
        controller = std::make_unique<SwitcherController>(loop, store, panel, settingsStore, environment, std::move(ownedMirrors),
                                                          std::make_shared<ManualSerialQueue>(loop));
        store.onChange = [this] { controller->storeChanged(); };
        store.start();
        tracking->publish({{window(1, 10, "Safari"), window(2, 20, "Terminal"), window(3, 30, "Mail")}, {}, {}, {}});
        for (WindowID id : {3, 2, 1})
            tracking->focus(id);
        settingsStore.update([](Settings& s) { s.showDelayMilliseconds = 0; });
    }
    void TearDown() override
    {
        controller.reset();
        setCurrentInputBackend(nullptr);
        SimBridgeTest::TearDown();
    }

    std::size_t grabs() const { return input->grabs.size(); }
    bool systemCommandTabOn() const { return desktop->hotKeyEnabled(SymbolicHotKey::nextApplication); }
    void press(std::uint16_t key, std::uint64_t flags)
    {
        input->keyDown(key, flags);
        input->keyUp(key, flags);
    }

    std::shared_ptr<SimulatedInput> input = std::make_shared<SimulatedInput>();
    std::shared_ptr<testing::FakeTrackingLog> tracking = std::make_shared<testing::FakeTrackingLog>();
    WindowStore store{std::make_unique<testing::FakeWindowTracking>(tracking)};
    SettingsStore settingsStore{std::make_shared<MemoryUserDefaults>()};
    testing::FakeSwitcherPanel panel;
    testing::FakeSwitcherEnvironment environment;
    testing::FakeMirrorPanels* mirrors = nullptr;
    std::unique_ptr<SwitcherController> controller;
};

// --- Registration ---

TEST_F(SwitcherHotKeysTest, EveryEnabledChordRegistersAndARefusedActivateChordStillLeavesItsMoveUp)
{
    LogCapture capture;
    controller->start();
    EXPECT_EQ(grabs(), 6u);
    EXPECT_FALSE(systemCommandTabOn());

    // Super+Tab held by another program: its move-up chord and the others
    // still register, and the count is what really holds a grab.
    input->refuseChord(tabKey, command);
    input->refuseChord(graveKey, command | shift); // a refused move-up: silent
    controller->applySettings();
    EXPECT_EQ(grabs(), 4u);
    EXPECT_EQ(controller->hotKeyCount(), grabs());
    EXPECT_EQ(capture.messages("switcher"),
              (Calls{"settings applied: 6 hotkeys, replacesCommandTab=true",
                     "could not register activate chord for ⌘Tab — all windows",
                     "settings applied: 4 hotkeys, replacesCommandTab=true"}));

    // Super+Tab's move-up works as a switcher chord on its own.
    press(tabKey, command | shift);
    loop.runPending();
    ASSERT_TRUE(controller->session());
    EXPECT_EQ(controller->session()->selection, 2);

    // No switcher on Super+Tab any more: the system's own comes back.
    settingsStore.update([](Settings& s) {
        s.switchers.erase(s.switchers.begin());
        s.switchers[0].isEnabled = false;
    });
    controller->applySettings();
    EXPECT_EQ(grabs(), 2u);
    EXPECT_TRUE(systemCommandTabOn());
}

TEST_F(SwitcherHotKeysTest, TheSystemCommandTabRefusedOrAbsentLeavesTheChordsRegistered)
{
    LogCapture capture;
    desktop->failNext("CGSSetSymbolicHotKeyEnabled", {1000});
    controller->start();
    EXPECT_TRUE(capture.contains("could not disable system ⌘Tab", "switcher"));
    EXPECT_EQ(grabs(), 6u);

    // A desktop without a system switcher shortcut says so once, without an error.
    SystemBridge::reset();
    capture.clear();
    controller->applySettings();
    controller->applySettings();
    EXPECT_EQ(grabs(), 6u);
    EXPECT_EQ(capture.messages("switcher"),
              (Calls{"no system ⌘Tab to disable on this desktop", "settings applied: 6 hotkeys, replacesCommandTab=true",
                     "settings applied: 6 hotkeys, replacesCommandTab=true"}));
}

// --- Presses ---

TEST_F(SwitcherHotKeysTest, PressesRunAsMainLoopJobsAndReleasingTheModifierFocuses)
{
    controller->start();
    environment.repeat = {300ms, 50ms};
    input->keyDown(tabKey, command);
    EXPECT_FALSE(controller->session()) << "never inline";
    loop.runPending();
    EXPECT_EQ(controller->session()->selection, 1);
    loop.advance(300ms);
    EXPECT_EQ(controller->session()->selection, 2) << "held: key repeat";
    input->keyUp(tabKey, command);
    loop.advance(1s);
    EXPECT_EQ(controller->session()->selection, 2) << "released: no more repeat";

    // Press and release before the press's job runs: the job must not arm repeat.
    press(tabKey, command);
    loop.runPending();
    EXPECT_FALSE(controller->isRepeating());
    EXPECT_EQ(controller->session()->selection, 0);

    input->flagsChanged(commandKey, 0);
    loop.runPending();
    ASSERT_EQ(environment.focused.size(), 1u);
    EXPECT_EQ(environment.focused[0].id, 1u);
    EXPECT_FALSE(controller->session());
}

TEST_F(SwitcherHotKeysTest, WithoutAModifierFeedTheChordsStillWorkAndTheFailureIsLogged)
{
    input->modifierFeedAvailable = false;
    LogCapture capture;
    controller->start();
    EXPECT_TRUE(capture.contains("could not install flagsChanged tap; release-to-select disabled", "switcher"));
    press(tabKey, command);
    loop.runPending();
    EXPECT_TRUE(controller->session());
}

// --- Pausing ---

TEST_F(SwitcherHotKeysTest, APausedFrontmostApplicationGetsTheChordsUntilAnotherComesToTheFront)
{
    settingsStore.update([](Settings& s) { s.rules.pauseApps = {"org.remmina.Remmina"}; });
    controller->start();
    press(tabKey, command);
    loop.runPending();
    ASSERT_TRUE(controller->session());
    LogCapture capture;

    environment.bringToFront("org.remmina.Remmina", "Remmina");
    EXPECT_FALSE(controller->session());
    EXPECT_EQ(panel.calls.back(), "hide");
    EXPECT_EQ(grabs(), 0u);
    EXPECT_TRUE(systemCommandTabOn());
    input->delivered.clear();
    press(tabKey, command);
    EXPECT_EQ(input->delivered.size(), 2u) << "the chord reaches the paused program";

    settingsStore.update([](Settings& s) { s.showDelayMilliseconds = 10; });
    controller->applySettings();
    EXPECT_EQ(grabs(), 0u) << "a settings change while paused registers nothing";

    environment.bringToFront("org.remmina.Remmina", std::nullopt); // still paused: no log
    environment.bringToFront(std::nullopt, std::nullopt);
    EXPECT_EQ(grabs(), 6u);
    EXPECT_FALSE(systemCommandTabOn());
    EXPECT_EQ(capture.messages("switcher"),
              (Calls{"pausing shortcuts for frontmost Remmina", "resuming shortcuts for frontmost ?",
                     "settings applied: 6 hotkeys, replacesCommandTab=true"}));
}

TEST_F(SwitcherHotKeysTest, RecordingAChordPausesTheHotKeysUntilItEnds)
{
    controller->start();
    // As the application wires it.
    settingsStore.onRecordingChange = [this](bool recording) {
        recording ? controller->pauseHotKeys() : controller->applySettings();
    };
    settingsStore.setRecordingChord(true);
    EXPECT_EQ(grabs(), 0u);
    controller->applySettings();
    EXPECT_EQ(grabs(), 0u);
    settingsStore.setRecordingChord(false);
    EXPECT_EQ(grabs(), 6u);
}

// --- Focusing ---

TEST_F(SwitcherHotKeysTest, FocusRunsOnTheWorkQueueAndAFailureKeepsTheWindowFirstAndLogsTheSteps)
{
    controller->start();
    Signposts::reset();
    environment.focusTrace.steps = {{"psn", true, "", {}}, {"setFrontProcessWithOptions", false, "", {}}};
    LogCapture capture;
    controller->focus(window(3, 30, "Mail"));
    EXPECT_EQ(store.ordered().front().id, 3u) << "most recent before the attempt";
    EXPECT_TRUE(environment.focused.empty());
    EXPECT_TRUE(Signposts::durations("focus").empty()) << "the interval spans the background work";
    loop.runPending();
    EXPECT_EQ(environment.focused.size(), 1u);
    EXPECT_EQ(Signposts::durations("focus").size(), 1u);
    EXPECT_EQ(store.ordered().front().id, 3u);
    EXPECT_TRUE(capture.contains("focus failed for Mail: psn=true setFrontProcessWithOptions=false", "switcher"));

    // A window that closed after it was listed is not focused.
    tracking->publish({{window(1, 10, "Safari"), window(2, 20, "Terminal")}, {}, {}, {}});
    controller->focus(window(3, 30, "Mail"));
    loop.runPending();
    EXPECT_EQ(environment.focused.size(), 1u);
    EXPECT_NE(store.ordered().front().id, 3u);
}

// --- Item actions ---

TEST_F(SwitcherHotKeysTest, ItemActionsKeepTheSessionAndDoNothingForAnApplicationThatIsGone)
{
    controller->start();
    press(tabKey, command);
    loop.runPending();
    const WindowInfo mail = window(3, 30, "Mail");
    LogCapture capture;
    for (auto action : {ItemAction::close, ItemAction::minimize, ItemAction::quit, ItemAction::hide})
        panel.onAction(mail, action);
    EXPECT_EQ(environment.actions, (Calls{"quit 30", "hide 30"})) << "window actions wait for the work queue";
    loop.runPending();
    EXPECT_EQ(environment.actions, (Calls{"quit 30", "hide 30", "close 3", "minimize 3"}));
    EXPECT_EQ(capture.messages("switcher"),
              (Calls{"action close on Mail", "action minimize on Mail", "action quit on Mail", "action hide on Mail"}));
    EXPECT_TRUE(controller->session());

    // Mail quits with its close still queued, then is asked to quit again.
    environment.actions.clear();
    controller->perform(ItemAction::close, mail);
    environment.quitApps.insert(30);
    controller->perform(ItemAction::quit, mail);
    controller->perform(ItemAction::hide, mail);
    loop.runPending();
    EXPECT_TRUE(environment.actions.empty());
}

// --- Lifetime ---

TEST_F(SwitcherHotKeysTest, StopAndDestructionGiveEveryGrabBack)
{
    controller->start();
    controller->stop();
    EXPECT_EQ(grabs(), 0u);
    EXPECT_TRUE(systemCommandTabOn());
    controller->applySettings();
    input->keyDown(tabKey, command); // a press whose job outlives the controller
    controller.reset();
    EXPECT_EQ(grabs(), 0u);
    loop.runPending();
    environment.bringToFront("x", "y");
    EXPECT_TRUE(panel.calls.empty());
}

} // namespace
} // namespace vantrel
