// vantrelctl and the backends against what misbehaves: a server without
// X-Resource whose clients lie about their pids, and a server that goes away
// under the long-running commands.
#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11WindowServer.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

TEST(X11Hostile, WithoutXResourceAWindowWithoutAPidWeBelieveIsListedUnderItsClient)
{
    auto session = privateSession({"-extension", "X-Resource"});
    if (!session)
        GTEST_SKIP() << "no X session";
    const pid_t gone = deadPid();
    auto one = TestClient::start(session->display());
    auto two = TestClient::start(session->display());
    ASSERT_TRUE(one && two);
    std::vector<std::optional<std::uint32_t>> opened = {
        one->open("owned", "class=owned,Owned title=Owned"),
        one->open("none", "pid=0 class=plain,Plain title=None"),
        one->open("zero", "class=plain,Plain title=Zero"),
        one->open("huge", "class=plain,Plain title=Huge"),
        one->open("short", "class=plain,Plain title=Short"),
        one->open("tool", "pid=0 class=tool,Tool title=Tool"),
        two->open("gone", "class=plain,Plain title=Gone"),
        two->open("init", "class=plain,Plain title=Init"),
    };
    ASSERT_TRUE(one->command("hostile zero pid 0") && one->command("hostile huge pid 4294967295") &&
                one->command("hostile short pid-wrong-format") &&
                two->command("hostile gone pid " + std::to_string(gone)) && two->command("hostile init pid 1"));
    auto tool = startOn(session->display(), {VANTRELCTL_PATH, "windows", "--backend", "x11"}, Reading::output);
    ASSERT_TRUE(tool);
    const auto run = finish(*tool);
    ASSERT_EQ(run.status, 0) << run.text;
    const auto list = json::parse(run.text);
    std::map<std::uint32_t, json> windows;
    for (const auto& window : list["windows"])
        windows[window["id"].get<std::uint32_t>()] = window;
    std::vector<std::int32_t> pids;
    for (const auto& id : opened) {
        ASSERT_TRUE(id && windows.count(*id)) << "window " << pids.size() << " is missing";
        pids.push_back(windows[*id]["pid"].get<std::int32_t>());
    }

    EXPECT_EQ(pids[0], one->pid()) << "a _NET_WM_PID naming a running process is believed";
    for (std::size_t i = 2; i <= 4; ++i)
        EXPECT_EQ(pids[i], pids[1]) << "window " << i << ": one client, one class, one application";
    EXPECT_EQ(pids[7], pids[6]) << "a dead process and init are not believed either";
    const std::set<std::int32_t> keys = {pids[1], pids[5], pids[6]};
    EXPECT_EQ(keys.size(), 3u) << "another class or another client is another application";
    for (auto key : keys)
        EXPECT_TRUE(isClientKey(key));
    EXPECT_EQ(windows[*opened[1]]["appName"], "Plain");
}

