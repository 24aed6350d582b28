// The switcher's hot keys, pause list, focusing and item actions, on a simulated keyboard and desktop.
#include "Vantrel/SwitcherController.h"

#include "InputEngine/SimulatedInput.h"
#include "Support/FakePanels.h"
#include "Support/FakeWindowTracking.h"
#include "Support/SimBridge.h"

#include <algorithm>

using namespace std::chrono_literals;

namespace vantrel {
namespace {

using Calls = std::vector<std::string>;
constexpr std::uint16_t tabKey = 48, commandKey = 55, graveKey = 50;
constexpr std::uint64_t command = KeyChord::command, shift = KeyChord::shift;
const std::string applied6 = "settings applied: 6 hotkeys, replacesCommandTab=true";

WindowInfo window(WindowID id, ProcessID pid, std::string app)
{
    WindowInfo info;
    info.id = id;
    info.pid = pid;
    info.appName = std::move(app);
    return info;
}

class SwitcherHotKeysTest : public testing::SimBridgeTest {
protected:
    void SetUp() override
    {
        SimBridgeTest::SetUp();
        setCurrentInputBackend(input);
        controller = std::make_unique<SwitcherController>(loop, store, panel, settingsStore, environment,
                                                          std::make_unique<testing::FakeMirrorPanels>(),
                                                          std::make_shared<ManualSerialQueue>(loop));
        store.start();
        tracking->publish({{window(1, 10, "Safari"), window(2, 20, "Terminal"), window(3, 30, "Mail")}, {}, {}, {}});
        settingsStore.update([](Settings& s) { s.showDelayMilliseconds = 0; });
        controller->start();
    }
    void TearDown() override
    {
        controller.reset();
        setCurrentInputBackend(nullptr);
        SimBridgeTest::TearDown();
    }
    std::size_t grabs() const { return input->grabs.size(); }
    bool systemCommandTabOn() const { return desktop->hotKeyEnabled(SymbolicHotKey::nextWindow); }
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
    std::unique_ptr<SwitcherController> controller;
};

TEST_F(SwitcherHotKeysTest, CountsOnlyGrabsThatHoldAndARefusedActivateChordKeepsItsMoveUp)
{
    EXPECT_EQ(grabs(), 6u);
    EXPECT_FALSE(systemCommandTabOn());
    LogCapture capture;
    input->refuseChord(tabKey, command);
    input->refuseChord(graveKey, command | shift); // a refused move-up is skipped silently
    desktop->failNext("CGSSetSymbolicHotKeyEnabled", {1000});
    controller->applySettings();
    EXPECT_EQ(grabs(), 4u);
    EXPECT_EQ(capture.messages("switcher"),
              (Calls{"could not disable system ⌘Tab", "could not register activate chord for ⌘Tab — all windows",
                     "settings applied: 4 hotkeys, replacesCommandTab=true"}));
    press(tabKey, command | shift);
    loop.runPending();
    EXPECT_EQ(controller->session()->selection, 2) << "the move-up chord opens the session on its own";

    // A desktop without a system switcher (X11) says so once, without an error.
    SystemBridge::reset();
    capture.clear();
    controller->applySettings();
    controller->applySettings();
    const Calls messages = capture.messages("switcher");
    EXPECT_EQ(messages.front(), "no system ⌘Tab to disable on this desktop");
    EXPECT_EQ(std::ranges::count(messages, messages.front()), 1);
    EXPECT_EQ(std::ranges::count(messages, "could not disable system ⌘Tab"), 0);

    reinstall(); // no switcher left on Super+Tab: the system's comes back
    settingsStore.update([](Settings& s) { s.switchers = {SwitcherConfig::controlOptionTab()}; });
    controller->applySettings();
    EXPECT_EQ(grabs(), 2u);
    EXPECT_TRUE(systemCommandTabOn());
}

TEST_F(SwitcherHotKeysTest, PressesRunAsMainLoopJobsAndAReleaseBeforeTheJobArmsNoRepeat)
{
    environment.repeat = {300ms, 50ms};
    input->keyDown(tabKey, command);
    EXPECT_FALSE(controller->session()) << "never inline";
    loop.advance(300ms);
    EXPECT_EQ(controller->session()->selection, 2) << "held: repeats";
    input->keyUp(tabKey, command);
    press(tabKey, command); // released before its job runs
    loop.advance(1s);
    EXPECT_EQ(controller->session()->selection, 0);
    input->flagsChanged(commandKey, 0);
    loop.runPending();
    ASSERT_EQ(environment.focused.size(), 1u);
    EXPECT_EQ(environment.focused[0].id, 1u);

    press(tabKey, command); // its job outlives the controller, as do the grabs' owners
    controller.reset();
    EXPECT_EQ(grabs(), 0u);
    loop.runPending();
    environment.bringToFront("x", "y");
    EXPECT_EQ(panel.count("show"), 1u);
}

TEST_F(SwitcherHotKeysTest, APausedFrontmostApplicationOrARecordingGetsTheChordsUntilItEnds)
{
    settingsStore.update([](Settings& s) { s.rules.pauseApps = {"org.remmina.Remmina"}; });
    press(tabKey, command);
    loop.runPending();
    LogCapture capture;
    environment.bringToFront("org.remmina.Remmina", "Remmina");
    EXPECT_FALSE(controller->session());
    EXPECT_EQ(panel.calls.back(), "hide");
    EXPECT_EQ(grabs(), 0u);
    EXPECT_TRUE(systemCommandTabOn());
    press(tabKey, command);
    EXPECT_EQ(input->delivered.size(), 2u) << "the chord reaches the paused program";
    controller->applySettings(); // a settings change while paused
    environment.bringToFront("org.remmina.Remmina", std::nullopt);
    EXPECT_EQ(grabs(), 0u);
    environment.bringToFront(std::nullopt, std::nullopt);
    EXPECT_EQ(grabs(), 6u);
    EXPECT_EQ(capture.messages("switcher"),
              (Calls{"pausing shortcuts for frontmost Remmina", "resuming shortcuts for frontmost ?", applied6}));

    // Recording a chord, wired as the application wires it.
    settingsStore.onRecordingChange = [this](bool on) { on ? controller->pauseHotKeys() : controller->applySettings(); };
    settingsStore.setRecordingChord(true);
    controller->applySettings();
    EXPECT_EQ(grabs(), 0u);
    settingsStore.setRecordingChord(false);
    EXPECT_EQ(grabs(), 6u);
    controller->stop();
    EXPECT_EQ(grabs(), 0u);
    EXPECT_TRUE(systemCommandTabOn());
}

TEST_F(SwitcherHotKeysTest, FocusRunsOnTheWorkQueueAndAFailureKeepsTheWindowFirstWithItsStepsLogged)
{
    Signposts::reset();
    environment.focusTrace.steps = {{"psn", true, "", {}}, {"setFrontProcessWithOptions", false, "", {}}};
    LogCapture capture;
    controller->focus(window(3, 30, "Mail"));
    EXPECT_EQ(store.ordered().front().id, 3u) << "most recent before the attempt";
    EXPECT_TRUE(environment.focused.empty());
    EXPECT_TRUE(Signposts::durations("focus").empty());
    loop.runPending();
    EXPECT_EQ(Signposts::durations("focus").size(), 1u) << "the interval spans the background work";
    EXPECT_EQ(store.ordered().front().id, 3u);
    EXPECT_TRUE(capture.contains("focus failed for Mail: psn=true setFrontProcessWithOptions=false", "switcher"));

    tracking->publish({{window(1, 10, "Safari")}, {}, {}, {}}); // Mail closed after it was listed
    controller->focus(window(3, 30, "Mail"));
    loop.runPending();
    EXPECT_EQ(environment.focused.size(), 1u);
    EXPECT_EQ(store.ordered().front().id, 1u);
}

TEST_F(SwitcherHotKeysTest, ItemActionsKeepTheSessionAndDoNothingForAnApplicationThatIsGone)
{
    press(tabKey, command);
    loop.runPending();
    const WindowInfo mail = window(3, 30, "Mail");
    for (auto action : {ItemAction::close, ItemAction::minimize, ItemAction::quit, ItemAction::hide})
        panel.onAction(mail, action);
    EXPECT_EQ(environment.actions, (Calls{"quit 30", "hide 30"})) << "window actions wait for the work queue";
    loop.runPending();
    EXPECT_EQ(environment.actions, (Calls{"quit 30", "hide 30", "close 3", "minimize 3"}));
    EXPECT_TRUE(controller->session());

    environment.actions.clear();
    controller->perform(ItemAction::close, mail);
    environment.quitApps.insert(30); // Mail quits with its close queued
    controller->perform(ItemAction::quit, mail);
    controller->perform(ItemAction::hide, mail);
    loop.runPending();
    EXPECT_TRUE(environment.actions.empty());
}

} // namespace
} // namespace vantrel
