// What the window manager and its clients publish: the root's EWMH state and
// each managed client's properties, read in batches.
#include "Platform/X11/X11Clients.h"

#include "Platform/X11/X11Properties.h"

#include <xcb/res.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <csignal>
#include <unordered_map>

namespace vantrel {

namespace {

/// The atoms this file reads, interned together on first use.
struct Atoms {
    xcb_atom_t utf8String, wmState, netSupportingWMCheck, netWMName, netClientList, netClientListStacking,
        netActiveWindow, netCurrentDesktop, netNumberOfDesktops, netDesktopNames, netWorkarea, netWMPid,
        netWMDesktop, netWMState, netWMStateHidden, netWMStateSkipTaskbar, netWMWindowType, compoundText;
    std::array<xcb_atom_t, 9> types; // in X11WindowType order from dialog on
};

Atoms atomsOf(X11Connection& c)
{
    static constexpr std::string_view names[] = {
        "UTF8_STRING", "WM_STATE", "_NET_SUPPORTING_WM_CHECK", "_NET_WM_NAME", "_NET_CLIENT_LIST",
        "_NET_CLIENT_LIST_STACKING", "_NET_ACTIVE_WINDOW", "_NET_CURRENT_DESKTOP", "_NET_NUMBER_OF_DESKTOPS",
        "_NET_DESKTOP_NAMES", "_NET_WORKAREA", "_NET_WM_PID", "_NET_WM_DESKTOP", "_NET_WM_STATE",
        "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_WINDOW_TYPE", "COMPOUND_TEXT",
        "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_WINDOW_TYPE_UTILITY",
        "_NET_WM_WINDOW_TYPE_TOOLBAR", "_NET_WM_WINDOW_TYPE_MENU", "_NET_WM_WINDOW_TYPE_SPLASH",
        "_NET_WM_WINDOW_TYPE_DOCK", "_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_NOTIFICATION"};
    c.internAtoms(names);
    Atoms a{};
    a.utf8String = c.atom("UTF8_STRING");
    a.wmState = c.atom("WM_STATE");
    a.netSupportingWMCheck = c.atom("_NET_SUPPORTING_WM_CHECK");
    a.netWMName = c.atom("_NET_WM_NAME");
    a.netClientList = c.atom("_NET_CLIENT_LIST");
    a.netClientListStacking = c.atom("_NET_CLIENT_LIST_STACKING");
    a.netActiveWindow = c.atom("_NET_ACTIVE_WINDOW");
    a.netCurrentDesktop = c.atom("_NET_CURRENT_DESKTOP");
    a.netNumberOfDesktops = c.atom("_NET_NUMBER_OF_DESKTOPS");
    a.netDesktopNames = c.atom("_NET_DESKTOP_NAMES");
    a.netWorkarea = c.atom("_NET_WORKAREA");
    a.netWMPid = c.atom("_NET_WM_PID");
    a.netWMDesktop = c.atom("_NET_WM_DESKTOP");
    a.netWMState = c.atom("_NET_WM_STATE");
    a.netWMStateHidden = c.atom("_NET_WM_STATE_HIDDEN");
    a.netWMStateSkipTaskbar = c.atom("_NET_WM_STATE_SKIP_TASKBAR");
    a.netWMWindowType = c.atom("_NET_WM_WINDOW_TYPE");
    a.compoundText = c.atom("COMPOUND_TEXT");
    for (std::size_t i = 0; i < a.types.size(); ++i)
        a.types[i] = c.atom(names[18 + i]);
    return a;
}

/// Bounds of what one window's properties may cost us.
constexpr std::uint32_t listBytes = 4 * 4096; // client lists: 4096 windows
constexpr std::uint32_t atomListBytes = 4 * 64;
constexpr std::uint32_t classBytes = 1024;
constexpr std::uint32_t desktopNamesBytes = 16 * 1024;
/// ICCCM WM_STATE values.
constexpr std::uint32_t iconicState = 3;

std::string textOf(const Atoms& a, const xcb_get_property_reply_t* netName, const xcb_get_property_reply_t* name)
{
    if (auto utf8 = bytes(netName, {a.utf8String}))
        return utf8Text(*utf8, isCut(netName));
    if (auto latin1 = bytes(name, {XCB_ATOM_STRING}))
        return latin1ToUtf8(*latin1);
    // Some clients put UTF-8 into WM_NAME; compound text is read as UTF-8 too,
    // which is exact for its ASCII subset and repaired otherwise.
    if (auto other = bytes(name, {a.utf8String, a.compoundText}))
        return utf8Text(*other, isCut(name));
    return {};
}

X11WindowType typeOf(const Atoms& a, const xcb_get_property_reply_t* reply)
{
    auto list = cardinals(reply, {XCB_ATOM_ATOM});
    if (!list || list->empty())
        return X11WindowType::normal;
    // EWMH: "the Client SHOULD specify window types in order of preference";
    // the first type we know wins.
    for (auto atom : *list) {
        for (std::size_t i = 0; i < a.types.size(); ++i)
            if (atom != XCB_ATOM_NONE && atom == a.types[i])
                return i == 0 ? X11WindowType::normal : static_cast<X11WindowType>(i);
    }
    return X11WindowType::other;
}

/// A `_NET_WM_PID` we believe: a running process, other than init, that no
/// client key could be mistaken for.
bool believable(std::uint32_t pid)
{
    return pid > 1 && pid < static_cast<std::uint32_t>(firstClientKey) && isRunningProcess(static_cast<std::int32_t>(pid));
}

} // namespace

std::int32_t clientKey(xcb_window_t window, std::uint32_t resourceIdMask, std::string_view instanceName,
                       std::string_view className)
{
    // The protocol gives each client a base above a contiguous mask of at
    // least 18 bits, and ids have their top three bits clear: the client's
    // number has at most 11 bits. Its classes share the 19 bits below.
    const std::uint32_t client = (window & ~resourceIdMask) >> std::bit_width(resourceIdMask);
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (auto part : {instanceName, std::string_view("\0", 1), className})
        for (char c : part)
            hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619u;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(firstClientKey) | (client & 0x7FF) << 19 | (hash & 0x7FFFF));
}

