// The tray menu as a list of rows: what it holds follows from the application's state alone.
#pragma once

#include "Vantrel/AppParts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

/// What the menu shows.
struct MenuState {
    /// "0.1", or "dev" when unknown.
    std::string version;
    /// Without it the menu offers the onboarding window.
    bool desktopReady = false;
    /// The process holding secure input; -1 when none is reported; empty when off.
    std::optional<std::int32_t> secureInputCulprit;
    /// The culprit's application name, when known.
    std::optional<std::string> culpritName;
    bool operator==(const MenuState&) const = default;
};

/// "another app" below pid 1, else the application's name, else "pid N".
std::string culpritDisplayName(std::int32_t culprit, const std::optional<std::string>& applicationName);

/// The rows, top to bottom.
std::vector<MenuItem> buildMenu(const MenuState& state);

} // namespace vantrel
