// links: WindowTracker PlatformX11 VantrelCore VantrelTestSupport
// The tracker on Xvfb: a full read and publication of a crowded desktop, and the idle cost of watching a quiet one.
#if __has_include("Platform/X11/X11Backend.h")
#include "Platform/X11/X11Backend.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/X11Session.h"
#include "SystemBridge/Backends.h"
#include "WindowTracker/AXWindowTracker.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

/// 50 applications with 10 windows each; `start` reads every application
/// (observer set-up included) and hands the snapshot to the main loop, which
/// delivers it.
void BM_FullRefreshAndPublication(benchmark::State& state)
{
    vantrel::test::X11Session::Failure failure;
    auto* x11 = vantrel::test::sharedX11Session(&failure);
    if (!x11) {
        state.SkipWithError(failure.reason.c_str());
        return;
    }
    constexpr int applications = 50;
    constexpr int windowsEach = 10;
    static std::vector<std::unique_ptr<ChildProcess>> clients;
    if (clients.empty()) {
        for (int i = 0; i < applications; ++i) {
            auto client = startApplication(x11->display(), i, windowsEach);
            if (!client) {
                state.SkipWithError("a test client did not start");
                return;
            }
            clients.push_back(std::move(client));
        }
    }

    vantrel::ManualRunLoop loop;
    auto made = vantrel::makeX11Backends(loop, x11->display());
    if (auto* error = std::get_if<std::string>(&made)) {
        state.SkipWithError(error->c_str());
        return;
    }
    vantrel::SystemBridge::install(std::get<vantrel::Backends>(made));
    vantrel::AXWindowTracker tracker(loop);
    std::size_t published = 0;
    for (auto _ : state) {
        vantrel::TrackingSnapshot snapshot;
        tracker.start([&](vantrel::TrackingSnapshot s) { snapshot = std::move(s); }, [](vantrel::WindowID) {});
        loop.runPending();
        published = snapshot.windows.size();
        state.PauseTiming();
        tracker.stop();
        loop.runPending();
        state.ResumeTiming();
    }
    state.counters["windows"] = static_cast<double>(published);
    vantrel::SystemBridge::reset();
}
BENCHMARK(BM_FullRefreshAndPublication)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    vantrel::test::X11Session::Failure failure;
    auto* x11 = vantrel::test::sharedX11Session(&failure);
    if (!x11) {
        state.SkipWithError(failure.reason.c_str());
        return;
    }
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
