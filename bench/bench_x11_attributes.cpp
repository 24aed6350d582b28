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

#include "X11/X11TestSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <optional>

namespace {
/// Replies waited for on any connection of this process: an independent
/// check of the round trips the readers note themselves.
std::atomic<std::uint64_t> repliesWaited{0};
} // namespace

// Every xcb `*_reply` function calls this through libxcb's PLT, so defining it
// here puts a counter in front of the real one.
extern "C" void* xcb_wait_for_reply(xcb_connection_t* c, unsigned int request, xcb_generic_error_t** e)
{
    using Real = void* (*)(xcb_connection_t*, unsigned int, xcb_generic_error_t**);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "xcb_wait_for_reply"));
    repliesWaited.fetch_add(1);
    return real(c, request, e);
}

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

/// Counts round trips (as the connection notes them) and replies waited for
/// while running; reports both per iteration.
class Trips {
public:
    explicit Trips(X11Connection& connection, bool running = true) : connection_(connection)
    {
        if (running)
            resume();
    }
    void resume()
    {
        paused_ = false;
        trips0_ = connection_.roundTrips();
        replies0_ = repliesWaited.load();
    }
    void pause()
    {
        paused_ = true;
        trips_ += connection_.roundTrips() - trips0_;
        replies_ += repliesWaited.load() - replies0_;
    }
    void report(benchmark::State& state)
    {
        if (state.iterations() == 0)
            return;
        if (!paused_)
            pause();
        state.counters["roundTrips"] = benchmark::Counter(static_cast<double>(trips_), benchmark::Counter::kAvgIterations);
        state.counters["replies"] = benchmark::Counter(static_cast<double>(replies_), benchmark::Counter::kAvgIterations);
    }

private:
    X11Connection& connection_;
    std::uint64_t trips0_ = 0, replies0_ = 0, trips_ = 0, replies_ = 0;
    bool paused_ = true;
};

/// What the tracker reads of one application: its windows, then the title,
/// subrole and minimized state of each, then their desktops as spaces.
/// Returns how many windows had all four.
std::size_t refreshThroughAccessibility(X11Accessibility& ax, WindowServerSlots& slots, Pid pid)
{
    AXValue windows;
    if (ax.copyAttributeValue(ax.createApplication(pid), "AXWindows", windows) != AXErrors::success)
        return 0;
    nlohmann::json ids = nlohmann::json::array();
    std::size_t complete = 0;
    for (const auto& element : std::get<std::vector<AXElement>>(windows)) {
        AXValue title, subrole, minimized;
        WindowID id = 0;
        ax.getWindow(element, id);
        const bool all = ax.copyAttributeValue(element, "AXTitle", title) == AXErrors::success &&
                         ax.copyAttributeValue(element, "AXSubrole", subrole) == AXErrors::success &&
                         ax.copyAttributeValue(element, "AXMinimized", minimized) == AXErrors::success &&
                         std::get<std::string>(subrole) == "AXStandardWindow";
        ids.push_back(id);
        complete += all ? 1 : 0;
    }
    // Every window sits on exactly one desktop, so one space each.
    auto spaces = slots.copySpacesForWindows(1, 7, ids);
    benchmark::DoNotOptimize(spaces);
    return spaces && spaces->size() == ids.size() ? complete : 0;
}

/// What every case reads through: a loop and its own connection to the shared
/// desktop and, when asked for, the desktop object, accessibility and window
/// server the tracker uses over it. It marks the case skipped when the desktop
/// did not start, counts round trips (from the start, or when `counting` is
/// false from the first `trips->resume()`), and at its end reports them with
/// `read`, failing the case when not every window was read.
struct Reader {
    Reader(benchmark::State& state, bool withBackend, bool counting = true) : state_(state)
    {
        auto& d = desktop();
        if (!d.error.empty()) {
            state.SkipWithError(d.error.c_str());
            return;
        }
        pid = d.client->pid();
        connection = X11Connection::open(loop, d.session->display());
        if (withBackend)
            makeBackend();
        trips.emplace(*connection, counting);
    }
    ~Reader()
    {
        if (!trips)
            return;
        if (read != windowCount)
            state_.SkipWithError("not every window was read");
        state_.counters["windows"] = static_cast<double>(read);
        trips->report(state_);
    }
    explicit operator bool() const { return trips.has_value(); }

