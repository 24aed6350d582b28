// A picture of the whole screen, read from the X server, without xcb types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

/// 32-bit pixels, 0xffRRGGBB, row by row.
struct ScreenPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
    bool operator==(const ScreenPixels&) const = default;
};

/// The root window of `display` (empty: $DISPLAY) as the server shows it;
/// absent when the display cannot be read or is not a 24/32-bit true-colour screen.
std::optional<ScreenPixels> captureScreen(const std::string& display);

} // namespace vantrel
