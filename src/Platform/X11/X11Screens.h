// The displays: RandR monitors, or the whole screen without RandR.
#pragma once

#include "Platform/X11/X11Connection.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

/// One monitor in root coordinates.
struct X11Monitor {
    std::string name;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool primary = false;
    bool operator==(const X11Monitor&) const = default;
};

/// The monitors, the primary first (then in RandR order). Without RandR 1.5,
/// or when it lists none, one monitor named "screen" covering the root.
/// Empty when the connection is gone.
std::vector<X11Monitor> readMonitors(X11Connection& connection);

} // namespace vantrel
