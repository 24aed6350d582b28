// Both controllers on a private Xvfb + openbox: real chords through XTEST, the real bridge, recording panels.
#include "Vantrel/DesktopEnvironment.h"
#include "Vantrel/SearchController.h"
#include "Vantrel/SwitcherController.h"

#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Input.h"
#include "Support/FakePanels.h"
#include "Support/FakeWindowTracking.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <filesystem>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using test::pumpUntil;

class ControllersX11Test : public test::X11KeyboardTest {
protected:
    void SetUp() override
    {
        X11KeyboardTest::SetUp();
        if (!ready())
            return;
        bridge.emplace(makeX11Backends(connection, loop));
        client = test::TestClient::start(session->display());
        ASSERT_TRUE(client);
        store.start();
        settingsStore.update([](Settings& s) { s.showDelayMilliseconds = 0; });
        switcher = std::make_unique<SwitcherController>(loop, store, panel, settingsStore, environment,
                                                        std::make_unique<test::FakeMirrorPanels>());
    }
    void TearDown() override
    {
        search.reset();
        switcher.reset();
        std::filesystem::remove_all(shortcutsFolder);
    }

    /// Opens a window of the test client and tells the store, most recent first.
    WindowInfo open(const std::string& tag)
    {
        auto id = client->open(tag, "title=" + tag);
        EXPECT_TRUE(id);
        WindowInfo window;
        window.id = id.value_or(0);
        window.pid = client->pid();
        window.appName = "x11_test_client";
        window.title = tag;
        windows.insert(windows.begin(), window);
        tracking->publish({windows, {}, {}, {}});
        tracking->focus(window.id);
        return window;
    }
    xcb_window_t active() { return readRootState(*connection).value_or(X11RootState{}).activeWindow; }
    void startSearch()
    {
        search = std::make_unique<SearchController>(loop, store, searchPanel, settingsStore, shortcutsFolder / "shortcuts.json");
        search->focus = [this](const WindowInfo& window) { switcher->focus(window); };
        search->start();
    }

    std::unique_ptr<test::TestClient> client;
    std::vector<WindowInfo> windows;
    std::shared_ptr<test::FakeTrackingLog> tracking = std::make_shared<test::FakeTrackingLog>();
    WindowStore store{std::make_unique<test::FakeWindowTracking>(tracking)};
    SettingsStore settingsStore{std::make_shared<MemoryUserDefaults>()};
    test::FakeSwitcherPanel panel;
    test::FakeSearchPanel searchPanel;
    DesktopEnvironment environment{loop};
    std::unique_ptr<SwitcherController> switcher;
    std::unique_ptr<SearchController> search;
    const std::filesystem::path shortcutsFolder =
        std::filesystem::temp_directory_path() / ("vantrel-controllers-x11-" + std::to_string(::getpid()));
    std::optional<test::InstalledBridge> bridge;
};

TEST_F(ControllersX11Test, SuperTabOpensASessionAndLettingGoActivatesTheChosenWindowWhileOpenboxKeepsAltTab)
{
    const WindowInfo first = open("first");
    open("second");
    settingsStore.update([](Settings& s) {
        s.switchers.push_back({"alt-tab", "Alt+Tab", KeyChord{KeyChord::tab, KeyChord::option}, std::nullopt,
                               SwitcherScope::allApps, true});
    });
    LogCapture capture;
    switcher->start();
    EXPECT_TRUE(capture.contains("could not register activate chord for Alt+Tab", "switcher"));
    EXPECT_TRUE(capture.contains("settings applied: " + std::to_string(switcher->hotKeyCount()) +
                                 " hotkeys, replacesCommandTab=true", "switcher"));

    ASSERT_TRUE(type({"keydown", "super", "key", "Tab", "key", "Tab", "key", "Tab"}));
    ASSERT_TRUE(pumpUntil(loop, [&] { return panel.count("select") == 2; }));
    EXPECT_EQ(panel.calls.front(), "show " + std::to_string(windows[0].id) + "," + std::to_string(first.id) + " @1 key");
    ASSERT_TRUE(type({"keyup", "super"}));
    EXPECT_TRUE(pumpUntil(loop, [&] { return active() == first.id; })) << "three presses over two windows: the second";
    EXPECT_FALSE(switcher->session());
}

TEST_F(ControllersX11Test, AFrontmostProgramOnThePauseListGetsSuperTab)
{
    settingsStore.update([](Settings& s) { s.rules.pauseApps = {"X11KeyClient"}; });
    switcher->start();
    auto keyClient = test::spawnOn(session->display(), {VANTREL_X11_KEY_CLIENT});
    ASSERT_TRUE(keyClient && keyClient->readLine(10s) == "ready");
    ASSERT_TRUE(pumpUntil(loop, [&] { return switcher->isPausedForFrontmostApp(); }));
    EXPECT_EQ(switcher->hotKeyCount(), 0u);
    ASSERT_TRUE(type({"key", "super+Tab"}));
    std::string line;
    while (line != "key 23" && (line = keyClient->readLine(5s).value_or("")) != "") {
    }
    EXPECT_EQ(line, "key 23") << "Tab reached the paused program";
    EXPECT_EQ(panel.count("show"), 0u);
}

TEST_F(ControllersX11Test, CloseAsksARealWindowToCloseAndALearnedShortcutOutlivesTheSearchController)
{
    const WindowInfo doomed = open("doomed");
    switcher->start();
    switcher->perform(ItemAction::close, doomed);
    EXPECT_TRUE(client->waitFor("closed doomed"));

    const WindowInfo apple = open("apple");
    const WindowInfo grape = open("grape");
    startSearch();
    ASSERT_TRUE(type({"key", "ctrl+space"}));
    ASSERT_TRUE(pumpUntil(loop, [&] { return searchPanel.isVisible(); }));
    searchPanel.type("ape");
    ASSERT_EQ(test::idList(searchPanel.state.items), std::to_string(grape.id) + "," + std::to_string(apple.id));
    searchPanel.state.select(1);
    searchPanel.pressReturn();
    EXPECT_TRUE(pumpUntil(loop, [&] { return active() == apple.id; }));

    startSearch();
    EXPECT_EQ(search->rank(search->candidates(), "ape").front().id, apple.id);
}

} // namespace
} // namespace vantrel
