// Offers the X11 desktop to the system bridge as the backend "x11".
#pragma once

#include "SystemBridge/Backends.h"

#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace vantrel {

class X11Connection;

/// Told once on the loop, with a message naming the display, when the
/// connection breaks (see `BackendOptions::onLost`).
using LostHandler = std::function<void(const std::string& message)>;

/// Connects to `display` (empty: $DISPLAY) and builds the three backends over
/// one connection and one desktop; events arrive on `loop`, which must outlive
/// them. An error text naming the display when no X server answers.
std::variant<Backends, std::string> makeX11Backends(RunLoop& loop, const std::string& display = {},
                                                    LostHandler onLost = {});
/// The same over a connection the caller already has, whose events arrive on
/// `loop`.
Backends makeX11Backends(std::shared_ptr<X11Connection> connection, RunLoop& loop, LostHandler onLost = {});

/// Registers "x11" with the backend registry (idempotent).
void registerX11Backend();

} // namespace vantrel
