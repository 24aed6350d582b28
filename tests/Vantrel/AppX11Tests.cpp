// The vantrel program on a real X server: a fresh start docks in trayer, later starts hand over, and every way of ending is clean.
#include "Platform/X11/X11Connection.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/X11Session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;

namespace vantrel {
namespace {

using test::ChildProcess;

/// The X key code of Tab (evdev).
constexpr int tabKeyCode = 23;

/// The first output line containing `prefix`, waiting at most `timeout`.
std::optional<std::string> lineStarting(ChildProcess& child, std::string_view prefix,
                                               std::chrono::milliseconds timeout = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        auto line = child.readLine(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        if (!line)
            return std::nullopt;
        if (line->find(prefix) != std::string::npos)
            return line;
    }
    return std::nullopt;
}

/// Runs vantrel and X tools with a fresh profile on `display`.
class VantrelProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        profile = std::filesystem::temp_directory_path() / ("vantrel-app-test-" + std::to_string(::getpid()));
        std::filesystem::remove_all(profile);
        std::filesystem::create_directories(profile / "run");
        ::chmod((profile / "run").c_str(), 0700);
    }
    void TearDown() override
    {
        children.clear();
        std::filesystem::remove_all(profile);
    }

    ChildProcess::Options options(std::vector<std::string> argv)
    {
        ChildProcess::Options options;
        options.argv = std::move(argv);
        options.environment = {{"DISPLAY", display},
                               {"HOME", profile.string()},
                               {"XDG_CONFIG_HOME", (profile / "config").string()},
                               {"XDG_DATA_HOME", (profile / "data").string()},
                               {"XDG_RUNTIME_DIR", (profile / "run").string()},
                               {"VANTREL_LOG", "info"}};
        options.pipeStdout = true;
        return options;
    }

    /// Starts a program with standard error joined to standard output.
    ChildProcess* start(std::vector<std::string> argv)
    {
        argv.insert(argv.begin(), {"sh", "-c", "exec \"$0\" \"$@\" 2>&1"});
        children.push_back(ChildProcess::spawn(options(std::move(argv))));
        return children.back().get();
    }

    /// Runs a program to its end; its exit code, or -1 when it did not exit normally in time.
    int run(std::vector<std::string> argv)
    {
        auto* child = start(std::move(argv));
        auto status = child ? child->waitForExit(10s) : std::nullopt;
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    /// Window ids xdotool finds with these arguments (after "search").
    std::vector<std::uint32_t> search(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {"xdotool", "search"});
        auto* child = start(std::move(arguments));
        std::vector<std::uint32_t> ids;
        while (auto line = child->readLine(5s))
            if (!line->empty() && std::isdigit(static_cast<unsigned char>(line->front())))
                ids.push_back(static_cast<std::uint32_t>(std::stoul(*line)));
        return ids;
    }

    ChildProcess* startVantrel(std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), VANTREL_PATH);
        auto* vantrel = start(std::move(arguments));
        EXPECT_TRUE(vantrel && lineStarting(*vantrel, "settings applied")) << "the switcher never registered its chords";
        return vantrel;
    }

    static int exitCode(ChildProcess& child, std::chrono::milliseconds timeout = 5s)
    {
        auto status = child.waitForExit(timeout);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    std::string display;
    std::filesystem::path profile;
    std::vector<std::unique_ptr<ChildProcess>> children;
};

/// The same on the process's shared Xvfb + openbox.
class VantrelOnX11 : public VantrelProgram {
protected:
    void SetUp() override
    {
        VantrelProgram::SetUp();
        VANTREL_REQUIRE_X11_SESSION(x11);
        display = x11->display();
    }
};

TEST_F(VantrelOnX11, aFreshProfileDocksItsIconInATrayThatStartsAfterIt)
{
    // At login the panel holding the tray often starts after vantrel.
    auto* vantrel = startVantrel();
    auto* trayer = start({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request"});
    ASSERT_TRUE(trayer);
    std::vector<std::uint32_t> trays;
    for (int i = 0; i < 300 && trays.empty(); ++i, std::this_thread::sleep_for(50ms))
        trays = search({"--class", "trayer"});
    if (trays.empty())
        GTEST_SKIP() << "trayer is not installed or did not start";

    ManualRunLoop loop;
    auto connection = X11Connection::open(loop, display);
    ASSERT_TRUE(connection);
    // Docked: a window of vantrel's lives inside trayer's.
    auto insideTrayer = [&](std::uint32_t window) {
        while (window && window != connection->root()) {
            if (std::ranges::count(trays, window))
                return true;
            XcbPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection->raw(), xcb_query_tree(connection->raw(), window), nullptr));
            window = tree ? tree->parent : 0;
        }
        return false;
    };
    bool docked = false;
    for (int i = 0; i < 300 && !docked; ++i, std::this_thread::sleep_for(50ms)) {
        // trayer maps its panel after the first window it creates: look again.
        trays = search({"--class", "trayer"});
        for (auto window : search({"--pid", std::to_string(vantrel->pid())}))
            docked = docked || insideTrayer(window);
    }
    EXPECT_TRUE(docked);
    EXPECT_TRUE(std::filesystem::exists(profile / "run" / ("vantrel-" + display + ".socket")));

    // Docked, and with the settings window open, it still quits when told.
    EXPECT_EQ(run({VANTREL_PATH, "--settings"}), 0);
    EXPECT_EQ(run({VANTREL_PATH, "--quit"}), 0);
    EXPECT_EQ(exitCode(*vantrel), 0);
}

