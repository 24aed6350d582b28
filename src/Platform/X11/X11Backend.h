// Offers the X11 desktop to the system bridge as the backend "x11".
#pragma once

#include "SystemBridge/Backends.h"

#include <memory>
#include <string>
#include <variant>

namespace vantrel {

class X11Connection;

/// Connects to `display` (empty: $DISPLAY) and builds the three backends over
/// one connection and one desktop; events arrive on `loop`, which must outlive
/// them. An error text naming the display when no X server answers.
std::variant<Backends, std::string> makeX11Backends(RunLoop& loop, const std::string& display = {});
/// The same over a connection the caller already has, whose events arrive on
/// `loop`.
Backends makeX11Backends(std::shared_ptr<X11Connection> connection, RunLoop& loop);

/// Registers "x11" with the backend registry (idempotent).
void registerX11Backend();

} // namespace vantrel
