// links: Vantrel PlatformX11 VantrelTestSupport
// The switcher controller on a private Xvfb + openbox, with three client windows:
// an XTEST Super+Tab press to the session's activate (its panel show), a commit
// to _NET_ACTIVE_WINDOW changing, and the release of Super to _NET_ACTIVE_WINDOW
// changing, measured for Vantrel and then, in the same run on the same server,
// for alttab (run as a black box on Super+Tab) when it is installed.
#include "ControllerBench.h"

#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11FakeInput.h"
#include "Platform/X11/X11Input.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/FakePanels.h"
#include "Support/FakeWindowTracking.h"
#include "Support/X11Session.h"
#include "Vantrel/DesktopEnvironment.h"
#include "Vantrel/SwitcherController.h"
#include "VantrelCore/KeyCodes.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t tabKey = KeyCodes::tab, superKey = KeyCodes::leftCommand;
/// How long a held chord waits before the release, so the switcher (ours or
/// alttab) has taken the Tab in before Super goes up.
constexpr auto settle = std::chrono::milliseconds(30);

/// The session, its windows and the controller, shared by the benchmarks.
struct Rig {
    std::unique_ptr<test::X11Session> session;
    std::unique_ptr<test::ChildProcess> client;
    ManualRunLoop loop;
    std::shared_ptr<X11Connection> connection;
    std::shared_ptr<X11InputBackend> input;
    X11Connection::Subscription watch;
    std::atomic<std::int64_t> activeChangedAt{0};
    std::atomic<int> activeChanges{0};
    std::shared_ptr<test::FakeTrackingLog> tracking = std::make_shared<test::FakeTrackingLog>();
    WindowStore store{std::make_unique<test::FakeWindowTracking>(tracking)};
    SettingsStore settingsStore{std::make_shared<MemoryUserDefaults>()};
    bench::CountingSwitcherPanel panel;
    std::unique_ptr<DesktopEnvironment> environment;
    std::unique_ptr<SwitcherController> controller;
    std::vector<WindowInfo> windows;
    std::string error;

    Rig()
    {
        test::X11Session::Failure failure;
        session = test::X11Session::start(&failure);
        connection = session ? X11Connection::open(loop, session->display()) : nullptr;
        input = connection ? X11InputBackend::make(connection) : nullptr;
        if (!input || !X11FakeInput::isAvailable(*connection)) {
            error = session ? "no X keyboard or no XTEST" : failure.reason;
            return;
        }
        SystemBridge::install(makeX11Backends(connection, loop));
        setCurrentInputBackend(input);
        const xcb_atom_t active = connection->atom("_NET_ACTIVE_WINDOW");
        const xcb_window_t root = connection->root();
        watch = connection->subscribeOnArrival([this, active, root](const xcb_generic_event_t& event) {
            const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if ((event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY && notify.window == root && notify.atom == active) {
                activeChangedAt = Clock::now().time_since_epoch().count();
                ++activeChanges;
            }
        });
        test::ChildProcess::Options options;
        options.argv = {VANTREL_X11_TEST_CLIENT};
        options.environment = {{"DISPLAY", session->display()}};
        options.pipeStdin = options.pipeStdout = true;
        client = test::ChildProcess::spawn(options);
        if (!client || client->readLine(std::chrono::seconds(10)) != "ready") {
            error = "test client did not start";
            return;
        }
        for (const char* tag : {"one", "two", "three"}) {
            client->writeLine(std::string("open ") + tag + " title=" + tag);
            auto reply = client->readLine(std::chrono::seconds(10)).value_or("");
            if (!reply.starts_with("opened ")) {
                error = "window not opened: " + reply;
                return;
            }
            WindowInfo window;
            window.id = static_cast<WindowID>(std::stoul(reply.substr(reply.rfind(' ') + 1)));
            window.pid = client->pid();
            window.appName = "x11_test_client";
            window.title = tag;
            windows.insert(windows.begin(), window);
        }
        store.start();
        tracking->publish({windows, {}, {}, {}});
        settingsStore.update([](Settings& s) { s.showDelayMilliseconds = 0; });
        environment = std::make_unique<DesktopEnvironment>(loop);
        controller = std::make_unique<SwitcherController>(loop, store, panel, settingsStore, *environment,
                                                          std::make_unique<test::FakeMirrorPanels>());
        controller->start();
    }
    ~Rig()
    {
        controller.reset();
        setCurrentInputBackend(nullptr);
        SystemBridge::reset();
    }

    /// Turns the loop until `done` or two seconds pass.
    bool spinUntil(const std::function<bool()>& done)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (!done()) {
            loop.runPending();
            if (Clock::now() > deadline)
                return false;
            std::this_thread::yield();
        }
        return true;
    }
    void key(std::uint16_t code, bool down)
    {
        X11FakeInput::key(*connection, code, down);
        connection->sync();
    }
    /// Seconds from `since` to the latest change of the active window, once
    /// there has been one after `before` changes.
    std::optional<double> activeChangeAfter(Clock::time_point since, int before)
    {
        if (!spinUntil([&] { return activeChanges.load() > before; }))
            return std::nullopt;
        const Clock::time_point changed{Clock::duration(activeChangedAt.load())};
        return std::chrono::duration<double>(changed - since).count();
    }
};

