// The rules every list selection follows (controllers and panels alike):
// wrap-around, and the selected window kept across a change of the list.
#pragma once

#include "VantrelCore/WindowInfo.h"

#include <algorithm>
#include <cstddef>
#include <span>

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

/// The row to select when the rows change from `before` (row `selected`
/// selected) to `after`, which is not empty: the selected window's new row
/// while it is listed, else the same row, or the last when the list got shorter.
inline std::ptrdiff_t keptSelection(std::span<const WindowInfo> before, std::ptrdiff_t selected,
                                    std::span<const WindowInfo> after)
{
    if (selected >= 0 && static_cast<std::size_t>(selected) < before.size()) {
        auto same = std::ranges::find(after, before[static_cast<std::size_t>(selected)].id, &WindowInfo::id);
        if (same != after.end())
            return same - after.begin();
    }
    return std::min<std::ptrdiff_t>(selected, static_cast<std::ptrdiff_t>(after.size()) - 1);
}

} // namespace vantrel
