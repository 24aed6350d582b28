// links: VantrelCore
// Cost of one tracker refresh in the window store: apply a 2,000-window
// snapshot, then read the MRU-ordered list as the switcher does.
#include "VantrelCore/WindowStore.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using namespace vantrel;

TrackingSnapshot makeSnapshot(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    TrackingSnapshot snapshot;
    snapshot.windows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        WindowInfo window;
        window.id = static_cast<WindowID>(1000 + i * 7);
        window.pid = static_cast<ProcessID>(200 + i % 60);
        window.bundleID = "org.example.application" + std::to_string(i % 60);
        window.appName = "Application " + std::to_string(i % 60);
        window.title = "Document " + std::to_string(i) + " — a window title of ordinary length";
        window.isMinimized = random() % 10 == 0;
        window.spaceIDs = {1 + random() % 4};
        snapshot.windows.push_back(std::move(window));
    }
    // Trackers list windows in their own order, not in focus order.
    std::shuffle(snapshot.windows.begin(), snapshot.windows.end(), random);
    snapshot.visibleSpaceIDs = {1, 3};
    snapshot.fullscreenSpaceIDs = {4};
    snapshot.spaceNumbers = {{1, 1}, {2, 2}, {3, 3}, {4, 4}};
    return snapshot;
}

// A store that has seen the windows and a focus history of 300 windows, as
// after a while of use; each refresh then lists the same windows again.
std::unique_ptr<WindowStore> warmStore(const TrackingSnapshot& snapshot)
{
    auto store = std::make_unique<WindowStore>(nullptr);
    store->apply(snapshot);
    for (std::size_t i = 0; i < 300; ++i)
        store->noteFocused(snapshot.windows[(i * 37) % snapshot.windows.size()].id);
    return store;
}

// The store's own work for one refresh listing the same 2,000 windows again.
void BM_ApplyThenOrdered(benchmark::State& state)
{
    const TrackingSnapshot snapshot = makeSnapshot(static_cast<std::size_t>(state.range(0)), 42);
    auto store = warmStore(snapshot);
    for (auto _ : state) {
        store->apply(snapshot);
        const auto& ordered = store->ordered();
        benchmark::DoNotOptimize(ordered.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ApplyThenOrdered)->Arg(2000)->Unit(benchmark::kMicrosecond);

// As the tracker delivers it: a freshly built snapshot moved in (the copy
// stands in for building it and is part of the measured work).
void BM_ApplyFreshSnapshotThenOrdered(benchmark::State& state)
{
    const TrackingSnapshot snapshot = makeSnapshot(static_cast<std::size_t>(state.range(0)), 42);
    auto store = warmStore(snapshot);
    for (auto _ : state) {
        TrackingSnapshot fresh = snapshot;
        store->apply(std::move(fresh));
        const auto& ordered = store->ordered();
        benchmark::DoNotOptimize(ordered.data());
    }
}
BENCHMARK(BM_ApplyFreshSnapshotThenOrdered)->Arg(2000)->Unit(benchmark::kMicrosecond);

// The snapshot copy alone, to tell the store's share from the copying.
void BM_SnapshotCopy(benchmark::State& state)
{
    const TrackingSnapshot snapshot = makeSnapshot(static_cast<std::size_t>(state.range(0)), 42);
    for (auto _ : state) {
        TrackingSnapshot copy = snapshot;
        benchmark::DoNotOptimize(copy.windows.data());
    }
}
BENCHMARK(BM_SnapshotCopy)->Arg(2000)->Unit(benchmark::kMicrosecond);

// A focus change followed by reading the list (a switch without a refresh).
void BM_FocusThenOrdered(benchmark::State& state)
{
    const TrackingSnapshot snapshot = makeSnapshot(static_cast<std::size_t>(state.range(0)), 42);
    auto store = warmStore(snapshot);
    std::size_t next = 0;
    for (auto _ : state) {
        store->noteFocused(snapshot.windows[next++ % snapshot.windows.size()].id);
        const auto& ordered = store->ordered();
        benchmark::DoNotOptimize(ordered.data());
    }
}
BENCHMARK(BM_FocusThenOrdered)->Arg(2000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
