// The installed vantrel with a fresh profile, driven through XTEST (xdotool) as
// a user would: on the shared Xvfb + openbox, and on servers of its own that
// lose their window manager or die. Every check reads the X server (the active
// window, a window's name, whether a window is on screen) or the program's exit.
#include "Support/ScratchFiles.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace vantrel {
namespace {

using test::ChildProcess;
using test::TestClient;
using test::says;
using WindowId = std::uint32_t;

/// Polls `done` until it holds or `timeout` passes (a whole program on the server takes its time).
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 15s)
{
    return test::eventually(done, timeout);
}

/// vantrel on `display` with a fresh profile, and the X tools that look at it.
class VantrelProgram : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (vantrel) {
            // SIGTERM is an orderly quit.
            const int status = vantrel->terminate();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
            if (HasFailure())
                ADD_FAILURE() << "vantrel's log:\n" << test::finish(*vantrel, 1s).text;
        }
    }

    /// Runs a program on the display, with `environment` added, to its end.
    test::CommandOutput run(std::vector<std::string> argv, std::vector<std::pair<std::string, std::string>> environment = {})
    {
        auto child = test::startOn(display, std::move(argv), test::Reading::output, std::move(environment));
        return child ? test::finish(*child, 10s) : test::CommandOutput{};
    }
    /// Runs another vantrel with `arguments` on the profile; its exit code.
    int runVantrel(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), VANTREL_INSTALLED_BIN "/vantrel");
        return run(std::move(arguments), vantrelEnvironment()).status;
    }
    /// The windows `xdotool search` finds with these arguments.
    std::vector<WindowId> windows(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {"xdotool", "search"});
        std::vector<WindowId> ids;
        std::istringstream out(run(std::move(arguments)).text);
        for (WindowId id; out >> id;)
            ids.push_back(id);
        return ids;
    }
    /// Whether a window with this title is mapped on screen (parked panels
    /// are unmapped).
    bool shown(const std::string& title) { return !windows({"--onlyvisible", "--name", "^" + title + "$"}).empty(); }

    /// vantrel's environment (beside the display): the fresh profile.
    std::vector<std::pair<std::string, std::string>> vantrelEnvironment() const
    {
        return {{"HOME", profile.path.string()},
                {"XDG_CONFIG_HOME", (profile.path / "config").string()},
                {"XDG_DATA_HOME", (profile.path / "data").string()},
                {"XDG_RUNTIME_DIR", profile.path.string()},
                {"VANTREL_LOG", std::getenv("VANTREL_LOG") ? std::getenv("VANTREL_LOG") : "info"}};
    }

    /// Starts the installed vantrel, its errors in its output, returning once
    /// its chords are registered unless told not to wait.
    void startVantrel(bool wait = true)
    {
        vantrel = test::startOn(display, {VANTREL_INSTALLED_BIN "/vantrel"}, test::Reading::outputAndErrors, vantrelEnvironment());
        ASSERT_NE(vantrel, nullptr);
        // Only the start waits on the log: nothing on the server tells that
        // the hot keys are registered.
        ASSERT_TRUE(!wait || says(*vantrel, "settings applied", 20s)) << "vantrel did not register its chords";
    }

    std::string display;
    test::ScratchFolder profile;
    std::unique_ptr<ChildProcess> vantrel;
};

/// vantrel on the shared desktop, with a client that opens windows.
class EndToEnd : public VantrelProgram {
protected:
    void SetUp() override
    {
        VANTREL_REQUIRE_X11_SESSION(x11);
        display = x11->display();
        client = TestClient::start(display);
        ASSERT_NE(client, nullptr);
    }

    void xdotool(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "xdotool");
        ASSERT_EQ(run(arguments).status, 0) << "xdotool " << arguments.at(1) << " failed";
    }

    bool becomesActive(WindowId window)
    {
        return eventually([&] { return run({"xdotool", "getactivewindow"}).text == std::to_string(window) + "\n"; });
    }

    WindowId open(const std::string& tag, const std::string& options)
    {
        auto id = client->open(tag, options);
        EXPECT_TRUE(id) << "window " << tag << " did not open";
        return id.value_or(0);
    }

    /// Activates the windows in this order, so the last is the most recent.
    void useInOrder(const std::vector<WindowId>& windows)
    {
        for (WindowId window : windows) {
            xdotool({"windowactivate", "--sync", std::to_string(window)});
            ASSERT_TRUE(becomesActive(window));
        }
    }

    /// Super held, Tab pressed `tabs` times; returns with the panel on screen.
    void holdSwitcher(int tabs = 1)
    {
        // A panel still up from the last hold would pass for the new one, and
        // keys sent then would reach the server before the new panel's grab.
        ASSERT_TRUE(eventually([&] { return !shown("Vantrel Switcher"); })) << "the last panel did not go";
        xdotool({"keydown", "super"});
        for (int i = 0; i < tabs; ++i)
            xdotool({"key", "Tab"});
        ASSERT_TRUE(eventually([&] { return shown("Vantrel Switcher"); })) << "the switcher panel did not show";
    }
    /// Ctrl+Space; returns with the search panel on screen. The search
    /// registers its chord a moment after the switcher's, which the start
    /// waits for: the first press is tried again.
    void openSearch()
    {
        for (int attempt = 0; attempt < 5 && !shown("Vantrel Search"); ++attempt) {
            xdotool({"key", "ctrl+space"});
            eventually([&] { return shown("Vantrel Search"); }, 1s);
        }
        ASSERT_TRUE(shown("Vantrel Search")) << "the search panel did not show";
    }
    void type(const std::string& text) { xdotool({"type", "--delay", "30", text}); }
    void releaseSuper() { xdotool({"keyup", "super"}); }

    std::unique_ptr<TestClient> client;
};

