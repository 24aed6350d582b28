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
//                           pid N (any 32-bit value) | pid-wrong-type | pid-wrong-format | huge-icon |
//                           class-no-nul
//   minimize TAG            ICCCM WM_CHANGE_STATE to IconicState
//   desktop TAG N|all       an EWMH _NET_WM_DESKTOP request
//   icon TAG W H            a W×H _NET_WM_ICON
//   destroy TAG             destroys the window
//   many N                  N windows "window 0"… over four desktops, answered
//                           "opened-many" once all are managed
//   keyboard-held           "ok" while another client holds the keyboard grab,
//                           else "error free"
#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
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
    for (auto it = windows.begin(); it != windows.end(); ++it) {
        if (it->second.id != message->window)
            continue;
        if (it->second.ignoreDelete) {
            say("ignored " + it->first);
            return;
        }
        xcb_destroy_window(connection, it->second.id);
        xcb_flush(connection);
        say("closed " + it->first);
        windows.erase(it);
        return;
    }
}

void drainEvents(bool read)
{
    while (auto* event = read ? xcb_poll_for_event(connection) : xcb_poll_for_queued_event(connection)) {
        handleEvent(event);
        std::free(event);
    }
}

bool isManaged(xcb_window_t window)
{
    auto reply = xcb_get_property_reply(connection,
        xcb_get_property(connection, 0, screen->root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 65536), nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        auto* ids = static_cast<xcb_window_t*>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
            found = found || ids[i] == window;
    }
    std::free(reply);
    return found;
}

std::map<std::string, std::string> options(std::istringstream& in, std::string& title)
{
    std::map<std::string, std::string> result;
    std::string word;
    while (in >> word) {
        auto eq = word.find('=');
        if (eq == std::string::npos)
            continue;
        auto key = word.substr(0, eq);
        auto value = word.substr(eq + 1);
        if (key == "title") {
            std::string rest;
            std::getline(in, rest);
            title = value + rest;
            break;
        }
        result[key] = value;
    }
    return result;
}

std::uint32_t desktopValue(const std::string& text)
{
    return text == "all" ? 0xFFFFFFFFu : static_cast<std::uint32_t>(std::stoul(text));
}