bool isRunningProcess(std::int32_t pid)
{
    return pid > 0 && !isClientKey(pid) && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::optional<X11RootState> readRootState(X11Connection& connection)
{
    auto* c = connection.raw();
    const auto a = atomsOf(connection);
    const auto root = connection.root();
    auto check = requestProperty(c, root, a.netSupportingWMCheck, 4);
    auto stacking = requestProperty(c, root, a.netClientListStacking, listBytes);
    auto clients = requestProperty(c, root, a.netClientList, listBytes);
    auto active = requestProperty(c, root, a.netActiveWindow, 4);
    auto current = requestProperty(c, root, a.netCurrentDesktop, 4);
    auto count = requestProperty(c, root, a.netNumberOfDesktops, 4);
    auto names = requestProperty(c, root, a.netDesktopNames, desktopNamesBytes);
    auto workarea = requestProperty(c, root, a.netWorkarea, 4 * 4 * 64);
    connection.noteRoundTrip();

    X11RootState state;
    auto checkReply = takeProperty(c, check);
    auto stackingReply = takeProperty(c, stacking);
    auto clientsReply = takeProperty(c, clients);
    auto activeReply = takeProperty(c, active);
    auto currentReply = takeProperty(c, current);
    auto countReply = takeProperty(c, count);
    auto namesReply = takeProperty(c, names);
    auto workareaReply = takeProperty(c, workarea);
    if (!connection.isOpen())
        return std::nullopt;

    if (auto list = cardinals(stackingReply.get(), {XCB_ATOM_WINDOW})) {
        // The stacking list is bottom to top.
        state.clientsFrontFirst.assign(list->rbegin(), list->rend());
    } else if (auto mapped = cardinals(clientsReply.get(), {XCB_ATOM_WINDOW})) {
        state.clientsFrontFirst = *mapped;
    }
    std::erase(state.clientsFrontFirst, xcb_window_t{0});
    state.activeWindow = firstCardinal(activeReply.get(), {XCB_ATOM_WINDOW}).value_or(0);
    state.currentDesktop = firstCardinal(currentReply.get(), {XCB_ATOM_CARDINAL});
    state.numberOfDesktops = firstCardinal(countReply.get(), {XCB_ATOM_CARDINAL}).value_or(0);
    if (auto raw = bytes(namesReply.get(), {a.utf8String}))
        state.desktopNames = splitStrings(*raw, false, isCut(namesReply.get()));
    if (auto area = cardinals(workareaReply.get(), {XCB_ATOM_CARDINAL})) {
        const std::size_t desktop = state.currentDesktop.value_or(0);
        if (area->size() >= 4 * (desktop + 1))
            state.workArea = std::vector<std::uint32_t>(area->begin() + static_cast<std::ptrdiff_t>(4 * desktop),
                                                        area->begin() + static_cast<std::ptrdiff_t>(4 * desktop + 4));
    }

    // EWMH: the check window "MUST also have the _NET_SUPPORTING_WM_CHECK
    // property set to the ID of the child window"; a stale root property left
    // by a dead window manager fails this test.
    if (auto child = firstCardinal(checkReply.get(), {XCB_ATOM_WINDOW}); child && *child) {
        auto again = requestProperty(c, *child, a.netSupportingWMCheck, 4);
        auto name = requestProperty(c, *child, a.netWMName, 256);
        connection.noteRoundTrip();
        auto againReply = takeProperty(c, again);
        auto nameReply = takeProperty(c, name);
        if (firstCardinal(againReply.get(), {XCB_ATOM_WINDOW}) == child) {
            state.supportingWM = *child;
            if (auto text = bytes(nameReply.get(), {a.utf8String, XCB_ATOM_STRING}))
                state.windowManagerName = utf8Text(*text, isCut(nameReply.get()), 256);
        }
    }
    return state;
}

std::optional<std::string> windowManagerName(X11Connection& connection)
{
    auto state = readRootState(connection);
    if (!state || !state->supportingWM)
        return std::nullopt;
    return state->windowManagerName;
}

X11ReadProperties readProperties(X11Connection& connection)
{
    const auto a = atomsOf(connection);
    X11ReadProperties result;
    result.client = {a.netWMName, XCB_ATOM_WM_NAME, a.netWMWindowType, a.netWMState, a.netWMDesktop,
                     a.wmState,   XCB_ATOM_WM_TRANSIENT_FOR, a.netWMPid, XCB_ATOM_WM_CLASS};
    result.root = {a.netSupportingWMCheck, a.netClientListStacking, a.netClientList, a.netActiveWindow,
                   a.netCurrentDesktop,    a.netNumberOfDesktops,   a.netDesktopNames, a.netWorkarea,
                   a.netWMName};
    return result;
}

std::vector<X11ClientRead> readClients(X11Connection& connection, std::span<const xcb_window_t> windows)
{
    auto* c = connection.raw();
    const auto a = atomsOf(connection);
    const auto root = connection.root();

    struct Cookies {
        xcb_get_property_cookie_t netName, name, type, state, desktop, wmState, transient, pid, wmClass;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t position;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (auto window : windows) {
        Cookies k{};
        k.netName = requestProperty(c, window, a.netWMName, maxTitleBytes);
        k.name = requestProperty(c, window, XCB_ATOM_WM_NAME, maxTitleBytes);
        k.type = requestProperty(c, window, a.netWMWindowType, atomListBytes);
        k.state = requestProperty(c, window, a.netWMState, atomListBytes);
        k.desktop = requestProperty(c, window, a.netWMDesktop, 4);
        k.wmState = requestProperty(c, window, a.wmState, 8);
        k.transient = requestProperty(c, window, XCB_ATOM_WM_TRANSIENT_FOR, 4);
        k.pid = requestProperty(c, window, a.netWMPid, 4);
        k.wmClass = requestProperty(c, window, XCB_ATOM_WM_CLASS, classBytes);
        k.geometry = xcb_get_geometry(c, window);
        k.position = xcb_translate_coordinates(c, window, root, 0, 0);
        cookies.push_back(k);
    }

    // One X-Resource query answers the pid of every window's owner.
    std::vector<xcb_res_client_id_spec_t> specs;
    specs.reserve(windows.size());
    for (auto window : windows)
        specs.push_back({window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID});
    std::optional<xcb_res_query_client_ids_cookie_t> resCookie;
    if (!windows.empty() && connection.hasResourceExtension())
        resCookie = xcb_res_query_client_ids(c, static_cast<std::uint32_t>(specs.size()), specs.data());
    connection.noteRoundTrip();

    // Replies name the owning client by its resource base, so windows are
    // matched to pids through the server's resource-id mask.
    const auto mask = xcb_get_setup(c)->resource_id_mask;
    std::unordered_map<std::uint32_t, std::int32_t> pidByBase;
    if (resCookie) {
        XcbPtr<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(c, *resCookie, nullptr));
        if (reply) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem; xcb_res_client_id_value_next(&it)) {
                if (!(it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) || it.data->length != 4)
                    continue;
                const auto pid = *xcb_res_client_id_value_value(it.data);
                if (pid > 0 && pid <= 0x7FFFFFFF)
                    pidByBase[it.data->spec.client & ~mask] = static_cast<std::int32_t>(pid);
            }
        }
    }

    std::vector<X11ClientRead> results(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto& k = cookies[i];
        bool vanished = false;
        auto netName = takeProperty(c, k.netName, &vanished);
        auto name = takeProperty(c, k.name, &vanished);
        auto type = takeProperty(c, k.type, &vanished);
        auto state = takeProperty(c, k.state, &vanished);
        auto desktop = takeProperty(c, k.desktop, &vanished);
        auto wmState = takeProperty(c, k.wmState, &vanished);
        auto transient = takeProperty(c, k.transient, &vanished);
        auto pid = takeProperty(c, k.pid, &vanished);
        auto wmClass = takeProperty(c, k.wmClass, &vanished);
        xcb_generic_error_t* geometryError = nullptr;
        XcbPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, k.geometry, &geometryError));
        XcbPtr<xcb_generic_error_t> geometryErrorOwner(geometryError);
        XcbPtr<xcb_translate_coordinates_reply_t> position(xcb_translate_coordinates_reply(c, k.position, nullptr));
        if (vanished || !geometry) {
            // Without a connection nothing vanished; the caller sees isOpen().
            results[i].vanished = connection.isOpen();
            continue;
        }

        X11ClientInfo info;
        info.id = windows[i];
        info.title = textOf(a, netName.get(), name.get());
        info.transient = firstCardinal(transient.get(), {XCB_ATOM_WINDOW}).value_or(0) != 0;
        info.type = typeOf(a, type.get());
        auto states = cardinals(state.get(), {XCB_ATOM_ATOM});
        if (states) {
            info.skipTaskbar = std::find(states->begin(), states->end(), a.netWMStateSkipTaskbar) != states->end();
            info.minimized = std::find(states->begin(), states->end(), a.netWMStateHidden) != states->end();
        } else {
            info.minimized = firstCardinal(wmState.get(), {a.wmState}) == iconicState;
        }
        info.desktop = firstCardinal(desktop.get(), {XCB_ATOM_CARDINAL});
        if (auto raw = bytes(wmClass.get(), {XCB_ATOM_STRING})) {
            auto parts = splitStrings(*raw, true);
            if (!parts.empty())
                info.instanceName = parts[0];
            if (parts.size() > 1)
                info.className = parts[1];
        }
        if (auto found = pidByBase.find(windows[i] & ~mask); found != pidByBase.end())
            info.pid = found->second;
        else if (auto netPid = firstCardinal(pid.get(), {XCB_ATOM_CARDINAL}); netPid && believable(*netPid))
            info.pid = static_cast<std::int32_t>(*netPid);
        else
            info.pid = clientKey(windows[i], mask, info.instanceName, info.className);
        info.width = geometry->width;
        info.height = geometry->height;
        if (position) {
            info.x = position->dst_x;
            info.y = position->dst_y;
        }
        results[i].info = std::move(info);
    }
    return results;
}

} // namespace vantrel