// Typed with Super held, w, q, m and h are the panel's actions: the queries
// below avoid them.

TEST_F(EndToEnd, superTabWalksTheWindowsMostRecentFirst)
{
    const WindowId atlas = open("atlas", "title=Atlas"), borneo = open("borneo", "title=Borneo");
    const WindowId crete = open("crete", "title=Crete"), delos = open("delos", "title=Delos");
    useInOrder({atlas, borneo, crete, delos});
    // Mapped last, on top of the stack but never focused; Delos keeps the focus.
    const WindowId elsewhere = open("elsewhere", "desktop=1 title=Elsewhere");
    startVantrel();

    xdotool({"key", "super+Tab"});
    ASSERT_TRUE(becomesActive(elsewhere)) << "a quick Super+Tab leaves the focused window";
    xdotool({"key", "super+Tab"});
    ASSERT_TRUE(becomesActive(delos)) << "and a second one comes back";

    holdSwitcher(4); // delos, elsewhere, crete, borneo, atlas
    xdotool({"key", "shift+Tab"});
    releaseSuper();
    ASSERT_TRUE(becomesActive(borneo)) << "Shift+Tab moves the selection up";
}

TEST_F(EndToEnd, keysTypedWithSuperHeldReachThePanel)
{
    const WindowId report = open("report", "title=report.pdf"), draft = open("draft", "title=Draft: letter");
    const WindowId terminal = open("terminal", "title=Terminal");
    useInOrder({report, draft, terminal});
    startVantrel();

    holdSwitcher(); // on the draft
    type("repo");
    releaseSuper();
    EXPECT_TRUE(becomesActive(report)) << "the filtered list's first window is chosen";
}

TEST_F(EndToEnd, fastSearchOnTheRightSuperKeySwitchesToTheTypedWindow)
{
    const WindowId editor = open("editor", "title=notes.txt - Editor"), terminal = open("terminal", "title=Terminal");
    useInOrder({editor, terminal});
    // The defaults file the settings store reads; what it leaves out keeps its default.
    std::filesystem::create_directories(profile.path / "config" / "vantrel");
    std::ofstream(profile.path / "config" / "vantrel" / "defaults.json") << R"({"settings": "{\"fastSearchModifier\": \"rightCommand\"}"})";
    startVantrel();
    ASSERT_TRUE(says(*vantrel, "fast-search tap installed", 10s)) << "the search starts after the switcher";

    xdotool({"keydown", "Super_R"});
    type("edi");
    xdotool({"keyup", "Super_R"});
    EXPECT_TRUE(becomesActive(editor));
}

TEST_F(EndToEnd, aChordRecordedInTheSettingsWindowSwitchesAtOnce)
{
    const WindowId other = open("other", "title=Other"), front = open("front", "title=Front");
    useInOrder({other, front});
    startVantrel();

    // A second vantrel hands the request to the running one and exits.
    ASSERT_EQ(runVantrel({"--settings"}), 0);
    ASSERT_TRUE(eventually([&] { return run({"xdotool", "getactivewindow", "getwindowname"}).text == "Vantrel Settings\n"; }))
        << "the settings window did not come to the front";

    // The Switchers pane shows first; Alt+D is the first switcher's
    // "Activate / move down", and Space starts recording, which holds the
    // keyboard: also Alt+Tab, which openbox holds, is recorded, before the last.
    xdotool({"key", "alt+d"});
    for (const char* chord : {"super+Tab", "alt+Tab", "ctrl+alt+j"}) {
        xdotool({"key", "space"});
        ASSERT_TRUE(eventually([&] { return client->command("keyboard-held"); })) << "recording did not start: " << chord;
        std::this_thread::sleep_for(300ms); // the grab takes the focus from the window, which must not end it
        ASSERT_TRUE(client->command("keyboard-held")) << "recording ended before " << chord;
        xdotool({"key", chord});
        ASSERT_TRUE(eventually([&] { return !client->command("keyboard-held"); })) << chord << " was not taken";
    }
    xdotool({"key", "alt+F4"}); // openbox's close
    ASSERT_TRUE(eventually([&] { return !shown("Vantrel Settings"); }));
    useInOrder({front});

    xdotool({"key", "ctrl+alt+j"});
    EXPECT_TRUE(becomesActive(other)) << "the recorded chord switches to the previous window";
}

