// vantrelctl symbols and spaces, run as a user would.
#include "SystemBridge/PrivateSymbols.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace vantrel {
namespace {

struct Run {
    std::string output;
    int status = -1;
};

Run vantrelctl(const std::string& arguments)
{
    Run run;
    std::string command = std::string(VANTRELCTL_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    while (auto n = fread(buffer, 1, sizeof buffer, pipe))
        run.output.append(buffer, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(VantrelctlSymbols, PrintsFourteenRowsInTableOrder)
{
    auto run = vantrelctl("symbols --backend sim");
    ASSERT_EQ(run.status, 0) << run.output;
    std::istringstream lines(run.output);
    std::string name;
    std::string resolved;
    std::vector<std::string> names;
    while (lines >> name >> resolved) {
        names.push_back(name);
        EXPECT_EQ(resolved, "true") << name;
    }
    EXPECT_EQ(names, std::vector<std::string>(PrivateSymbols::knownNames.begin(), PrivateSymbols::knownNames.end()));
}

TEST(VantrelctlSpaces, PrintsTheSampleDesktopAsOneObject)
{
    auto run = vantrelctl("spaces --backend sim");
    ASSERT_EQ(run.status, 0) << run.output;
    auto result = nlohmann::json::parse(run.output);
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

TEST(VantrelctlBackends, UnknownOrMissingBackendsAreReported)
{
    auto unknown = vantrelctl("spaces --backend wayland");
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.output.find("unknown backend 'wayland'"), std::string::npos) << unknown.output;
    auto stray = vantrelctl("symbols --backend sim extra");
    EXPECT_NE(stray.status, 0);
}

} // namespace
} // namespace vantrel
