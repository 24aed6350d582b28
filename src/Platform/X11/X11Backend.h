// Offers the X11 desktop to the system bridge as the backend "x11".
#pragma once

#include "SystemBridge/Backends.h"

#include <string>
#include <variant>

namespace vantrel {

/// Connects to `display` (empty: $DISPLAY) and builds the three backends over
/// one connection and one desktop; events arrive on `loop`, which must outlive
/// them. An error text when no X server answers.
std::variant<Backends, std::string> makeX11Backends(RunLoop& loop, const std::string& display = {});

/// Registers "x11" with the backend registry (idempotent).
void registerX11Backend();

} // namespace vantrel
