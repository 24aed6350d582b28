// links: WindowTracker PlatformX11 VantrelCore VantrelTestSupport
// The tracker on Xvfb: a full read and publication of a crowded desktop (with nothing changed, after one
// title change, and on a new connection), and the idle cost of watching a quiet one.
#if __has_include("Platform/X11/X11Backend.h")
#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Connection.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/X11Session.h"
#include "SystemBridge/Backends.h"
#include "WindowTracker/AXWindowTracker.h"
#include "X11/X11TestSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using vantrel::test::ChildProcess;

std::filesystem::path buildDirectory()
{
    // This program lives in <build>/bench.
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
}

/// One scripted X client holding `windows` windows: one application.
std::unique_ptr<ChildProcess> startApplication(const std::string& display, int index, int windows)
{
    ChildProcess::Options options;
    options.argv = {(buildDirectory() / "tests/X11/x11_test_client").string()};
    options.environment = {{"DISPLAY", display}};
    options.pipeStdin = true;
    options.pipeStdout = true;
    auto client = ChildProcess::spawn(options);
    if (!client || client->readLine(10s) != "ready")
        return nullptr;
    for (int w = 0; w < windows; ++w) {
        client->writeLine("open w" + std::to_string(w) + " class=app" + std::to_string(index) + ",App" +
                          std::to_string(index) + " desktop=" + std::to_string(w % 2) + " title=Window " +
                          std::to_string(w) + " of application " + std::to_string(index));
        auto reply = client->readLine(10s);
        if (!reply || reply->rfind("opened", 0) != 0)
            return nullptr;
    }
    return client;
}

constexpr int applications = 50;
constexpr int windowsEach = 10;

/// The 50 applications of 10 windows each, started once for the program.
struct Crowd {
    std::vector<std::unique_ptr<ChildProcess>> clients;
    std::string error;
};

Crowd& crowd(const std::string& display)
{
    static Crowd instance;
    if (instance.clients.empty() && instance.error.empty()) {
        for (int i = 0; i < applications; ++i) {
            auto client = startApplication(display, i, windowsEach);
            if (!client) {
                instance.error = "a test client did not start";
                break;
            }
            instance.clients.push_back(std::move(client));
        }
    }
    return instance;
}

/// The shared X session, with the crowd started when `withCrowd`; null, with
/// the case marked skipped, when either is missing.
vantrel::test::X11Session* session(benchmark::State& state, bool withCrowd = true)
{
    vantrel::test::X11Session::Failure failure;
    auto* x11 = vantrel::test::sharedX11Session(&failure);
    if (!x11) {
        state.SkipWithError(failure.reason.c_str());
        return nullptr;
    }
    if (withCrowd && !crowd(x11->display()).error.empty()) {
        state.SkipWithError(crowd(x11->display()).error.c_str());
        return nullptr;
    }
    return x11;
}

/// The X11 backends on a new connection to `display`, installed in the bridge
/// for as long as it lives; false, with the case marked skipped, when the
/// display cannot be reached.
struct InstalledX11Backends {
    InstalledX11Backends(benchmark::State& state, vantrel::ManualRunLoop& loop, const std::string& display)
        : connection(vantrel::X11Connection::open(loop, display))
    {
        if (connection)
            vantrel::SystemBridge::install(vantrel::makeX11Backends(connection, loop));
        else
            state.SkipWithError(vantrel::X11Connection::openFailure(display).c_str());
    }
    ~InstalledX11Backends() { vantrel::SystemBridge::reset(); }
    explicit operator bool() const { return connection != nullptr; }

    std::shared_ptr<vantrel::X11Connection> connection;
};

/// Starts `tracker` and runs the loop until it delivered its first snapshot
/// (timed); then, with the timing paused and left paused, stops it.
vantrel::TrackingSnapshot startAndPublish(vantrel::AXWindowTracker& tracker, vantrel::ManualRunLoop& loop,
                                          benchmark::State& state)
{
    vantrel::TrackingSnapshot snapshot;
    tracker.start([&](vantrel::TrackingSnapshot s) { snapshot = std::move(s); }, [](vantrel::WindowID) {});
    loop.runPending();
    state.PauseTiming();
    tracker.stop();
    loop.runPending();
    return snapshot;
}

/// A tracker over the X11 backends on a connection of its own to the shared
/// crowded desktop; false, with the case marked skipped, when any is missing.
/// Its end runs what the backends' end left on the loop.
struct CrowdTracker {
    explicit CrowdTracker(benchmark::State& state) : x11(session(state))
    {
        if (x11)
            backends.emplace(state, loop, x11->display());
        if (backends && *backends)
            tracker.emplace(loop);
    }
    ~CrowdTracker()
    {
        tracker.reset();
        backends.reset();
        loop.runPending();
    }
    explicit operator bool() const { return tracker.has_value(); }
    /// Starts the tracker until its first snapshot, as `startAndPublish`.
    vantrel::TrackingSnapshot publish(benchmark::State& state) { return startAndPublish(*tracker, loop, state); }

