// A probe of whole switcher processes on the X server of $DISPLAY, driven by XTEST, for bench/compare-app.sh.
//
//   app_probe_x11 launch PROGRAM [ARGS...]
//       Starts PROGRAM and presses Super+Tab into a focused window of the
//       probe's own until the Tab stops arriving there: PROGRAM holds the
//       chord. Prints "launch_ms X pid P" and leaves PROGRAM running, its
//       output going to $APP_PROBE_LOG (else /dev/null).
//   app_probe_x11 release N
//       N times: Super held over one Tab for 300 ms, then let go. Prints the
//       time from the release to _NET_ACTIVE_WINDOW changing, in ms, one a line.
#include "Platform/X11/X11Connection.h"
#include "Platform/X11/X11FakeInput.h"
#include "Runtime/ManualRunLoop.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint16_t tabKey = 48, superKey = 55;
constexpr xcb_keycode_t tabKeyCode = 23;

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

template <class F>
bool waitFor(F done, Clock::duration timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(50us);
    }
    return true;
}

void superTab(X11Connection& connection, bool releaseSuper)
{
    X11FakeInput::key(connection, superKey, true);
    X11FakeInput::key(connection, tabKey, true);
    X11FakeInput::key(connection, tabKey, false);
    if (releaseSuper)
        X11FakeInput::key(connection, superKey, false);
}

int launch(X11Connection& connection, std::vector<char*> argv)
{
    auto* c = connection.raw();
    std::atomic<int> tabs{0};
    const xcb_window_t window = xcb_generate_id(c);
    auto watch = connection.subscribeOnArrival([&](const xcb_generic_event_t& event) {
        const auto& key = reinterpret_cast<const xcb_key_press_event_t&>(event);
        if ((event.response_type & 0x7f) == XCB_KEY_PRESS && key.event == window && key.detail == tabKeyCode)
            ++tabs;
    });
    const std::uint32_t values[] = {XCB_EVENT_MASK_KEY_PRESS};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, connection.root(), 0, 0, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, values);
    xcb_map_window(c, window);
    connection.sync();
    std::this_thread::sleep_for(200ms); // the window manager maps it
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    connection.sync();
    superTab(connection, true);
    connection.sync();
    if (!waitFor([&] { return tabs.load() > 0; }, 1s)) {
        std::fprintf(stderr, "app_probe_x11: Super+Tab does not reach the probe's window before the launch\n");
        return 1;
    }

    argv.push_back(nullptr);
    const char* log = std::getenv("APP_PROBE_LOG");
    posix_spawn_file_actions_t output;
    posix_spawn_file_actions_init(&output);
    posix_spawn_file_actions_addopen(&output, 1, log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&output, 1, 2);
    pid_t pid = 0;
    const auto started = Clock::now();
    const int spawned = posix_spawnp(&pid, argv[0], &output, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&output);
    if (spawned != 0) {
        std::fprintf(stderr, "app_probe_x11: cannot start %s\n", argv[0]);
        return 1;
    }
    while (Clock::now() - started < 10s) {
        const int before = tabs.load();
        const auto sent = Clock::now();
        superTab(connection, true);
        connection.sync();
        if (!waitFor([&] { return tabs.load() > before; }, 5ms)) {
            std::printf("launch_ms %.2f pid %d\n", milliseconds(sent - started), pid);
            return 0;
        }
    }
    std::fprintf(stderr, "app_probe_x11: %s never took Super+Tab\n", argv[0]);
    std::printf("launch_ms - pid %d\n", pid);
    return 1;
}

int release(X11Connection& connection, int count)
{
    auto* c = connection.raw();
    const xcb_atom_t active = connection.atom("_NET_ACTIVE_WINDOW");
    std::atomic<int> changes{0};
    std::atomic<Clock::rep> changedAt{0};
    auto watch = connection.subscribeOnArrival([&](const xcb_generic_event_t& event) {
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if ((event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY && notify.window == connection.root() &&
            notify.atom == active) {
            changedAt = Clock::now().time_since_epoch().count();
            ++changes;
        }
    });
    const std::uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_change_window_attributes(c, connection.root(), XCB_CW_EVENT_MASK, mask);
    connection.sync();
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        superTab(connection, false);
        connection.flush();
        std::this_thread::sleep_for(300ms);
        const int before = changes.load();
        const auto released = Clock::now();
        X11FakeInput::key(connection, superKey, false);
        connection.flush();
        if (waitFor([&] { return changes.load() > before; }, 2s))
            std::printf("%.3f\n", milliseconds(Clock::time_point(Clock::duration(changedAt.load())) - released));
        else
            ++failures;
        std::fflush(stdout);
        std::this_thread::sleep_for(200ms); // the window manager's own follow-up changes
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!(mode == "launch" && argc > 2) && !(mode == "release" && argc == 3)) {
        std::fprintf(stderr, "usage: app_probe_x11 launch PROGRAM [ARGS...] | app_probe_x11 release N\n");
        return 2;
    }
    ManualRunLoop loop;
    auto connection = X11Connection::open(loop);
    if (!connection || !X11FakeInput::isAvailable(*connection)) {
        std::fprintf(stderr, "app_probe_x11: no X server with XTEST on $DISPLAY\n");
        return 1;
    }
    if (mode == "launch")
        return launch(*connection, std::vector<char*>(argv + 2, argv + argc));
    return release(*connection, std::stoi(argv[2]));
}
