// Asks a display whether an EWMH window manager runs there, without xcb types.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace vantrel {

class X11Connection;

/// The window manager's name (possibly empty) once an EWMH window manager has
/// finished starting on `display`: `_NET_SUPPORTING_WM_CHECK` names a window
/// that names itself, and the desktops are published. Absent when the display
/// cannot be opened or no such window manager answers yet.
std::optional<std::string> probeWindowManager(const std::string& display);

/// The window manager offers what switching needs: a live
/// `_NET_SUPPORTING_WM_CHECK` window that names itself, and `_NET_SUPPORTED`
/// listing `_NET_CLIENT_LIST` and `_NET_ACTIVE_WINDOW`.
bool supportsSwitching(X11Connection& connection);

/// A connection to `display` (empty: $DISPLAY) held until the result is
/// dropped; null when no server answers. Keep it while the next client
/// connects: a server started without -noreset resets, refusing connections
/// for a moment, when its last client leaves.
std::shared_ptr<void> holdDisplay(const std::string& display);

} // namespace vantrel