    vantrel::test::X11Session* x11;
    vantrel::ManualRunLoop loop;
    std::optional<InstalledX11Backends> backends;
    std::optional<vantrel::AXWindowTracker> tracker;
};

/// 50 applications with 10 windows each; `start` reads every application
/// (observer set-up included) and hands the snapshot to the main loop, which
/// delivers it. Nothing changes between iterations.
void BM_FullRefreshAndPublication(benchmark::State& state)
{
    CrowdTracker crowdTracker(state);
    if (!crowdTracker)
        return;
    std::size_t published = 0;
    for (auto _ : state) {
        published = crowdTracker.publish(state).windows.size();
        state.ResumeTiming();
    }
    state.counters["windows"] = static_cast<double>(published);
}
BENCHMARK(BM_FullRefreshAndPublication)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The same, after one window's title changed: the change has reached the
/// backend (its event was handed to the loop) before the timed part starts,
/// and the published snapshot must carry the new title.
void BM_FullRefreshAfterATitleChange(benchmark::State& state)
{
    CrowdTracker crowdTracker(state);
    if (!crowdTracker)
        return;
    auto& client = *crowd(crowdTracker.x11->display()).clients.front();
    auto& connection = crowdTracker.backends->connection;
    const auto wmName = connection->atom("WM_NAME");
    std::size_t namesSeen = 0;
    // The client sets _NET_WM_NAME, then WM_NAME: the second event ends the change.
    auto subscription = connection->subscribe([&](const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<const xcb_property_notify_event_t&>(event).atom == wmName)
            ++namesSeen;
    });

    std::size_t published = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto title = "Window 0 of application 0, round " + std::to_string(++round);
        const auto before = namesSeen;
        client.writeLine("title w0 " + title);
        if (client.readLine(10s) != "ok" ||
            !vantrel::test::pumpUntil(crowdTracker.loop, [&] { return namesSeen > before; }, 10s)) {
            state.SkipWithError("the title change was not seen");
            break;
        }
        state.ResumeTiming();
        auto snapshot = crowdTracker.publish(state);
        published = snapshot.windows.size();
        if (std::none_of(snapshot.windows.begin(), snapshot.windows.end(),
                         [&](const vantrel::WindowInfo& w) { return w.title == title; })) {
            state.SkipWithError("the snapshot lacks the new title");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["windows"] = static_cast<double>(published);
}
BENCHMARK(BM_FullRefreshAfterATitleChange)->Unit(benchmark::kMillisecond)->UseRealTime();

/// A new connection and backend each time (nothing read before), then the
/// tracker's first full refresh and publication: what starting costs.
void BM_StartOnANewConnection(benchmark::State& state)
{
    if (!session(state))
        return;
    std::size_t published = 0;
    for (auto _ : state) {
        {
            CrowdTracker crowdTracker(state);
            if (!crowdTracker)
                break;
            published = crowdTracker.publish(state).windows.size();
        }
        state.ResumeTiming();
    }
    state.counters["windows"] = static_cast<double>(published);
}
BENCHMARK(BM_StartOnANewConnection)->Unit(benchmark::kMillisecond)->UseRealTime();

long processTicks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

/// CPU time `vantrelctl windows --watch` uses over 10 s of a quiet desktop
/// with a few windows, after its first snapshot.
void BM_IdleWatchCPU(benchmark::State& state)
{
    auto* x11 = session(state, false);
    if (!x11)
        return;
    auto client = startApplication(x11->display(), 999, 3);
    if (!client) {
        state.SkipWithError("the test client did not start");
        return;
    }
    double cpuMilliseconds = 0;
    for (auto _ : state) {
        ChildProcess::Options options;
        options.argv = {(buildDirectory() / "tools/vantrelctl/vantrelctl").string(), "windows", "--backend", "x11",
                        "--watch"};
        options.environment = {{"DISPLAY", x11->display()}};
        options.pipeStdout = true;
        auto watcher = ChildProcess::spawn(options);
        if (!watcher || !watcher->readLine(10s)) {
            state.SkipWithError("vantrelctl windows --watch printed nothing");
            return;
        }
        long before = processTicks(watcher->pid());
        std::this_thread::sleep_for(10s);
        long after = processTicks(watcher->pid());
        cpuMilliseconds = static_cast<double>(after - before) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
        watcher->terminate();
    }
    state.counters["cpu_ms_per_10s"] = cpuMilliseconds;
}
BENCHMARK(BM_IdleWatchCPU)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();

#else
// A tree without the X11 backend has nothing to measure here.
#include <cstdio>
int main()
{
    std::fputs("bench_tracker_x11: this build has no X11 backend\n", stderr);
    return 1;
}
#endif
