// links: PlatformX11 VantrelTestSupport
// Reading the attributes of 500 client windows of openbox on Xvfb: the raw
// batched read and the accessibility path the tracker takes (AXWindows, then
// title, subrole and minimized of each window, and their desktops).
#include "Platform/X11/X11Accessibility.h"
#include "Platform/X11/X11Desktop.h"
#include "Platform/X11/X11WindowServer.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Connection.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/X11Session.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace vantrel {
namespace {

constexpr int windowCount = 500;

/// One session with one client owning 500 windows, for the whole program.
struct Desktop {
    std::unique_ptr<test::X11Session> session;
    std::unique_ptr<test::ChildProcess> client;
    std::string error;

    Desktop()
    {
        test::X11Session::Failure failure;
        session = test::X11Session::start(&failure);
        if (!session) {
            error = failure.reason;
            return;
        }
        test::ChildProcess::Options options;
        options.argv = {VANTREL_X11_TEST_CLIENT};
        options.environment = {{"DISPLAY", session->display()}};
        options.pipeStdin = options.pipeStdout = true;
        client = test::ChildProcess::spawn(options, &error);
        if (!client || client->readLine(std::chrono::seconds(10)) != "ready") {
            error = "test client did not start";
            return;
        }
        client->writeLine("many " + std::to_string(windowCount));
        if (client->readLine(std::chrono::seconds(120)) != "opened-many")
            error = "windows were not managed";
    }
};

Desktop& desktop()
{
    static Desktop instance;
    return instance;
}

void BM_ReadClients500(benchmark::State& state)
{
    auto& d = desktop();
    if (!d.error.empty()) {
        state.SkipWithError(d.error.c_str());
        return;
    }
    ManualRunLoop loop;
    auto connection = X11Connection::open(loop, d.session->display());
    std::uint64_t trips = 0;
    std::size_t read = 0;
    for (auto _ : state) {
        const auto before = connection->roundTrips();
        auto root = readRootState(*connection);
        auto clients = readClients(*connection, root->clientsFrontFirst);
        trips += connection->roundTrips() - before;
        read = clients.size();
        benchmark::DoNotOptimize(clients);
    }
    state.counters["windows"] = static_cast<double>(read);
    state.counters["roundTrips"] = benchmark::Counter(static_cast<double>(trips), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ReadClients500)->Unit(benchmark::kMillisecond);

void BM_AccessibilityRefresh500(benchmark::State& state)
{
    auto& d = desktop();
    if (!d.error.empty()) {
        state.SkipWithError(d.error.c_str());
        return;
    }
    ManualRunLoop loop;
    auto connection = X11Connection::open(loop, d.session->display());
    auto shared = X11Desktop::create(connection, loop);
    X11Accessibility ax(shared);
    auto server = std::make_shared<X11WindowServer>(shared);
    auto slots = server->slots();
    const Pid pid = d.client->pid();
    std::size_t seen = 0;
    std::uint64_t trips = 0;
    for (auto _ : state) {
        const auto before = connection->roundTrips();
        AXValue windows;
        ax.copyAttributeValue(ax.createApplication(pid), "AXWindows", windows);
        nlohmann::json ids = nlohmann::json::array();
        seen = 0;
        for (const auto& element : std::get<std::vector<AXElement>>(windows)) {
            AXValue title, subrole, minimized;
            WindowID id = 0;
            ax.getWindow(element, id);
            ax.copyAttributeValue(element, "AXTitle", title);
            ax.copyAttributeValue(element, "AXSubrole", subrole);
            ax.copyAttributeValue(element, "AXMinimized", minimized);
            ids.push_back(id);
            seen += std::holds_alternative<std::string>(title) ? 1 : 0;
        }
        auto spaces = slots.copySpacesForWindows(1, 7, ids);
        benchmark::DoNotOptimize(spaces);
        trips += connection->roundTrips() - before;
    }
    state.counters["windows"] = static_cast<double>(seen);
    state.counters["roundTrips"] = benchmark::Counter(static_cast<double>(trips), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_AccessibilityRefresh500)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vantrel

BENCHMARK_MAIN();
