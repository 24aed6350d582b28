// Everything the application needs of one X display, over one connection, without xcb types.
#pragma once

#include "InputEngine/InputBackend.h"
#include "SystemBridge/Backends.h"

#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace vantrel {

/// The bridge's backends and the keyboard over one connection.
struct X11Platform {
    Backends backends;
    /// Null when the server lacks a usable XKB extension.
    std::shared_ptr<InputBackend> input;
    /// Keeps the connection and its loss watch alive.
    std::shared_ptr<void> keepAlive;
};

/// Connects to `display` (empty: $DISPLAY); events arrive on `loop`, which
/// must outlive the result. `onLost` runs once on the loop when the server
/// goes away. An error text naming the display when no X server answers.
std::variant<X11Platform, std::string> openX11Platform(RunLoop& loop, const std::string& display,
                                                       std::function<void()> onLost);

} // namespace vantrel
