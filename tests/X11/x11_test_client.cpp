// A tiny X client for the X11 tests: opens windows and changes them on
// commands read from standard input, one per line, answering each on standard
// output ("ok", "opened TAG ID", "error ...") after a round trip, and printing
// "closed TAG" when the window manager asks a window to close.
//
//   open TAG [class=INSTANCE,CLASS] [type=NAME|none] [desktop=N|all] [transient=TAG]
//            [skip-taskbar=1] [pid=0] [ignore-delete=1] [title=REST OF LINE]
//   title TAG TEXT          _NET_WM_NAME (UTF-8) and WM_NAME
//   wmname TAG TEXT         WM_NAME only (STRING), _NET_WM_NAME removed
//   hostile TAG KIND [N]    huge-title N | padded-title N TEXT (N "x" then TEXT) | invalid-utf8 |
//                           name-wrong-type | desktop-wrong-type | state-wrong-type | type-wrong-format |
//                           pid N (any 32-bit value) | pid-wrong-type | pid-wrong-format | class-no-nul |
//                           huge-icon (claims 65536×65536 pixels, gives two; bench/reliability.sh)
//   minimize TAG            ICCCM WM_CHANGE_STATE to IconicState
//   desktop TAG N|all       an EWMH _NET_WM_DESKTOP request
//   icon TAG W H            a W×H _NET_WM_ICON
//   destroy TAG             destroys the window
//   many N                  N windows "window 0"… over four desktops, answered
//                           "opened-many" once all are managed
//   keyboard-held           "ok" while another client holds the keyboard grab,
//                           else "error free"
#include <xcb/xcb.h>

#include <execinfo.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

xcb_connection_t* connection = nullptr;
xcb_screen_t* screen = nullptr;

struct Window {
    xcb_window_t id = 0;
    bool ignoreDelete = false;
};
std::map<std::string, Window> windows;

xcb_atom_t atom(const std::string& name)
{
    auto reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return result;
}

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void sync()
{
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

void setProperty(xcb_window_t window, const std::string& property, xcb_atom_t type, int format, const void* data, std::size_t units)
{
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom(property), type, static_cast<std::uint8_t>(format),
                        static_cast<std::uint32_t>(units), data);
}

void setValue(xcb_window_t window, const std::string& property, xcb_atom_t type, std::uint32_t value)
{
    setProperty(window, property, type, 32, &value, 1);
}

void setText(xcb_window_t window, const std::string& property, const std::string& type, const std::string& text)
{
    setProperty(window, property, type == "STRING" ? xcb_atom_t{XCB_ATOM_STRING} : atom(type), 8, text.data(), text.size());
}

void rootMessage(xcb_window_t window, const std::string& type, std::uint32_t d0, std::uint32_t d1 = 0)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(type);
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[3] = 1;
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

void handleEvent(xcb_generic_event_t* event)
{
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return;
    auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
    if (message->type != atom("WM_PROTOCOLS") || message->data.data32[0] != atom("WM_DELETE_WINDOW"))
        return;
    auto it = std::ranges::find(windows, message->window, [](const auto& entry) { return entry.second.id; });
    if (it == windows.end())
        return;
    if (it->second.ignoreDelete)
        return say("ignored " + it->first);
    xcb_destroy_window(connection, it->second.id);
    xcb_flush(connection);
    say("closed " + it->first);
    windows.erase(it);
}

void drainEvents(bool read)
{
    while (auto* event = read ? xcb_poll_for_event(connection) : xcb_poll_for_queued_event(connection)) {
        handleEvent(event);
        std::free(event);
    }
}

/// A window-list property of the root window (null when the server gives none).
xcb_get_property_reply_t* rootWindows(const std::string& property, std::uint32_t most)
{
    return xcb_get_property_reply(connection,
        xcb_get_property(connection, 0, screen->root, atom(property), XCB_ATOM_WINDOW, 0, most), nullptr);
}

bool isManaged(xcb_window_t window)
{
    auto reply = rootWindows("_NET_CLIENT_LIST", 65536);
    bool found = false;
    if (reply && reply->format == 32) {
        auto* ids = static_cast<xcb_window_t*>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
            found = found || ids[i] == window;
    }
    std::free(reply);
    return found;
}