    /// A new desktop object on the connection: its first scan reads everything.
    void makeBackend()
    {
        shared = X11Desktop::create(connection, loop);
        ax = std::make_unique<X11Accessibility>(shared);
        server = std::make_shared<X11WindowServer>(shared);
        slots = server->slots();
    }
    /// Drops the desktop object and runs what its end left on the loop.
    void dropBackend()
    {
        slots = {};
        server.reset();
        ax.reset();
        shared.reset();
        loop.runPending();
    }
    /// Reads through the tracker's path; `read` is how many windows it read completely.
    void refresh() { read = refreshThroughAccessibility(*ax, slots, pid); }

    ManualRunLoop loop;
    std::shared_ptr<X11Connection> connection;
    std::shared_ptr<X11Desktop> shared;
    std::unique_ptr<X11Accessibility> ax;
    std::shared_ptr<X11WindowServer> server;
    WindowServerSlots slots;
    Pid pid = 0;
    std::optional<Trips> trips;
    std::size_t read = 0;

private:
    benchmark::State& state_;
};

void BM_ReadClients500(benchmark::State& state)
{
    Reader r(state, false);
    if (!r)
        return;
    for (auto _ : state) {
        auto root = readRootState(*r.connection);
        auto clients = readClients(*r.connection, root->clientsFrontFirst);
        r.read = static_cast<std::size_t>(std::count_if(clients.begin(), clients.end(), [](const auto& c) { return c.info.has_value(); }));
        benchmark::DoNotOptimize(clients);
    }
}
BENCHMARK(BM_ReadClients500)->Unit(benchmark::kMillisecond);

/// The accessibility path with nothing changed since the last read.
void BM_AccessibilityRefresh500(benchmark::State& state)
{
    Reader r(state, true);
    if (!r)
        return;
    for (auto _ : state) {
        r.refresh();
        r.loop.runPending();
    }
}
BENCHMARK(BM_AccessibilityRefresh500)->Unit(benchmark::kMillisecond);

/// The same after one window's title changed (the change has reached the
/// backend before the timed part starts).
void BM_AccessibilityRefresh500AfterATitleChange(benchmark::State& state)
{
    Reader r(state, true, false);
    if (!r)
        return;
    const auto wmName = r.connection->atom("WM_NAME");
    std::size_t namesSeen = 0;
    auto subscription = r.connection->subscribe([&](const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<const xcb_property_notify_event_t&>(event).atom == wmName)
            ++namesSeen;
    });
    auto& client = *desktop().client;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto before = namesSeen;
        client.writeLine("title many0 window 0, round " + std::to_string(++round));
        const bool changed = client.readLine(std::chrono::seconds(10)) == "ok" &&
                             test::pumpUntil(r.loop, [&] { return namesSeen > before; }, std::chrono::seconds(10));
        if (!changed) {
            state.SkipWithError("the title change was not seen");
            break;
        }
        r.trips->resume();
        state.ResumeTiming();
        r.refresh();
        r.trips->pause();
    }
}
BENCHMARK(BM_AccessibilityRefresh500AfterATitleChange)->Unit(benchmark::kMillisecond);

/// A new desktop object on the connection (its first scan reads everything),
/// then the accessibility path: what the first read after start-up costs.
/// Its teardown is left out of the timing.
void BM_AccessibilityRefresh500OnANewDesktop(benchmark::State& state)
{
    Reader r(state, false);
    if (!r)
        return;
    for (auto _ : state) {
        r.makeBackend();
        r.refresh();
        state.PauseTiming();
        r.trips->pause();
        r.dropBackend();
        r.trips->resume();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AccessibilityRefresh500OnANewDesktop)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vantrel

BENCHMARK_MAIN();
