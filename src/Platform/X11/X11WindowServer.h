// The window-server entry points on X11 with an EWMH window manager.
//
// How the bridge's notions map onto the desktop:
// - connection id: 1 while the display connection is open, 0 after it broke.
// - displays: RandR 1.5 monitors, the primary first (one display for the whole
//   screen without RandR); "Display Identifier" is the monitor's name.
// - spaces: EWMH desktops. id = desktop index + 1 (0 means none), "uuid" = the
//   desktop's name, "type" 0 (X11 has no full-screen spaces). Every desktop is
//   listed under the first display only, and every display reports the same
//   "Current Space" = `_NET_CURRENT_DESKTOP` + 1, so numbering is 1…N and the
//   visible space is the current desktop.
// - spaces of a window: `_NET_WM_DESKTOP` + 1; a sticky window (0xFFFFFFFF) is
//   on every desktop; a window without the property is on none.
// - windows of a space and the window list: managed clients
//   (`_NET_CLIENT_LIST_STACKING`, front first), layer 0, client geometry, title.
// - switching space: the `_NET_CURRENT_DESKTOP` request.
// - front process with a window: the `_NET_ACTIVE_WINDOW` request (source 2,
//   a real server timestamp); 1000 when the window no longer exists.
// - process serial numbers carry the pid in `lowLongOfPSN`; a process exists
//   when the kernel knows its pid; the front process owns `_NET_ACTIVE_WINDOW`.
// - the event record is accepted when it names a managed window and returns 0
//   (nothing to post on X11).
// - the front process of a space: not offered (X11 keeps no such thing).
// - system shortcuts: an enabled flag per id kept here; X11 has no system-wide
//   ⌘Tab to switch off, so the flags only answer back what was set.
// - the session dictionary: not offered (the screen never reads as locked).
#pragma once

#include "Platform/X11/X11Desktop.h"
#include "SystemBridge/WindowServerBackend.h"

#include <map>
#include <memory>
#include <mutex>

namespace vantrel {

/// `kCGErrorFailure`, the generic window-server failure.
inline constexpr CGError x11ServerFailure = 1000;
/// `procNotFound`, what GetProcessForPID returns for no such process.
inline constexpr std::int32_t x11ProcessNotFound = -600;

class X11WindowServer final : public WindowServerBackend, public std::enable_shared_from_this<X11WindowServer> {
public:
    explicit X11WindowServer(std::shared_ptr<X11Desktop> desktop) : desktop_(std::move(desktop)) {}

    WindowServerSlots slots() override;
    bool exportsSymbol(std::string_view name) override;

    /// The displays as the managed-display dictionaries describe them.
    std::optional<nlohmann::json> managedDisplaySpaces();
    /// The window list dictionaries, front first.
    std::optional<nlohmann::json> windowList();

private:
    bool hotKeyEnabled(std::int32_t id);
    CGError setHotKeyEnabled(std::int32_t id, bool enabled);

    std::shared_ptr<X11Desktop> desktop_;
    std::mutex hotKeysMutex_;
    std::map<std::int32_t, bool> hotKeys_;
};

} // namespace vantrel