/// The rest of the line, without its leading blanks.
std::string rest(std::istringstream& in)
{
    std::string text;
    std::getline(in >> std::ws, text);
    return text;
}

template <typename T>
T next(std::istringstream& in)
{
    T value{};
    in >> value;
    return value;
}

std::uint32_t desktopValue(const std::string& text)
{
    return text == "all" ? 0xFFFFFFFFu : static_cast<std::uint32_t>(std::stoul(text));
}

/// The options of `open`, by name; the title takes the rest of the line.
std::map<std::string, std::string> options(std::istringstream& in)
{
    std::map<std::string, std::string> result;
    std::string word;
    while (in >> word) {
        const auto eq = word.find('=');
        if (eq != std::string::npos)
            result[word.substr(0, eq)] = word.substr(eq + 1);
        if (word.starts_with("title=")) {
            std::string more;
            std::getline(in, more);
            result["title"] += more;
            break;
        }
    }
    return result;
}

xcb_window_t create(const std::string& tag, std::map<std::string, std::string> opt)
{
    const xcb_window_t id = xcb_generate_id(connection);
    const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, id, screen->root, 10, 10, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    const std::string title = opt.count("title") ? opt["title"] : tag;
    setText(id, "_NET_WM_NAME", "UTF8_STRING", title);
    setText(id, "WM_NAME", "STRING", title);
    std::string cls = opt.count("class") ? opt["class"] : "testclient,TestClient";
    std::replace(cls.begin(), cls.end(), ',', '\0');
    setText(id, "WM_CLASS", "STRING", cls + '\0');
    setValue(id, "WM_PROTOCOLS", XCB_ATOM_ATOM, atom("WM_DELETE_WINDOW"));
    if (opt["pid"] != "0")
        setValue(id, "_NET_WM_PID", XCB_ATOM_CARDINAL, static_cast<std::uint32_t>(getpid()));
    if (opt.count("type") && opt["type"] != "none") {
        std::string name = opt["type"];
        std::ranges::transform(name, name.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        setValue(id, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, atom("_NET_WM_WINDOW_TYPE_" + name));
    }
    if (opt.count("desktop"))
        setValue(id, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, desktopValue(opt["desktop"]));
    if (opt.count("transient") && windows.count(opt["transient"]))
        setValue(id, "WM_TRANSIENT_FOR", XCB_ATOM_WINDOW, windows[opt["transient"]].id);
    if (opt["skip-taskbar"] == "1")
        setValue(id, "_NET_WM_STATE", XCB_ATOM_ATOM, atom("_NET_WM_STATE_SKIP_TASKBAR"));
    xcb_map_window(connection, id);
    windows[tag] = {id, opt["ignore-delete"] == "1"};
    return id;
}

/// Waits until the window manager lists every window: it maps windows of
/// hidden desktops later or never, so MapNotify would not do.
bool managed(const std::vector<xcb_window_t>& ids, std::chrono::seconds timeout)
{
    xcb_flush(connection);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!std::all_of(ids.begin(), ids.end(), isManaged)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd p{xcb_get_file_descriptor(connection), POLLIN, 0};
        ::poll(&p, 1, 20);
        drainEvents(true);
    }
    return true;
}

/// How long `open` waits for the window manager to list its window.
constexpr std::chrono::seconds openTimeout(20);

/// Says on standard error what became of a window the window manager has
/// not listed: whether it is mapped, whether it was reparented into a frame,
/// and whether a window manager is there at all.
void describeUnmanaged(xcb_window_t window)
{
    auto attributes = xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
    auto tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
    auto check = rootWindows("_NET_SUPPORTING_WM_CHECK", 1);
    auto list = rootWindows("_NET_CLIENT_LIST", 65536);
    std::fprintf(stderr,
        "x11_test_client: window 0x%x not in _NET_CLIENT_LIST after %lld s: map state %d, parent %s, "
        "window manager check %s, %d windows listed\n",
        window, static_cast<long long>(openTimeout.count()), attributes ? attributes->map_state : -1,
        !tree ? "unknown" : tree->parent == screen->root ? "the root" : "a frame",
        check && xcb_get_property_value_length(check) == 4 ? "set" : "missing",
        list ? xcb_get_property_value_length(list) / 4 : -1);
    std::free(attributes);
    std::free(tree);
    std::free(check);
    std::free(list);
}

