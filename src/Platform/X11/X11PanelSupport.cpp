// What the panels need of the X server beyond Qt: the compositor, the active window, the panel's window type.
#include "Platform/X11/X11PanelSupport.h"

#include "Platform/X11/X11Connection.h"
#include "Platform/X11/X11Properties.h"

#include <xcb/xcb.h>

#include <array>
#include <string>

namespace vantrel::X11PanelSupport {
namespace {

// Sends every InternAtom request, then collects the replies.
template <std::size_t N>
std::array<xcb_atom_t, N> internAtoms(xcb_connection_t* connection, const std::array<std::string, N>& names)
{
    std::array<xcb_intern_atom_cookie_t, N> cookies{};
    for (std::size_t i = 0; i < N; ++i)
        cookies[i] = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(names[i].size()), names[i].data());
    std::array<xcb_atom_t, N> atoms{};
    for (std::size_t i = 0; i < N; ++i) {
        XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    return atoms;
}

xcb_atom_t internAtom(xcb_connection_t* connection, std::string name)
{
    return internAtoms<1>(connection, {std::move(name)})[0];
}

xcb_window_t firstRoot(xcb_connection_t* connection)
{
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    return roots.rem > 0 ? roots.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

// The atom of `_NET_ACTIVE_WINDOW`; the panels use one connection, Qt's.
xcb_atom_t activeWindowAtom(xcb_connection_t* connection)
{
    static xcb_atom_t atom = internAtom(connection, "_NET_ACTIVE_WINDOW");
    return atom;
}

} // namespace

bool compositorActive(xcb_connection_t* connection, int screen)
{
    if (!connection || xcb_connection_has_error(connection))
        return false;
    xcb_atom_t selection = internAtom(connection, "_NET_WM_CM_S" + std::to_string(screen));
    if (selection == XCB_ATOM_NONE)
        return false;
    XcbPtr<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

std::optional<std::uint32_t> activeWindow(xcb_connection_t* connection)
{
    if (!connection || xcb_connection_has_error(connection))
        return std::nullopt;
    auto reply = takeProperty(connection, requestProperty(connection, firstRoot(connection), activeWindowAtom(connection), 4));
    auto active = firstCardinal(reply.get(), {XCB_ATOM_WINDOW});
    if (!active || *active == XCB_WINDOW_NONE)
        return std::nullopt;
    return active;
}

bool isActiveWindowChange(xcb_connection_t* connection, const void* event)
{
    const auto* generic = static_cast<const xcb_generic_event_t*>(event);
    if (!connection || !generic || (generic->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* notify = static_cast<const xcb_property_notify_event_t*>(event);
    return notify->window == firstRoot(connection) && notify->atom == activeWindowAtom(connection);
}

std::optional<RootPoint> activeWindowCentre(xcb_connection_t* connection)
{
    auto active = activeWindow(connection);
    if (!active)
        return std::nullopt;
    xcb_window_t root = firstRoot(connection);
    auto geometryCookie = xcb_get_geometry(connection, *active);
    auto translateCookie = xcb_translate_coordinates(connection, *active, root, 0, 0);
    XcbPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(connection, geometryCookie, nullptr));
    XcbPtr<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(connection, translateCookie, nullptr));
    if (!geometry || !origin)
        return std::nullopt;
    return RootPoint{origin->dst_x + geometry->width / 2, origin->dst_y + geometry->height / 2};
}

void setPanelWindowType(xcb_connection_t* connection, std::uint32_t window, bool transient)
{
    if (!connection || xcb_connection_has_error(connection) || window == XCB_WINDOW_NONE)
        return;
    auto atoms = internAtoms<5>(connection, {"_NET_WM_WINDOW_TYPE",
                                             transient ? "_NET_WM_WINDOW_TYPE_POPUP_MENU" : "_NET_WM_WINDOW_TYPE_UTILITY",
                                             "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atoms[0], XCB_ATOM_ATOM, 32, 1, &atoms[1]);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atoms[2], XCB_ATOM_ATOM, 32, 2, &atoms[3]);
    xcb_flush(connection);
}

bool sync(xcb_connection_t* connection)
{
    if (!connection || xcb_connection_has_error(connection))
        return false;
    XcbPtr<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    return reply != nullptr;
}

} // namespace vantrel::X11PanelSupport
