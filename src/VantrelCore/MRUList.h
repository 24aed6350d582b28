// The order in which windows were last focused, most recent first.
#pragma once

#include "VantrelCore/WindowInfo.h"

#include <span>
#include <vector>

namespace vantrel {

/// Window numbers, most recently focused first. Knows nothing but numbers.
struct MRUList {
    /// Most recently focused first.
    std::vector<WindowID> ids;

    /// The window became focused: every occurrence is removed and the id put
    /// at the front; the others keep their order.
    void touch(WindowID id);

    /// Removes every occurrence of `id`; the others keep their order.
    void remove(WindowID id);

    /// Drops the numbers of windows the snapshot no longer lists, then appends
    /// the snapshot's new windows in snapshot order (least recent). A window
    /// listed twice in one snapshot is appended twice.
    void reconcile(std::span<const WindowInfo> windows);

    /// The same windows, stably sorted: those the list knows first, most
    /// recent first, then the others in the given order.
    std::vector<WindowInfo> order(std::span<const WindowInfo> windows) const;

    /// The permutation `order` applies: input indices in display order.
    std::vector<std::size_t> orderIndices(std::span<const WindowInfo> windows) const;

    bool operator==(const MRUList&) const = default;
};

} // namespace vantrel
