// vantrelctl windows on the simulated sample desktop: the JSON it prints and how it ends.
#include "Support/ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <string>
#include <sys/wait.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<test::ChildProcess> vantrelctl(std::vector<std::string> arguments)
{
    test::ChildProcess::Options options;
    options.argv = {VANTRELCTL_PATH};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.pipeStdout = true;
    return test::ChildProcess::spawn(options);
}

TEST(VantrelctlWindows, PrintsTheStoresWindowsAndSpacesAsOneObject)
{
    auto process = vantrelctl({"windows", "--backend", "sim"});
    ASSERT_NE(process, nullptr);
    auto line = process->readLine(10s);
    ASSERT_TRUE(line.has_value());
    auto status = process->waitForExit(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

    auto result = nlohmann::ordered_json::parse(*line);
    std::vector<std::string> keys;
    for (const auto& [key, value] : result.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"windows", "visibleSpaceIDs", "fullscreenSpaceIDs", "spaceNumbers"}));

    // The sample's regular applications only (its accessory clock is not tracked),
    // grouped by application name, never focused: snapshot order.
    std::vector<unsigned> ids;
    for (const auto& window : result["windows"])
        ids.push_back(window["id"].get<unsigned>());
    EXPECT_EQ(ids, (std::vector<unsigned>{204, 203, 201, 202}));
    auto first = result["windows"][0];
    std::vector<std::string> fields;
    for (const auto& [key, value] : first.items())
        fields.push_back(key);
    EXPECT_EQ(fields, (std::vector<std::string>{"id", "pid", "bundleID", "appName", "title", "isMinimized",
                                                "isAppHidden", "spaceIDs"}));
    EXPECT_EQ(first["appName"], "Browser");
    EXPECT_EQ(first["bundleID"], "org.example.Browser");
    EXPECT_EQ(first["spaceIDs"], nlohmann::ordered_json::array({7}));
    EXPECT_EQ(result["visibleSpaceIDs"], nlohmann::ordered_json::array({1, 12}));
    EXPECT_EQ(result["fullscreenSpaceIDs"], nlohmann::ordered_json::array({7}));
    EXPECT_EQ(result["spaceNumbers"]["12"], 4);
}

TEST(VantrelctlWindows, WatchingEndsCleanlyOnInterruptAndTermination)
{
    for (int signal : {SIGINT, SIGTERM}) {
        auto process = vantrelctl({"windows", "--backend", "sim", "--watch"});
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

TEST(VantrelctlWindows, AnUnknownBackendIsAnError)
{
    auto process = vantrelctl({"windows", "--backend", "nowhere"});
    ASSERT_NE(process, nullptr);
    EXPECT_FALSE(process->readLine(10s).has_value());
    auto status = process->waitForExit(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(WEXITSTATUS(*status), 1);
}

} // namespace
} // namespace vantrel
