// links: Vantrel VantrelTestSupport
// One search panel keystroke: the query so far re-ranked over 500 windows and
// handed to the panel, with 50 learned shortcuts (25 queries, each learned for
// a window and its application) and without any.
#include "ControllerBench.h"

#include "Runtime/ManualRunLoop.h"
#include "Runtime/UserDefaults.h"
#include "Support/FakePanels.h"
#include "Support/FakeWindowTracking.h"
#include "Vantrel/SearchController.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

namespace vantrel {
namespace {

constexpr int windowCount = 500;

/// Discards every panel call: only the controller's work is timed.
struct NullSearchPanel final : SearchPanelInterface {
    void show(const std::vector<WindowInfo>&, const std::optional<ScreenIdentifier>&) override {}
    void showFast(std::string_view, const std::vector<WindowInfo>&, const std::optional<ScreenIdentifier>&) override {}
    void update(const std::vector<WindowInfo>& items) override { rows += items.size(); }
    void updateFast(std::string_view, const std::vector<WindowInfo>&) override {}
    void select(std::ptrdiff_t) override {}
    void hide() override {}
    void cancel() override {}
    std::string query() const override { return {}; }
    bool isVisible() const override { return true; }
    std::size_t rows = 0;
};

struct Rig {
    explicit Rig(bool learned)
    {
        store.start();
        const auto windows = bench::sampleDesktop(windowCount);
        tracking->publish({windows, {}, {}, {}});
        if (learned) {
            // 25 two-letter queries, each learned for one window and its application.
            LearnedShortcuts shortcuts;
            for (std::size_t i = 0; i < 25; ++i) {
                const WindowInfo& window = windows[i * 19 % windows.size()];
                const std::string query = window.title.substr(0, 1) + window.appName.substr(0, 1);
                shortcuts.record(query, SearchController::appKey(window), LearnedShortcuts::Date::now());
                shortcuts.record(query, SearchController::key(window), LearnedShortcuts::Date::now());
            }
            shortcuts.save(file);
        }
        controller = std::make_unique<SearchController>(loop, store, panel, settingsStore, file);
    }
    ~Rig() { std::filesystem::remove(file); }

    ManualRunLoop loop;
    std::shared_ptr<test::FakeTrackingLog> tracking = std::make_shared<test::FakeTrackingLog>();
    WindowStore store{std::make_unique<test::FakeWindowTracking>(tracking)};
    SettingsStore settingsStore{std::make_shared<MemoryUserDefaults>()};
    NullSearchPanel panel;
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("vantrel-bench-shortcuts-" + std::to_string(::getpid()) + ".json");
    std::unique_ptr<SearchController> controller;
};

// The keystrokes of a few typical searches, each a learned query or a prefix of one.
void BM_SearchKeystroke(benchmark::State& state)
{
    Rig rig(state.range(0) != 0);
    if (state.range(0) != 0 && rig.controller->shortcuts().entries.size() < 10)
        return state.SkipWithError("the shortcuts did not load");
    const std::vector<std::string> keystrokes{"r", "rf", "n", "nt", "i", "im", "b", "bc", "s", "sm", "term", "rel"};
    std::size_t next = 0;
    for (auto _ : state) {
        rig.controller->queryChanged(keystrokes[next]);
        next = (next + 1) % keystrokes.size();
    }
    state.counters["rows"] = benchmark::Counter(static_cast<double>(rig.panel.rows), benchmark::Counter::kAvgIterations);
    state.counters["learned"] = static_cast<double>(rig.controller->shortcuts().entries.size());
}
BENCHMARK(BM_SearchKeystroke)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

} // namespace
} // namespace vantrel

BENCHMARK_MAIN();
