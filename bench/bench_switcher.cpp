// links: Vantrel VantrelCore SearchKit Runtime
// The switcher's two hot paths over 500 windows: a press until the panel is asked to show, and one typed key's re-rank.
#include "Runtime/ManualRunLoop.h"
#include "Runtime/UserDefaults.h"
#include "Support/FakeWindowTracking.h"
#include "Vantrel/SwitcherController.h"

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {
namespace {

constexpr int windowCount = 500;

// Counts calls and keeps nothing, so the figures are the controller's own.
class NullPanel final : public SwitcherPanelInterface {
public:
    void show(const std::vector<WindowInfo>& items, std::ptrdiff_t, const std::optional<ScreenIdentifier>&, bool) override
    {
        visible = true;
        rows = items.size();
        ++shows;
    }
    void update(const std::vector<WindowInfo>& items) override { rows = items.size(); }
    void select(std::ptrdiff_t) override {}
    void setQuery(std::string_view) override {}
    void hide() override { visible = false; }
    bool isVisible() const override { return visible; }
    std::optional<ScreenIdentifier> screen() const override { return std::nullopt; }
    void setSpaceNumbers(const std::map<SpaceID, int>&) override {}
    void setVisibleSpaceIDs(const std::set<SpaceID>&) override {}

    bool visible = false;
    std::size_t rows = 0;
    std::size_t shows = 0;
};

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

// A desktop of 500 windows of 25 applications with varied titles on 4 Spaces.
std::vector<WindowInfo> desktop()
{
    const std::array<const char*, 25> apps{"Firefox", "Terminal", "Mail", "Code", "Notes", "Music", "Calendar",
                                           "Files", "Slack", "Preview", "Photos", "Maps", "Calculator", "Settings",
                                           "Messages", "Chromium", "Spotify", "Zoom", "Obsidian", "Inkscape",
                                           "GIMP", "LibreOffice Writer", "LibreOffice Calc", "Thunderbird", "Xterm"};
    const std::array<const char*, 20> words{"release", "notes", "inbox", "draft", "build", "ssh", "host", "main",
                                            "switcher", "controller", "review", "budget", "2026", "report",
                                            "meeting", "design", "issue", "search", "window", "index.html"};
    std::vector<WindowInfo> windows;
    for (int i = 0; i < windowCount; ++i) {
        WindowInfo window;
        window.id = static_cast<WindowID>(i + 1);
        window.pid = static_cast<ProcessID>(100 + i % 25);
        window.appName = apps[static_cast<std::size_t>(i % 25)];
        window.title = std::string(words[static_cast<std::size_t>(i % 20)]) + " " + words[static_cast<std::size_t>((i * 7 + 3) % 20)] +
                       " — " + words[static_cast<std::size_t>((i * 13 + 5) % 20)] + " " + std::to_string(i);
        window.isMinimized = i % 17 == 0;
        window.spaceIDs = {static_cast<SpaceID>(1 + i % 4)};
        windows.push_back(std::move(window));
    }
    return windows;
}

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
        snapshot.windows = desktop();
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
    NullPanel panel;
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
