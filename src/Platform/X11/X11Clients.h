// What the window manager and its clients publish: the root's EWMH state and
// each managed client's properties, read in batches.
#pragma once

#include "Platform/X11/X11Connection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// `_NET_WM_DESKTOP` of a window on every desktop.
inline constexpr std::uint32_t allDesktops = 0xFFFFFFFF;

/// The EWMH window types, in the order a client's type list is searched; a
/// window without a type is `normal` (a transient one is a `dialog`).
enum class X11WindowType { normal, dialog, utility, toolbar, menu, splash, dock, desktop, notification, other };

/// The root window's EWMH state.
struct X11RootState {
    /// The window of `_NET_SUPPORTING_WM_CHECK` when it points to itself; 0 when
    /// no EWMH window manager answers.
    xcb_window_t supportingWM = 0;
    /// `_NET_WM_NAME` of that window.
    std::string windowManagerName;
    /// `_NET_CLIENT_LIST_STACKING` turned front first (falls back to
    /// `_NET_CLIENT_LIST` in mapping order when the stacking list is absent).
    std::vector<xcb_window_t> clientsFrontFirst;
    /// `_NET_ACTIVE_WINDOW`; 0 for none.
    xcb_window_t activeWindow = 0;
    /// `_NET_CURRENT_DESKTOP`, when set.
    std::optional<std::uint32_t> currentDesktop;
    /// `_NET_NUMBER_OF_DESKTOPS` (0 when unset).
    std::uint32_t numberOfDesktops = 0;
    /// `_NET_DESKTOP_NAMES`, possibly shorter than the number of desktops.
    std::vector<std::string> desktopNames;
    /// `_NET_WORKAREA` of the current desktop: x, y, width, height; absent when unset.
    std::optional<std::vector<std::uint32_t>> workArea;
    bool operator==(const X11RootState&) const = default;
};

/// One client window's properties. Hostile or malformed properties read as unset.
struct X11ClientInfo {
    xcb_window_t id = 0;
    /// From the X-Resource extension, else `_NET_WM_PID` when that names a
    /// running process, else the key of the client (`clientKey`).
    std::int32_t pid = 0;
    /// `_NET_WM_NAME`, else `WM_NAME`; valid UTF-8 of at most 4 KiB.
    std::string title;
    X11WindowType type = X11WindowType::normal;
    /// `WM_TRANSIENT_FOR` names another window.
    bool transient = false;
    bool skipTaskbar = false;
    /// `_NET_WM_STATE_HIDDEN`, or ICCCM IconicState when the window manager
    /// keeps no `_NET_WM_STATE`.
    bool minimized = false;
    /// `_NET_WM_DESKTOP` (`allDesktops` for a sticky window); absent when unset.
    std::optional<std::uint32_t> desktop;
    /// `WM_CLASS`: instance and class names.
    std::string instanceName;
    std::string className;
    /// Root coordinates of the client window (without the frame) and its size.
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool operator==(const X11ClientInfo&) const = default;

    /// A window a switcher lists as an ordinary window: no type or normal, not
    /// transient, not skip-taskbar.
    bool isStandard() const { return type == X11WindowType::normal && !transient && !skipTaskbar; }
    /// A dialog: typed so, or transient for another window.
    bool isDialog() const { return type == X11WindowType::dialog || (type == X11WindowType::normal && transient); }
    /// On the given desktop (sticky windows are on every one).
    bool isOn(std::uint32_t desktopIndex) const { return desktop && (*desktop == allDesktops || *desktop == desktopIndex); }
};

/// Application keys of clients whose pid is unknown lie above every Linux
/// pid (PID_MAX_LIMIT is 2^22) and below 2^31.
inline constexpr std::int32_t firstClientKey = 0x40000000;

/// The pid given to a window whose owner's pid is unknown (no X-Resource
/// answer, and a `_NET_WM_PID` that is missing, malformed or names no running
/// process): a key of its own for the window's client (the resource-id base
/// the server gave that connection) and its `WM_CLASS`. The window is then
/// listed under an application of its own, never merged with a process or
/// another client. Distinct clients get distinct keys.
std::int32_t clientKey(xcb_window_t window, std::uint32_t resourceIdMask, std::string_view instanceName,
                       std::string_view className);

/// Whether `pid` is a client's key rather than a process.
constexpr bool isClientKey(std::int32_t pid) { return pid >= firstClientKey; }

/// Whether a process with this pid runs (a client's key is none).
bool isRunningProcess(std::int32_t pid);

/// The result of reading one window: its properties, or why they are missing.
struct X11ClientRead {
    std::optional<X11ClientInfo> info;
    /// The window was destroyed before or while it was read.
    bool vanished = false;
};

/// Reads the root's EWMH state in one round trip (two when the supporting
/// window must be checked). Absent when the connection is gone.
std::optional<X11RootState> readRootState(X11Connection& connection);

/// Reads every window's properties in one round trip, whatever their number:
/// all requests are sent first (one X-Resource query for all pids), then the
/// replies are collected. Results are in the order of `windows`.
std::vector<X11ClientRead> readClients(X11Connection& connection, std::span<const xcb_window_t> windows);

/// The properties the two reads above take from the server: a change of any
/// other property cannot change what they return.
struct X11ReadProperties {
    /// Read of each client window by `readClients`.
    std::vector<xcb_atom_t> client;
    /// Read of the root (and of its supporting window) by `readRootState`.
    std::vector<xcb_atom_t> root;
};
X11ReadProperties readProperties(X11Connection& connection);

/// The window manager's name when an EWMH window manager answers on the
/// connection's screen (`_NET_SUPPORTING_WM_CHECK` names a window whose own
/// property names itself); absent otherwise.
std::optional<std::string> windowManagerName(X11Connection& connection);

} // namespace vantrel