// Its own session: the server is lost on purpose.
TEST(X11Hostile, LosingTheServerIsReportedOnceAndEndsEveryReadAndEveryLongRunningCommand)
{
    auto session = privateSession();
    if (!session)
        GTEST_SKIP() << "no X session";
    const std::string display = session->display();
    auto client = TestClient::start(display);
    auto window = client ? client->open("w", "title=W") : std::nullopt;
    ASSERT_TRUE(window);
    ManualRunLoop loop;
    std::vector<std::string> lost;
    auto made = makeX11Backends(loop, display, [&](const std::string& message) { lost.push_back(message); });
    ASSERT_TRUE(std::holds_alternative<Backends>(made)) << std::get<std::string>(made);
    auto backends = std::get<Backends>(made);
    auto slots = backends.windowServer->slots();
    auto& ax = *backends.accessibility;
    auto app = ax.createApplication(client->pid());
    AXValue windows;
    ASSERT_EQ(ax.copyAttributeValue(app, "AXWindows", windows), 0);
    auto element = std::get<std::vector<AXElement>>(windows).at(0);
    auto connection = X11Connection::open(loop, display);
    ASSERT_NE(connection, nullptr);
    int losses = 0;
    auto subscription = connection->onLost([&] { ++losses; });

    auto watch = startOn(display, {VANTRELCTL_PATH, "windows", "--backend", "x11", "--watch"});
    auto keys = startOn(display, {VANTRELCTL_PATH, "keys", "--seconds", "60"});
    ASSERT_TRUE(watch && keys);
    ASSERT_TRUE(watch->readLine(20s)) << "no first list";
    ASSERT_TRUE(says(*keys, "ready", 20s)) << "keys never got ready";

    session->killServer(); // returns once the server has exited
    ASSERT_TRUE(pumpUntil(loop, [&] { return !lost.empty() && losses > 0; }, 1s)) << "not told within a second";
    EXPECT_EQ(lost, std::vector<std::string>{"lost the connection to the X server '" + display + "'"});
    for (auto* command : {watch.get(), keys.get()}) {
        auto run = finish(*command, 10s);
        EXPECT_EQ(run.status, 1) << run.text;
        EXPECT_NE(run.text.find("lost the connection to the X server '" + display + "'"), std::string::npos) << run.text;
    }
    EXPECT_FALSE(connection->isOpen());
    EXPECT_FALSE(connection->sync());
    EXPECT_FALSE(readRootState(*connection).has_value());
    auto read = readClients(*connection, std::vector<xcb_window_t>{*window}).at(0);
    EXPECT_FALSE(read.info.has_value());
    EXPECT_FALSE(read.vanished) << "a lost server is not a vanished window";
    EXPECT_EQ(connection->atom("_VANTREL_NEVER_INTERNED"), static_cast<xcb_atom_t>(XCB_ATOM_NONE));
    // A late subscriber still hears of the loss, once; the first is not told again.
    int late = 0;
    auto lateSubscription = connection->onLost([&] { ++late; });
    ASSERT_TRUE(pumpUntil(loop, [&] { return late == 1; }));
    loop.runPending();
    EXPECT_EQ(std::pair(losses, late), std::pair(1, 1));
    EXPECT_EQ(lost.size(), 1u);

    ASSERT_TRUE(eventually([&] { return slots.mainConnectionID() == 0; }));
    EXPECT_FALSE(slots.copyManagedDisplaySpaces(1));
    EXPECT_EQ(slots.getActiveSpace(1), 0u);
    EXPECT_FALSE(slots.copySpacesForWindows(1, 7, json::array({*window})));
    std::int64_t set = 0, clear = 0;
    EXPECT_FALSE(slots.copyWindowsWithOptionsAndTags(1, 0, json::array({1}), 2, set, clear));
    EXPECT_FALSE(slots.windowListCopyWindowInfo(0, 0));
    EXPECT_EQ(slots.setFrontProcessWithOptions({0, static_cast<std::uint32_t>(client->pid())}, *window, 0), x11ServerFailure);
    ProcessSerialNumber front;
    EXPECT_NE(slots.getFrontProcess(front), 0);
    slots.managedDisplaySetCurrentSpace(1, "screen", 2);

    EXPECT_FALSE(ax.isProcessTrusted());
    AXValue value;
    EXPECT_EQ(ax.copyAttributeValue(app, "AXWindows", value), AXErrors::cannotComplete);
    EXPECT_EQ(ax.copyAttributeValue(element, "AXTitle", value), AXErrors::cannotComplete);
    EXPECT_EQ(ax.performAction(element, "AXRaise"), AXErrors::cannotComplete);
    std::shared_ptr<AXObserver> observer;
    EXPECT_EQ(ax.createObserver(client->pid(), [](const AXElement&, const std::string&) {}, observer), AXErrors::cannotComplete);

    EXPECT_TRUE(backends.workspace->runningApplications().empty());
    EXPECT_FALSE(backends.workspace->frontmostApplication());
    EXPECT_TRUE(backends.workspace->screens().empty());
    EXPECT_EQ(backends.workspace->keyRepeat(), KeyRepeatSettings{});
    EXPECT_FALSE(backends.workspace->terminate(client->pid()));
    loop.runPending();
}

} // namespace
} // namespace vantrel::test
