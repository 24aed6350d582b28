// The wrap-around rule every list selection follows (controllers and panels alike).
#pragma once

#include <cstddef>

namespace vantrel {

/// `index` wrapped into 0 ... count-1: moving past the last entry lands on the
/// first and before the first on the last; 0 for an empty list.
constexpr std::ptrdiff_t wrapSelection(std::ptrdiff_t index, std::size_t count)
{
    if (count == 0)
        return 0;
    auto n = static_cast<std::ptrdiff_t>(count);
    return ((index % n) + n) % n;
}

} // namespace vantrel