Rig& rig()
{
    static Rig instance;
    return instance;
}

/// One latency case on the shared rig, skipped when the rig did not start:
/// each iteration's latency is its time, and their median is reported at the end.
class LatencyCase {
public:
    explicit LatencyCase(benchmark::State& state) : state_(state)
    {
        if (!rig().error.empty())
            state.SkipWithError(rig().error.c_str());
    }
    ~LatencyCase()
    {
        if (seconds_.empty())
            return;
        std::nth_element(seconds_.begin(), seconds_.begin() + static_cast<std::ptrdiff_t>(seconds_.size() / 2), seconds_.end());
        state_.counters["median_us"] = seconds_[seconds_.size() / 2] * 1e6;
    }
    explicit operator bool() const { return rig().error.empty(); }

    /// Takes `latency` as the iteration's time; false, with the case marked
    /// failed by `failure`, when there is none.
    bool add(std::optional<double> latency, const char* failure)
    {
        if (!latency) {
            state_.SkipWithError(failure);
            return false;
        }
        state_.SetIterationTime(*latency);
        seconds_.push_back(*latency);
        return true;
    }

private:
    benchmark::State& state_;
    std::vector<double> seconds_;
};

void BM_SuperTabPressToActivate(benchmark::State& state)
{
    LatencyCase latencies(state);
    if (!latencies)
        return;
    Rig& r = rig();
    r.key(superKey, true);
    for (auto _ : state) {
        const std::size_t shows = r.panel.shows;
        const auto sent = Clock::now();
        X11FakeInput::key(*r.connection, tabKey, true);
        r.connection->flush();
        std::optional<double> latency;
        if (r.spinUntil([&] { return r.panel.shows > shows; }))
            latency = std::chrono::duration<double>(r.panel.shownAt - sent).count();
        if (!latencies.add(latency, "activate did not run"))
            break;
        r.key(tabKey, false);
        r.loop.runPending();
        r.controller->endSession();
        r.panel.hide();
    }
    r.key(superKey, false);
    r.loop.runPending();
}
BENCHMARK(BM_SuperTabPressToActivate)->Iterations(100)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_CommitToActiveWindow(benchmark::State& state)
{
    LatencyCase latencies(state);
    if (!latencies)
        return;
    Rig& r = rig();
    // Windows other than the active one, in turn.
    std::size_t next = 0;
    for (auto _ : state) {
        const WindowInfo& target = r.windows[1 + next++ % (r.windows.size() - 1)];
        const int before = r.activeChanges.load();
        const auto committed = Clock::now();
        r.controller->focus(target);
        if (!latencies.add(r.activeChangeAfter(committed, before), "the active window did not change"))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // the window manager's own follow-up changes
    }
}
BENCHMARK(BM_CommitToActiveWindow)->Iterations(100)->UseManualTime()->Unit(benchmark::kMicrosecond);

/// Super held over one Tab, then let go: from the release to the active window
/// changing. `switcherReady` says when the switcher has the Tab.
std::optional<double> releaseToActive(Rig& r, const std::function<bool()>& switcherReady)
{
    r.key(superKey, true);
    r.key(tabKey, true);
    r.key(tabKey, false);
    if (!r.spinUntil(switcherReady))
        return std::nullopt;
    std::this_thread::sleep_for(settle);
    r.loop.runPending();
    const int before = r.activeChanges.load();
    const auto released = Clock::now();
    X11FakeInput::key(*r.connection, superKey, false);
    r.connection->flush();
    auto latency = r.activeChangeAfter(released, before);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    r.loop.runPending();
    return latency;
}

void BM_ReleaseToActiveWindowVantrel(benchmark::State& state)
{
    LatencyCase latencies(state);
    if (!latencies)
        return;
    Rig& r = rig();
    for (auto _ : state) {
        const std::size_t shows = r.panel.shows;
        if (!latencies.add(releaseToActive(r, [&] { return r.panel.shows > shows; }), "no switch"))
            break;
    }
}
BENCHMARK(BM_ReleaseToActiveWindowVantrel)->Iterations(50)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ReleaseToActiveWindowAlttab(benchmark::State& state)
{
    LatencyCase latencies(state);
    if (!latencies)
        return;
    if (!std::filesystem::exists("/usr/bin/alttab"))
        return state.SkipWithError("alttab is not installed");
    Rig& r = rig();
    r.controller->stop(); // Super+Tab is alttab's now
    test::ChildProcess::Options options;
    options.argv = {"/usr/bin/alttab", "-mk", "Super_L", "-kk", "Tab", "-w", "1"};
    options.environment = {{"DISPLAY", r.session->display()}};
    auto alttab = test::ChildProcess::spawn(options);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // its grabs
    for (auto _ : state) {
        if (!latencies.add(releaseToActive(r, [] { return true; }), "alttab did not switch"))
            break;
    }
}
BENCHMARK(BM_ReleaseToActiveWindowAlttab)->Iterations(50)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace vantrel

BENCHMARK_MAIN();
