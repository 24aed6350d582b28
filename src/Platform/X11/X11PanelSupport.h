// What the panels need of the X server beyond Qt: the compositor, the active window, the panel's window type.
//
// - compositor: EWMH "a compositing manager MUST acquire ownership of a
//   selection named _NET_WM_CM_Sn, where n is the screen number".
// - active window: `_NET_ACTIVE_WINDOW` of the root, its centre in root
//   coordinates (GetGeometry, then TranslateCoordinates to the root).
// - window type: `_NET_WM_WINDOW_TYPE` of a panel; compositors choose fading,
//   shadows and overview effects by it.
//
// The connection is the caller's (Qt's); nothing here keeps state.
#pragma once

#include <cstdint>
#include <optional>

struct xcb_connection_t;

namespace vantrel::X11PanelSupport {

/// A point in root coordinates.
struct RootPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const RootPoint&) const = default;
};

/// Whether a compositing manager owns `_NET_WM_CM_S<screen>`.
bool compositorActive(xcb_connection_t* connection, int screen);

/// The window `_NET_ACTIVE_WINDOW` of the first screen's root names; none
/// when unset or 0.
std::optional<std::uint32_t> activeWindow(xcb_connection_t* connection);

/// Whether `event` (an `xcb_generic_event_t` read on `connection`) says the
/// root's `_NET_ACTIVE_WINDOW` changed.
bool isActiveWindowChange(xcb_connection_t* connection, const void* event);

/// The centre of the window `_NET_ACTIVE_WINDOW` names on the first screen's
/// root; none when no window is active or it vanished.
std::optional<RootPoint> activeWindowCentre(xcb_connection_t* connection);

/// Types `window` as a short-lived pop-up (`_NET_WM_WINDOW_TYPE_POPUP_MENU`)
/// when `transient`, else as a utility window (`_NET_WM_WINDOW_TYPE_UTILITY`),
/// and keeps it out of task bars and pagers either way.
void setPanelWindowType(xcb_connection_t* connection, std::uint32_t window, bool transient);

/// A round trip: returns once the server has handled every request sent
/// on `connection` before it. False when the connection is broken.
bool sync(xcb_connection_t* connection);

} // namespace vantrel::X11PanelSupport
