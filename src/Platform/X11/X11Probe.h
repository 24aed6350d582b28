// Asks a display whether an EWMH window manager runs there, without xcb types.
#pragma once

#include <optional>
#include <string>

namespace vantrel {

/// The window manager's name (possibly empty) once an EWMH window manager has
/// finished starting on `display`: `_NET_SUPPORTING_WM_CHECK` names a window
/// that names itself, and the desktops are published. Absent when the display
/// cannot be opened or no such window manager answers yet.
std::optional<std::string> probeWindowManager(const std::string& display);

} // namespace vantrel
