// links: PanelUI PlatformX11 VantrelTestSupport
// The panels on a private Xvfb: a show of 500 windows from the call until the
// panel is mapped, painted and the server has the picture (the first show
// after construction, and warm shows), one query keystroke re-painting a
// 500-row panel, and the resident memory once both panels have shown 500 rows.
#include "PanelUI/SearchPanel.h"
#include "PanelUI/SwitcherPanel.h"
#include "Platform/X11/X11PanelSupport.h"
#include "Support/X11Session.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;

std::vector<WindowInfo> windows(int count, int salt = 0)
{
    std::vector<WindowInfo> rows;
    for (int i = 0; i < count; ++i) {
        WindowInfo window;
        window.id = static_cast<WindowID>(i + 1);
        window.pid = 0;
        window.appName = "Application " + std::to_string((i + salt) % 37);
        window.title = "Document " + std::to_string(i) + " — a window title of ordinary length";
        window.spaceIDs = {static_cast<SpaceID>(i % 3 + 1)};
        rows.push_back(std::move(window));
    }
    return rows;
}

// Counts the paints of a panel's card.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

QApplication* application()
{
    static QApplication* app = []() -> QApplication* {
        test::X11Session::Failure failure;
        auto* session = test::sharedX11Session(&failure);
        if (!session)
            return nullptr;
        qputenv("DISPLAY", QByteArray::fromStdString(session->display()));
        qputenv("QT_QPA_PLATFORM", "xcb");
        static int argc = 1;
        static char name[] = "bench_panels_x11";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return app;
}

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// Runs Qt's events until the widget was painted again and is on screen, then
// waits for the server to have handled everything Qt sent.
bool untilPainted(QWidget& window, PaintCounter& counter, int paintsBefore)
{
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (counter.paints == paintsBefore || !window.windowHandle() || !window.windowHandle()->isExposed()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (Clock::now() > deadline)
            return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return X11PanelSupport::sync(qtConnection());
}

void hideAndSettle(SwitcherPanel& panel)
{
    panel.hide();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    X11PanelSupport::sync(qtConnection());
}

/// False, with the case marked skipped, when Qt has no X session to show on.
bool started(benchmark::State& state)
{
    if (application())
        return true;
    state.SkipWithError("no Xvfb + openbox");
    return false;
}

/// A panel whose card's paints are counted.
template <class Panel>
struct CountedPanel {
    CountedPanel() { panel.window().installEventFilter(&counter); }
    /// Whether the card was painted again since `paintsBefore` and is on screen.
    bool untilPainted(int paintsBefore) { return ::untilPainted(panel.window(), counter, paintsBefore); }

    Panel panel;
    PaintCounter counter;
};

void BM_SwitcherFirstShow500(benchmark::State& state)
{
    if (!started(state))
        return;
    const auto rows = windows(500);
    for (auto _ : state) {
        state.PauseTiming();
        auto shown = std::make_unique<CountedPanel<SwitcherPanel>>();
        QCoreApplication::processEvents();
        int before = shown->counter.paints;
        state.ResumeTiming();
        shown->panel.show(rows, 1, std::nullopt, false);
        if (!shown->untilPainted(before))
            return state.SkipWithError("the panel was not painted");
        state.PauseTiming();
        hideAndSettle(shown->panel);
        shown.reset();
        state.ResumeTiming();
    }
}

void BM_SwitcherWarmShow500(benchmark::State& state)
{
    if (!started(state))
        return;
    const auto rows = windows(500);
    CountedPanel<SwitcherPanel> shown;
    shown.panel.show(rows, 1, std::nullopt, false);
    shown.untilPainted(0);
    hideAndSettle(shown.panel);
    for (auto _ : state) {
        int before = shown.counter.paints;
        shown.panel.show(rows, 1, std::nullopt, false);
        if (!shown.untilPainted(before))
            return state.SkipWithError("the panel was not painted");
        state.PauseTiming();
        hideAndSettle(shown.panel);
        state.ResumeTiming();
    }
}

// What the switcher does for a typed letter: the new query in the header,
// the re-ranked rows, the first one selected.
void BM_SwitcherQueryKeystroke500(benchmark::State& state)
{
    if (!started(state))
        return;
    const std::vector<WindowInfo> ranked[] = {windows(500, 0), windows(500, 1)};
    CountedPanel<SwitcherPanel> shown;
    shown.panel.show(ranked[0], 0, std::nullopt, false);
    shown.untilPainted(0);
    std::string query;
    std::size_t turn = 0;
    for (auto _ : state) {
        query = query.size() > 20 ? "a" : query + "a";
        int before = shown.counter.paints;
        shown.panel.setQuery(query);
        shown.panel.update(ranked[++turn % 2]);
        shown.panel.select(0);
        if (!shown.untilPainted(before))
            return state.SkipWithError("the panel was not painted");
    }
    hideAndSettle(shown.panel);
}

double residentMegabytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Both panels shown once with 500 rows; the counter is the process's RSS.
void BM_ResidentAfterShowing500(benchmark::State& state)
{
    if (!started(state))
        return;
    const auto rows = windows(500);
    CountedPanel<SwitcherPanel> switcher;
    CountedPanel<SearchPanel> search;
    for (auto _ : state) {
        switcher.panel.show(rows, 1, std::nullopt, false);
        switcher.untilPainted(switcher.counter.paints - 1);
        switcher.panel.hide();
        search.panel.showFast("doc", rows, std::nullopt);
        search.untilPainted(search.counter.paints - 1);
        search.panel.hide();
    }
    state.counters["rss_MB"] = residentMegabytes();
}

BENCHMARK(BM_SwitcherFirstShow500)->Unit(benchmark::kMillisecond)->Iterations(15)->Repetitions(3)->ReportAggregatesOnly(false);
BENCHMARK(BM_SwitcherWarmShow500)->Unit(benchmark::kMillisecond)->Iterations(50)->Repetitions(3);
BENCHMARK(BM_SwitcherQueryKeystroke500)->Unit(benchmark::kMillisecond)->Iterations(100)->Repetitions(3);
BENCHMARK(BM_ResidentAfterShowing500)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