TEST_F(EndToEnd, aSearchResultPickedOverTheTopOneIsRankedFirstAfterARestart)
{
    const WindowId notes = open("notes", "title=tod");
    const WindowId list = open("list", "title=the other day");
    useInOrder({list, notes});
    startVantrel();
    openSearch();
    type("tod");
    xdotool({"key", "Down"});
    xdotool({"key", "Return"});
    ASSERT_TRUE(becomesActive(list)) << "the second result was not picked";
    useInOrder({notes});

    ASSERT_TRUE(WIFEXITED(vantrel->terminate()));
    startVantrel();
    openSearch();
    type("tod");
    xdotool({"key", "Return"});
    EXPECT_TRUE(becomesActive(list)) << "the window picked for the query before the restart ranks first";
}

// ---- The program: one instance per display, its tray icon, every way of ending ----

TEST_F(EndToEnd, laterStartsHandTheirRequestToTheRunningOne)
{
    EXPECT_EQ(runVantrel({"--quit"}), 1) << "nothing to quit yet";
    startVantrel();
    EXPECT_EQ(runVantrel({"--settings"}), 0);
    const auto settingsWindows = [&] { return windows({"--onlyvisible", "--name", "^Vantrel Settings$"}).size(); };
    EXPECT_TRUE(eventually([&] { return settingsWindows() == 1; }));
    EXPECT_EQ(runVantrel({}), 0);
    EXPECT_EQ(settingsWindows(), 1u) << "the same window, brought forward";
    EXPECT_EQ(runVantrel({"--quit"}), 0);
    EXPECT_TRUE(vantrel->waitForExit(5s)); // its exit code is checked at the end
    EXPECT_FALSE(std::filesystem::exists(profile.path / ("vantrel-" + display + ".socket")));
}

TEST_F(EndToEnd, aFreshProfileDocksItsIconInATrayThatStartsAfterIt)
{
    // At login the panel holding the tray often starts after vantrel.
    startVantrel();
    auto trayer = test::startOn(display, {"trayer", "--edge", "top", "--align", "right", "--widthtype", "request"}, test::Reading::nothing);
    if (!trayer || !eventually([&] { return !windows({"--class", "trayer"}).empty(); }))
        GTEST_SKIP() << "trayer is not installed or did not start";
    // Docked: a window of vantrel's lives inside trayer's. trayer maps its
    // panel after the first window it creates: look at every one, again.
    EXPECT_TRUE(eventually([&] {
        std::string trays;
        for (WindowId tray : windows({"--class", "trayer"}))
            trays += run({"xwininfo", "-int", "-tree", "-id", std::to_string(tray)}).text;
        return std::ranges::any_of(windows({"--pid", std::to_string(vantrel->pid())}),
                                   [&](WindowId window) { return trays.find(" " + std::to_string(window) + " ") != std::string::npos; });
    }));

    // Docked, and with the settings window open, it still quits when told.
    EXPECT_EQ(runVantrel({"--settings"}), 0);
    EXPECT_EQ(runVantrel({"--quit"}), 0);
    EXPECT_TRUE(vantrel->waitForExit(5s));
}

TEST_F(VantrelProgram, killingTheXServerEndsTheProcessAtOnceWithAnErrorLine)
{
    auto x11 = test::privateSession();
    if (!x11)
        GTEST_SKIP() << "no X session";
    display = x11->display();
    startVantrel();

    x11->killServer();
    const auto killed = std::chrono::steady_clock::now();
    auto status = vantrel->waitForExit(3s);
    ASSERT_TRUE(status) << "still running after the server died";
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 1s);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "wait status " << *status;
    EXPECT_TRUE(says(*vantrel, "lost the connection to the X server", 500ms));
    vantrel.reset();
}

TEST_F(VantrelProgram, waitsForAnEwmhWindowManagerThenStartsSwitching)
{
    // A bare server: no window manager yet.
    bool missing = false;
    auto server = ChildProcess::spawn({.argv = {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset", "-screen", "0", "1024x768x24"},
                                       .environment = {}, .pipeStdout = true}, nullptr, &missing);
    if (!server && missing)
        GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(server);
    auto number = server->readLine(10s);
    ASSERT_TRUE(number && !number->empty());
    display = ":" + *number;

    startVantrel(false);
    EXPECT_TRUE(eventually([&] { return shown("Welcome to Vantrel"); }));
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(vantrel->isRunning());

    auto windowManager = test::startOn(display, {"openbox", "--sm-disable"}, test::Reading::nothing);
    EXPECT_TRUE(says(*vantrel, "settings applied", 5s)) << "switching did not start";
    vantrel.reset();
}

} // namespace
} // namespace vantrel