/// Bare windows (a title, a desktop, a pid) as the benchmark reads them.
void many(int count)
{
    std::vector<xcb_window_t> ids;
    for (int i = 0; i < count; ++i) {
        const xcb_window_t id = xcb_generate_id(connection);
        const std::uint32_t values[] = {screen->white_pixel};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, id, screen->root, 0, 0, 320, 240, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
        setText(id, "_NET_WM_NAME", "UTF8_STRING", "window " + std::to_string(i));
        setValue(id, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, static_cast<std::uint32_t>(i % 4));
        setValue(id, "_NET_WM_PID", XCB_ATOM_CARDINAL, static_cast<std::uint32_t>(getpid()));
        xcb_map_window(connection, id);
        windows["many" + std::to_string(i)] = {id, false};
        ids.push_back(id);
    }
    say(managed(ids, std::chrono::seconds(60)) ? "opened-many" : "error many not managed");
}

bool keyboardHeld()
{
    auto cookie = xcb_grab_keyboard(connection, 0, screen->root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    auto* reply = xcb_grab_keyboard_reply(connection, cookie, nullptr);
    const bool held = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS)
        xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    std::free(reply);
    sync();
    return held;
}

/// What each command (and each hostile KIND) does to the window it names.
using In = std::istringstream;
const std::map<std::string, void (*)(xcb_window_t, In&)> changes = {
    {"title", [](xcb_window_t id, In& in) {
         const auto text = rest(in);
         setText(id, "_NET_WM_NAME", "UTF8_STRING", text);
         setText(id, "WM_NAME", "STRING", text);
     }},
    {"wmname", [](xcb_window_t id, In& in) {
         xcb_delete_property(connection, id, atom("_NET_WM_NAME"));
         setText(id, "WM_NAME", "STRING", rest(in));
     }},
    {"minimize", [](xcb_window_t id, In&) { rootMessage(id, "WM_CHANGE_STATE", 3); }},
    {"desktop", [](xcb_window_t id, In& in) { rootMessage(id, "_NET_WM_DESKTOP", desktopValue(next<std::string>(in)), 1); }},
    {"icon", [](xcb_window_t id, In& in) {
         const auto width = next<std::uint32_t>(in), height = next<std::uint32_t>(in);
         std::vector<std::uint32_t> data{width, height};
         data.resize(2 + std::size_t(width) * height, 0xFF336699);
         setProperty(id, "_NET_WM_ICON", XCB_ATOM_CARDINAL, 32, data.data(), data.size());
     }},
    {"destroy", [](xcb_window_t id, In&) {
         xcb_destroy_window(connection, id);
         std::erase_if(windows, [id](const auto& entry) { return entry.second.id == id; });
     }},
    {"huge-title", [](xcb_window_t id, In& in) { setText(id, "_NET_WM_NAME", "UTF8_STRING", std::string(next<std::size_t>(in), 'x')); }},
    {"padded-title", [](xcb_window_t id, In& in) {
         const std::string padding(next<std::size_t>(in), 'x');
         setText(id, "_NET_WM_NAME", "UTF8_STRING", padding + next<std::string>(in));
     }},
    {"invalid-utf8", [](xcb_window_t id, In&) {
         setText(id, "_NET_WM_NAME", "UTF8_STRING", std::string("ab\xff\xfe" "c\xc0\xaf" "d\xed\xa0\x80" "e\xe2\x82", 14));
     }},
    {"name-wrong-type", [](xcb_window_t id, In&) {
         const std::uint32_t numbers[] = {0x41414141, 0x42424242};
         setProperty(id, "_NET_WM_NAME", XCB_ATOM_CARDINAL, 32, numbers, 2);
     }},
    {"desktop-wrong-type", [](xcb_window_t id, In&) { setText(id, "_NET_WM_DESKTOP", "STRING", "1"); }},
    {"state-wrong-type", [](xcb_window_t id, In&) { setValue(id, "_NET_WM_STATE", XCB_ATOM_CARDINAL, atom("_NET_WM_STATE_HIDDEN")); }},
    {"type-wrong-format", [](xcb_window_t id, In&) {
         const std::uint16_t half[] = {1, 2};
         setProperty(id, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, 16, half, 2);
     }},
    {"pid", [](xcb_window_t id, In& in) { setValue(id, "_NET_WM_PID", XCB_ATOM_CARDINAL, next<std::uint32_t>(in)); }},
    {"pid-wrong-type", [](xcb_window_t id, In&) { setText(id, "_NET_WM_PID", "STRING", "12345"); }},
    {"pid-wrong-format", [](xcb_window_t id, In&) {
         const std::uint16_t halves[] = {static_cast<std::uint16_t>(getpid()), 0};
         setProperty(id, "_NET_WM_PID", XCB_ATOM_CARDINAL, 16, halves, 2);
     }},
    {"class-no-nul", [](xcb_window_t id, In&) { setText(id, "WM_CLASS", "STRING", std::string(3000, 'c')); }},
    {"huge-icon", [](xcb_window_t id, In&) {
         const std::uint32_t icon[] = {65536, 65536, 0xFF0000FF, 0xFF00FF00};
         setProperty(id, "_NET_WM_ICON", XCB_ATOM_CARDINAL, 32, icon, 4);
     }},
};