TEST_F(VantrelOnX11, laterStartsHandTheirRequestToTheRunningOneAndExitZero)
{
    EXPECT_EQ(run({VANTREL_PATH, "--quit"}), 1) << "nothing to quit yet";
    auto* vantrel = startVantrel();

    EXPECT_EQ(run({VANTREL_PATH, "--settings"}), 0);
    std::vector<std::uint32_t> settings;
    for (int i = 0; i < 300 && settings.empty(); ++i, std::this_thread::sleep_for(50ms))
        settings = search({"--onlyvisible", "--name", "^Vantrel Settings$"});
    EXPECT_EQ(settings.size(), 1u);
    EXPECT_EQ(run({VANTREL_PATH}), 0);
    EXPECT_EQ(search({"--onlyvisible", "--name", "^Vantrel Settings$"}).size(), 1u) << "the same window, brought forward";
    EXPECT_TRUE(vantrel->isRunning());

    EXPECT_EQ(run({VANTREL_PATH, "--quit"}), 0);
    EXPECT_EQ(exitCode(*vantrel), 0);
    EXPECT_FALSE(std::filesystem::exists(profile / "run" / ("vantrel-" + display + ".socket")));

    // A socket left by a killed run is taken over; quitting works with the
    // settings window open from the start.
    auto* killed = startVantrel();
    ::kill(killed->pid(), SIGKILL);
    killed->waitForExit(5s);
    auto* next = startVantrel({"--settings"});
    EXPECT_TRUE(next->isRunning());
    EXPECT_EQ(run({VANTREL_PATH, "--quit"}), 0);
    EXPECT_EQ(exitCode(*next), 0);
}

TEST_F(VantrelOnX11, sigtermQuitsWithZeroAndLeavesNoGrabBehind)
{
    auto* keys = start({VANTREL_X11_KEY_CLIENT});
    ASSERT_TRUE(keys && lineStarting(*keys, "ready"));
    auto* vantrel = startVantrel();

    auto tabReachesClient = [&] {
        EXPECT_EQ(run({"xdotool", "key", "super+Tab"}), 0);
        return lineStarting(*keys, "key " + std::to_string(tabKeyCode), 1s).has_value();
    };
    EXPECT_FALSE(tabReachesClient()) << "Super+Tab is Vantrel's while it runs";
    ::kill(vantrel->pid(), SIGTERM);
    EXPECT_EQ(exitCode(*vantrel), 0);
    EXPECT_TRUE(tabReachesClient());
}

TEST_F(VantrelProgram, killingTheXServerEndsTheProcessAtOnceWithAnErrorLine)
{
    test::X11Session::Failure failure;
    auto x11 = test::X11Session::start(&failure);
    if (!x11 && failure.missing)
        GTEST_SKIP() << failure.reason;
    ASSERT_TRUE(x11) << failure.reason;
    display = x11->display();
    auto* vantrel = startVantrel();

    x11->killServer();
    const auto killed = std::chrono::steady_clock::now();
    auto status = vantrel->waitForExit(3s);
    ASSERT_TRUE(status) << "still running after the server died";
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 1s);
    EXPECT_TRUE(WIFEXITED(*status)) << "ended by a signal (core: " << (WIFSIGNALED(*status) && WCOREDUMP(*status)) << ")";
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    EXPECT_TRUE(lineStarting(*vantrel, "lost the connection to the X server", 500ms));
}

TEST_F(VantrelProgram, waitsForAnEwmhWindowManagerThenStartsSwitching)
{
    // A bare server: no window manager yet.
    ChildProcess::Options serverOptions;
    serverOptions.argv = {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0", "1024x768x24"};
    serverOptions.extraPipeFd = 3;
    bool missing = false;
    auto server = ChildProcess::spawn(serverOptions, nullptr, &missing);
    if (!server && missing)
        GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(server);
    auto number = server->readExtraLine(10s);
    ASSERT_TRUE(number && !number->empty());
    display = ":" + *number;

    auto* vantrel = start({VANTREL_PATH});
    auto onboardingShown = [&] { return search({"--onlyvisible", "--name", "^Welcome to Vantrel$"}).size(); };
    std::size_t shown = 0;
    for (int i = 0; i < 300 && !shown; ++i, std::this_thread::sleep_for(50ms))
        shown = onboardingShown();
    std::this_thread::sleep_for(1500ms);
    std::string said;
    if (!vantrel->isRunning())
        while (auto line = vantrel->readLine(500ms))
            said += *line + "\n";
    EXPECT_EQ(shown, 1u) << said;
    EXPECT_TRUE(vantrel->isRunning()) << said;

    start({"openbox", "--sm-disable"});
    EXPECT_TRUE(lineStarting(*vantrel, "settings applied", 5s)) << "switching did not start";
    // The window says so, then closes two seconds later.
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(onboardingShown(), 0u);
    children.clear();
}

} // namespace
} // namespace vantrel
