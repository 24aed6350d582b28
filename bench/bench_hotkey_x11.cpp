// links: PlatformX11 InputEngine VantrelTestSupport
// Hot-key latency on a private Xvfb: from an XTEST key press to the hot key's
// handler running on the main run loop.
#include "InputEngine/HotKey.h"
#include "Platform/X11/X11FakeInput.h"
#include "Platform/X11/X11Input.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/X11Session.h"
#include "VantrelCore/KeyCodes.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t tabKey = vantrel::KeyCodes::tab;
constexpr std::uint16_t leftCommandKey = vantrel::KeyCodes::leftCommand;
constexpr std::uint64_t command = vantrel::ModifierFlags::command;

// Turns the loop until `done` or a second passes; false on timeout.
bool spinUntil(vantrel::ManualRunLoop& loop, const bool& done)
{
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (!done) {
        loop.runPending();
        if (Clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

void BM_HotKeyPressToHandler(benchmark::State& state)
{
    vantrel::test::X11Session::Failure failure;
    auto* session = vantrel::test::sharedX11Session(&failure);
    if (!session) {
        state.SkipWithError(failure.reason.c_str());
        return;
    }
    vantrel::ManualRunLoop loop;
    auto connection = vantrel::X11Connection::open(loop, session->display());
    auto backend = connection ? vantrel::X11InputBackend::make(connection) : nullptr;
    if (!backend || !vantrel::X11FakeInput::isAvailable(*connection)) {
        state.SkipWithError("no X keyboard or no XTEST");
        return;
    }
    bool pressed = false;
    bool released = false;
    Clock::time_point handled;
    auto hotKey = vantrel::HotKey::make(backend, {tabKey, command}, [&] {
        handled = Clock::now();
        pressed = true;
    });
    if (!hotKey) {
        state.SkipWithError("Super+Tab is taken");
        return;
    }
    hotKey->onRelease = [&] { released = true; };
    vantrel::X11FakeInput::key(*connection, leftCommandKey, true);
    connection->sync();

    std::vector<double> latencies;
    for (auto _ : state) {
        pressed = released = false;
        const auto sent = Clock::now();
        vantrel::X11FakeInput::key(*connection, tabKey, true);
        if (!spinUntil(loop, pressed)) {
            state.SkipWithError("hot key did not fire");
            break;
        }
        const std::chrono::duration<double> latency = handled - sent;
        state.SetIterationTime(latency.count());
        latencies.push_back(latency.count() * 1e6);
        // Released before the next press, else it would count as key repeat.
        vantrel::X11FakeInput::key(*connection, tabKey, false);
        if (!spinUntil(loop, released)) {
            state.SkipWithError("hot key release did not arrive");
            break;
        }
    }
    vantrel::X11FakeInput::key(*connection, leftCommandKey, false);
    connection->sync();
    hotKey->unregister();
    if (!latencies.empty()) {
        std::nth_element(latencies.begin(), latencies.begin() + latencies.size() / 2, latencies.end());
        state.counters["median_us"] = latencies[latencies.size() / 2];
    }
}
BENCHMARK(BM_HotKeyPressToHandler)->Iterations(100)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
