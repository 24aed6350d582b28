// vantrelctl symbols, spaces and windows on the simulated sample desktop, run as a user would.
#include "Support/ChildProcess.h"
#include "Support/ScratchFiles.h"
#include "SystemBridge/PrivateSymbols.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

/// Runs vantrelctl to its end: what it printed (standard error too) and its exit code.
test::CommandOutput vantrelctl(const std::string& arguments)
{
    return test::runCommand(std::string(VANTRELCTL_PATH) + " " + arguments + " 2>&1");
}

TEST(VantrelctlSymbols, PrintsFourteenRowsInTableOrder)
{
    auto run = vantrelctl("symbols --backend sim");
    ASSERT_EQ(run.status, 0) << run.text;
    std::istringstream lines(run.text);
    std::vector<std::string> names;
    for (std::string name, resolved; lines >> name >> resolved;) {
        names.push_back(name);
        EXPECT_EQ(resolved, "true") << name;
    }
    EXPECT_EQ(names, std::vector<std::string>(PrivateSymbols::knownNames.begin(), PrivateSymbols::knownNames.end()));
}

TEST(VantrelctlSpaces, PrintsTheSampleDesktopAsOneObject)
{
    auto run = vantrelctl("spaces --backend sim");
    ASSERT_EQ(run.status, 0) << run.text;
    auto result = nlohmann::json::parse(run.text);
    ASSERT_EQ(result["displays"].size(), 2u);
    const auto& first = result["displays"][0];
    EXPECT_TRUE(first["displayUUID"].is_string());
    EXPECT_EQ(first["currentSpaceID"], 1);
    EXPECT_EQ(first["spaces"][2]["type"], 4);
    for (auto key : {"id", "managedID", "uuid", "type"})
        EXPECT_TRUE(first["spaces"][0].contains(key)) << key;
    EXPECT_EQ(result["visibleSpaceIDs"], nlohmann::json::array({1, 12}));
    EXPECT_EQ(result["activeSpaceID"], 1);
}

// Every command chooses its backend through the same code: one command stands for all.
TEST(VantrelctlBackends, UnknownBackendsAndStrayArgumentsAreErrors)
{
    auto unknown = vantrelctl("windows --backend wayland");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.text.find("unknown backend 'wayland'"), std::string::npos) << unknown.text;
    EXPECT_NE(vantrelctl("symbols --backend sim extra").status, 0);
}

TEST(VantrelctlWindows, PrintsTheStoresWindowsAndSpacesAsOneObject)
{
    auto run = vantrelctl("windows --backend sim");
    ASSERT_EQ(run.status, 0) << run.text;
    auto result = nlohmann::ordered_json::parse(run.text);
    auto keys = [](const nlohmann::ordered_json& object) {
        std::vector<std::string> names;
        for (const auto& [key, value] : object.items())
            names.push_back(key);
        return names;
    };
    EXPECT_EQ(keys(result), (std::vector<std::string>{"windows", "visibleSpaceIDs", "fullscreenSpaceIDs", "spaceNumbers"}));

    // The sample's regular applications only (its accessory clock is not tracked):
    // the frontmost application's window first, as focused before the start,
    // then the rest in snapshot order.
    std::vector<unsigned> ids;
    for (const auto& window : result["windows"])
        ids.push_back(window["id"].get<unsigned>());
    EXPECT_EQ(ids, (std::vector<unsigned>{201, 204, 203, 202}));
    auto browser = result["windows"][1];
    EXPECT_EQ(keys(result["windows"][0]), (std::vector<std::string>{"id", "pid", "bundleID", "appName", "title", "isMinimized",
                                                "isAppHidden", "spaceIDs"}));
    EXPECT_EQ(browser["appName"], "Browser");
    EXPECT_EQ(browser["bundleID"], "org.example.Browser");
    EXPECT_EQ(browser["spaceIDs"], nlohmann::ordered_json::array({7}));
    EXPECT_EQ(result["visibleSpaceIDs"], nlohmann::ordered_json::array({1, 12}));
    EXPECT_EQ(result["fullscreenSpaceIDs"], nlohmann::ordered_json::array({7}));
    EXPECT_EQ(result["spaceNumbers"]["12"], 4);
}

TEST(VantrelctlWindows, WatchingEndsCleanlyOnInterruptAndTermination)
{
    for (int signal : {SIGINT, SIGTERM}) {
        test::ChildProcess::Options options;
        options.argv = {VANTRELCTL_PATH, "windows", "--backend", "sim", "--watch"};
        options.pipeStdout = true;
        auto process = test::ChildProcess::spawn(options);
        ASSERT_NE(process, nullptr);
        ASSERT_TRUE(process->readLine(10s).has_value());
        // Quiet desktop: no second line.
        EXPECT_FALSE(process->readLine(300ms).has_value());
        EXPECT_TRUE(process->isRunning());
        ASSERT_EQ(::kill(process->pid(), signal), 0);
        auto status = process->waitForExit(10s);
        ASSERT_TRUE(status.has_value()) << "still running after signal " << signal;
        EXPECT_TRUE(WIFEXITED(*status)) << "killed by signal " << signal;
        EXPECT_EQ(WEXITSTATUS(*status), 0);
    }
}

TEST(VantrelctlPanelShot, WritesEveryRenderItsHelpNamesAsA600WidePng)
{
    auto help = vantrelctl("panel-shot --help");
    ASSERT_EQ(help.status, 0) << help.text;
    std::vector<std::string> stems;
    std::istringstream lines(help.text);
    for (std::string line; std::getline(lines, line);)
        if (auto brace = line.find("-{light,dark}-{1.0,1.5}.png"); line.starts_with("  ") && brace != std::string::npos)
            stems.push_back(line.substr(2, brace - 2));
    ASSERT_GE(stems.size(), 3u) << help.text;

    const test::ScratchFolder scratch;
    const std::string dir = scratch.path.string();
    auto run = vantrelctl("panel-shot --out " + dir + "/out");
    ASSERT_EQ(run.status, 0) << run.text;
    for (const auto& stem : stems)
        for (const char* variant : {"-light-1.0.png", "-dark-1.0.png", "-light-1.5.png", "-dark-1.5.png"}) {
            std::ifstream file(dir + "/out/" + stem + variant, std::ios::binary);
            ASSERT_TRUE(file) << stem << variant;
            unsigned char header[24] = {};
            file.read(reinterpret_cast<char*>(header), sizeof header);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(header) + 1, 3), "PNG") << stem << variant;
            const unsigned width = header[16] << 24 | header[17] << 16 | header[18] << 8 | header[19];
            EXPECT_EQ(width, 600u) << stem << variant;
        }
}

TEST(VantrelctlSwitchSim, DrivesBothControllersThroughTheSimulatedKeyboard)
{
    auto run = vantrelctl("switch-sim --delay 0 --pause Mail press release press action close release flags none "
                          "search type vim return fast '>' front 103 press 2>/dev/null");
    ASSERT_EQ(run.status, 0) << run.text;
    std::vector<std::string> wanted = {"panel: select 2 #3 Mail — Inbox", "close #3 Mail — Inbox", "focus #3 Mail — Inbox",
                                       "search: update, 1 rows", "focus #4 Terminal — vim notes.md",
                                       "search: select 1 #3 Mail — Inbox", "focus #3 Mail — Inbox",
                                       "the frontmost program gets key 48"};
    std::size_t at = 0;
    for (const auto& line : wanted) {
        at = run.text.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << run.text;
    }
}

} // namespace
} // namespace vantrel
