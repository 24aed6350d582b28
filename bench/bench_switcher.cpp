// links: Vantrel VantrelCore SearchKit Runtime
// The switcher's two hot paths over 500 windows: a press until the panel is asked to show, and one typed key's re-rank.
#include "ControllerBench.h"

#include "Runtime/ManualRunLoop.h"
#include "Runtime/UserDefaults.h"
#include "Support/FakeWindowTracking.h"
#include "Vantrel/SwitcherController.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace vantrel {
namespace {

constexpr int windowCount = 500;

class NullMirrors final : public MirrorPanelsInterface {
public:
    void show(const std::vector<WindowInfo>&, std::ptrdiff_t, const std::optional<ScreenIdentifier>&) override {}
    void update(const std::vector<WindowInfo>&) override {}
    void select(std::ptrdiff_t) override {}
    void hide() override {}
};

class NullEnvironment final : public SwitcherEnvironment {
public:
    std::optional<ProcessID> frontmostProcess() const override { return 1; }
    KeyRepeat keyRepeat() const override { return {}; }
    std::optional<ScreenIdentifier> mainScreen() const override { return std::nullopt; }
    WindowFocus::Trace focusWindow(const WindowInfo&) override { return {}; }
    std::unique_ptr<Observation> observeFrontmost(FrontmostHandler) override { return nullptr; }
    bool quitApplication(ProcessID) override { return false; }
    bool hideApplication(ProcessID) override { return false; }
    bool closeWindow(const WindowInfo&) override { return false; }
    bool minimizeWindow(const WindowInfo&) override { return false; }
};

struct Rig {
    Rig()
    {
        auto tracker = std::make_unique<test::FakeWindowTracking>(tracking);
        store = std::make_unique<WindowStore>(std::move(tracker));
        store->start();
        settingsStore.update([](Settings& s) { s.showDelayMilliseconds = 0; });
        controller = std::make_unique<SwitcherController>(loop, *store, panel, settingsStore, environment,
                                                          std::make_unique<NullMirrors>());
        store->onChange = [this] { controller->storeChanged(); };
        TrackingSnapshot snapshot;
        snapshot.windows = bench::sampleDesktop(windowCount, true);
        snapshot.visibleSpaceIDs = {1};
        snapshot.spaceNumbers = {{1, 1}, {2, 2}, {3, 3}, {4, 4}};
        tracking->publish(snapshot);
        // A realistic focus history: every third window focused at some point.
        for (int i = windowCount; i > 0; i -= 3)
            tracking->focus(static_cast<WindowID>(i));
    }

    ManualRunLoop loop;
    std::shared_ptr<test::FakeTrackingLog> tracking = std::make_shared<test::FakeTrackingLog>();
    std::unique_ptr<WindowStore> store;
    SettingsStore settingsStore{std::make_shared<MemoryUserDefaults>()};
    bench::CountingSwitcherPanel panel;
    NullEnvironment environment;
    std::unique_ptr<SwitcherController> controller;
};

// From the chord's press to the panel's show call, with no delay configured.
void BM_ActivateToShow(benchmark::State& state)
{
    Rig rig;
    const SwitcherConfig config = SwitcherConfig::commandTab();
    for (auto _ : state) {
        rig.controller->activate(config);
        rig.controller->endSession();
        rig.panel.hide();
    }
    if (rig.panel.rows != windowCount)
        state.SkipWithError("the panel did not get every window");
    state.counters["shows"] = static_cast<double>(rig.panel.shows);
}
BENCHMARK(BM_ActivateToShow)->Unit(benchmark::kMicrosecond);

// One keystroke: the whole query so far re-ranked over all 500 windows. The
// queries are the prefixes of a few typical searches, cycled.
void BM_QueryKeystroke(benchmark::State& state)
{
    Rig rig;
    rig.controller->activate(SwitcherConfig::commandTab());
    std::vector<std::string> keystrokes;
    for (std::string typed : {"term ssh", "firefox rel", "mail inbox", "swcon"})
        for (std::size_t n = 1; n <= typed.size(); ++n)
            keystrokes.push_back(typed.substr(0, n));
    std::size_t next = 0;
    std::size_t matched = 0;
    for (auto _ : state) {
        rig.controller->queryChanged(keystrokes[next]);
        matched += rig.controller->session()->items.size();
        next = (next + 1) % keystrokes.size();
    }
    state.counters["rows"] = benchmark::Counter(static_cast<double>(matched), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_QueryKeystroke)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace vantrel

BENCHMARK_MAIN();