xcb_window_t create(const std::string& tag, std::map<std::string, std::string> opt, const std::string& title)
{
    Window w;
    w.id = xcb_generate_id(connection);
    w.ignoreDelete = opt["ignore-delete"] == "1";
    const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, w.id, screen->root, 10, 10, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    setText(w.id, "_NET_WM_NAME", "UTF8_STRING", title);
    setText(w.id, "WM_NAME", "STRING", title);
    std::string cls = opt.count("class") ? opt["class"] : "testclient,TestClient";
    std::replace(cls.begin(), cls.end(), ',', '\0');
    cls.push_back('\0');
    setText(w.id, "WM_CLASS", "STRING", cls);
    setValue(w.id, "WM_PROTOCOLS", XCB_ATOM_ATOM, atom("WM_DELETE_WINDOW"));
    if (opt["pid"] != "0")
        setValue(w.id, "_NET_WM_PID", XCB_ATOM_CARDINAL, static_cast<std::uint32_t>(getpid()));
    if (opt.count("type") && opt["type"] != "none") {
        std::string name = opt["type"];
        for (auto& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        setValue(w.id, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, atom("_NET_WM_WINDOW_TYPE_" + name));
    }
    if (opt.count("desktop"))
        setValue(w.id, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, desktopValue(opt["desktop"]));
    if (opt.count("transient") && windows.count(opt["transient"]))
        setValue(w.id, "WM_TRANSIENT_FOR", XCB_ATOM_WINDOW, windows[opt["transient"]].id);
    if (opt["skip-taskbar"] == "1")
        setValue(w.id, "_NET_WM_STATE", XCB_ATOM_ATOM, atom("_NET_WM_STATE_SKIP_TASKBAR"));
    xcb_map_window(connection, w.id);
    windows[tag] = w;
    return w.id;
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

void open(const std::string& tag, std::istringstream& in)
{
    std::string title = tag;
    auto opt = options(in, title);
    const auto id = create(tag, opt, title);
    say(managed({id}, std::chrono::seconds(20)) ? "opened " + tag + " " + std::to_string(id) : "error " + tag + " not managed");
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

void hostile(xcb_window_t id, const std::string& kind, std::istringstream& in)
{
    if (kind == "huge-title") {
        std::size_t n = 0;
        in >> n;
        setText(id, "_NET_WM_NAME", "UTF8_STRING", std::string(n, 'x'));
    } else if (kind == "padded-title") {
        std::size_t n = 0;
        std::string text;
        in >> n >> text;
        setText(id, "_NET_WM_NAME", "UTF8_STRING", std::string(n, 'x') + text);
    } else if (kind == "invalid-utf8") {
        setText(id, "_NET_WM_NAME", "UTF8_STRING", std::string("ab\xff\xfe" "c\xc0\xaf" "d\xed\xa0\x80" "e\xe2\x82", 14));
    } else if (kind == "name-wrong-type") {
        const std::uint32_t numbers[] = {0x41414141, 0x42424242};
        setProperty(id, "_NET_WM_NAME", XCB_ATOM_CARDINAL, 32, numbers, 2);
    } else if (kind == "desktop-wrong-type") {
        setText(id, "_NET_WM_DESKTOP", "STRING", "1");
    } else if (kind == "state-wrong-type") {
        setValue(id, "_NET_WM_STATE", XCB_ATOM_CARDINAL, atom("_NET_WM_STATE_HIDDEN"));
    } else if (kind == "type-wrong-format") {
        const std::uint16_t half[] = {1, 2};
        setProperty(id, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, 16, half, 2);
    } else if (kind == "pid") {
        std::uint32_t pid = 0;
        in >> pid;
        setValue(id, "_NET_WM_PID", XCB_ATOM_CARDINAL, pid);
    } else if (kind == "pid-wrong-type") {
        setText(id, "_NET_WM_PID", "STRING", "12345");
    } else if (kind == "pid-wrong-format") {
        const std::uint16_t halves[] = {static_cast<std::uint16_t>(getpid()), 0};
        setProperty(id, "_NET_WM_PID", XCB_ATOM_CARDINAL, 16, halves, 2);
    } else if (kind == "huge-icon") {
        const std::uint32_t icon[] = {65536, 65536, 0xFF0000FF, 0xFF00FF00};
        setProperty(id, "_NET_WM_ICON", XCB_ATOM_CARDINAL, 32, icon, 4);
    } else if (kind == "class-no-nul") {
        setText(id, "WM_CLASS", "STRING", std::string(3000, 'c'));
    }
}

void command(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, tag;
    in >> verb;
    if (verb.empty())
        return;
    if (verb == "keyboard-held") {
        auto cookie = xcb_grab_keyboard(connection, 0, screen->root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                        XCB_GRAB_MODE_ASYNC);
        auto* reply = xcb_grab_keyboard_reply(connection, cookie, nullptr);
        const bool held = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
        if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS)
            xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
        std::free(reply);
        sync();
        say(held ? "ok" : "error free");
        return;
    }
    in >> tag;
    if (verb == "many") {
        many(std::stoi(tag));
        return;
    }
    if (verb == "open") {
        open(tag, in);
        return;
    }
    auto found = windows.find(tag);
    if (found == windows.end()) {
        say("error " + tag + " unknown");
        return;
    }
    const xcb_window_t id = found->second.id;
    std::string rest;
    if (verb == "title" || verb == "wmname") {
        std::getline(in >> std::ws, rest);
        if (verb == "title")
            setText(id, "_NET_WM_NAME", "UTF8_STRING", rest);
        else
            xcb_delete_property(connection, id, atom("_NET_WM_NAME"));
        setText(id, "WM_NAME", "STRING", rest);
    } else if (verb == "hostile") {
        std::string kind;
        in >> kind;
        hostile(id, kind, in);
    } else if (verb == "minimize") {
        rootMessage(id, "WM_CHANGE_STATE", 3);
    } else if (verb == "desktop") {
        std::string value;
        in >> value;
        rootMessage(id, "_NET_WM_DESKTOP", desktopValue(value), 1);
    } else if (verb == "icon") {
        std::uint32_t width = 0, height = 0;
        in >> width >> height;
        std::vector<std::uint32_t> data{width, height};
        data.resize(2 + std::size_t(width) * height, 0xFF336699);
        setProperty(id, "_NET_WM_ICON", XCB_ATOM_CARDINAL, 32, data.data(), data.size());
    } else if (verb == "destroy") {
        xcb_destroy_window(connection, id);
        windows.erase(found);
    } else {
        say("error unknown command " + verb);
        return;
    }
    sync();
    say("ok");
}

} // namespace

int main()
{
    int screenNumber = 0;
    connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "x11_test_client: cannot open the display\n");
        return 1;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    screen = it.data;
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
                command(buffer.substr(0, newline));
                buffer.erase(0, newline + 1);
                drainEvents(false);
            }
        }
    }
    xcb_disconnect(connection);
    return 0;
}