void command(const std::string& line)
{
    In in(line);
    const auto verb = next<std::string>(in);
    const auto tag = next<std::string>(in);
    if (verb.empty())
        return;
    if (verb == "keyboard-held")
        return say(keyboardHeld() ? "ok" : "error free");
    if (verb == "many")
        return many(std::stoi(tag));
    if (verb == "open") {
        const auto id = create(tag, options(in));
        if (!managed({id}, openTimeout)) {
            describeUnmanaged(id);
            return say("error " + tag + " not managed");
        }
        return say("opened " + tag + " " + std::to_string(id));
    }
    const auto window = windows.find(tag);
    const auto change = changes.find(verb == "hostile" ? next<std::string>(in) : verb);
    if (window == windows.end())
        return say("error " + tag + " unknown");
    if (change == changes.end())
        return say("error unknown command " + verb);
    change->second(window->second.id, in);
    sync();
    say("ok");
}

/// The command being carried out, for stuck().
char current[256] = "";

/// Says on standard error which command has run for longer than any should
/// (longer than `open` waits for the window manager, shorter than the test
/// waits for the answer), and where the client is. A test whose client
/// never answers has nothing else to go by: a call waiting for the server
/// looks different from a window manager that never listed the window.
void stuck(int)
{
    const char head[] = "x11_test_client: still carrying out: ";
    [[maybe_unused]] auto written = ::write(2, head, sizeof head - 1);
    written = ::write(2, current, std::strlen(current));
    written = ::write(2, "\n", 1);
    void* frames[32];
    backtrace_symbols_fd(frames, backtrace(frames, 32), 2);
}
constexpr unsigned stuckAfterSeconds = openTimeout.count() + 2;

} // namespace

int main()
{
    // backtrace() loads what it needs on its first call, which a signal
    // handler must not be the one to make.
    void* frame = nullptr;
    backtrace(&frame, 1);
    std::signal(SIGALRM, stuck);

    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "x11_test_client: cannot open the display\n");
        return 1;
    }
    screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    say("ready");

    std::string buffer;
    while (true) {
        pollfd fds[2] = {{0, POLLIN, 0}, {xcb_get_file_descriptor(connection), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            drainEvents(true);
            if (xcb_connection_has_error(connection))
                return 2;
        }
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            char chunk[65536];
            auto n = ::read(0, chunk, sizeof chunk);
            if (n <= 0)
                break;
            buffer.append(chunk, static_cast<std::size_t>(n));
            std::size_t newline;
            while ((newline = buffer.find('\n')) != std::string::npos) {
                const std::string line = buffer.substr(0, newline);
                std::snprintf(current, sizeof current, "%s", line.c_str());
                // `many` may take a minute.
                ::alarm(line.starts_with("many ") ? 0 : stuckAfterSeconds);
                command(line);
                ::alarm(0);
                buffer.erase(0, newline + 1);
                drainEvents(false);
            }
        }
    }
    xcb_disconnect(connection);
    return 0;
}
