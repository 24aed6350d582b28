// The most-recently-used list's operations.
#include "VantrelCore/MRUList.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace vantrel {

void MRUList::touch(WindowID id)
{
    remove(id);
    ids.insert(ids.begin(), id);
}

void MRUList::remove(WindowID id)
{
    std::erase(ids, id);
}

namespace {

// A flat open-addressing table from window number to a position. A refresh
// looks up every window of a snapshot (thousands with many Spaces) several
// times; node-based hash maps spend most of that in the allocator and binary
// search in mispredicted branches.
class IDTable {
public:
    explicit IDTable(std::size_t count)
    {
        std::size_t capacity = 16;
        while (capacity < count * 2)
            capacity *= 2;
        mask_ = capacity - 1;
        slots_.resize(capacity);
    }

    /// Sets the value of `id`, replacing an earlier one.
    void assign(WindowID id, std::size_t value) { slots_[slotOf(id)] = {id, true, value}; }

    /// The value of `id`, if assigned.
    std::optional<std::size_t> lookup(WindowID id) const
    {
        const Slot& slot = slots_[slotOf(id)];
        if (!slot.used)
            return std::nullopt;
        return slot.value;
    }

    bool contains(WindowID id) const { return slots_[slotOf(id)].used; }

private:
    struct Slot {
        WindowID id = 0;
        bool used = false;
        std::size_t value = 0;
    };

    // The slot holding `id`, or the empty slot where it belongs (the table is
    // never more than half full, so there always is one).
    std::size_t slotOf(WindowID id) const
    {
        std::size_t index = static_cast<std::size_t>((id * 0x9E3779B97F4A7C15ULL) >> 32) & mask_;
        while (slots_[index].used && slots_[index].id != id)
            index = (index + 1) & mask_;
        return index;
    }

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

} // namespace

void MRUList::reconcile(std::span<const WindowInfo> windows)
{
    IDTable live(windows.size());
    for (const WindowInfo& window : windows)
        live.assign(window.id, 0);
    std::erase_if(ids, [&](WindowID id) { return !live.contains(id); });

    // Taken before appending, so duplicates within the snapshot are kept.
    IDTable known(ids.size());
    for (WindowID id : ids)
        known.assign(id, 0);
    for (const WindowInfo& window : windows) {
        if (!known.contains(window.id))
            ids.push_back(window.id);
    }
}

std::vector<std::size_t> MRUList::orderIndices(std::span<const WindowInfo> windows) const
{
    std::vector<std::size_t> indices(windows.size());
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = i;
    if (ids.empty())
        return indices;

    IDTable position(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i)
        position.assign(ids[i], i); // a repeated number keeps its later position

    // Unknown windows sort after every known position; ties (unknown
    // windows, or one window listed twice) keep their input order because the
    // input index is the second key, which makes the sort stable.
    constexpr std::size_t unknown = std::numeric_limits<std::size_t>::max();
    std::vector<std::pair<std::size_t, std::size_t>> keys; // (position, input index)
    keys.reserve(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i)
        keys.emplace_back(position.lookup(windows[i].id).value_or(unknown), i);
    std::sort(keys.begin(), keys.end());
    for (std::size_t i = 0; i < keys.size(); ++i)
        indices[i] = keys[i].second;
    return indices;
}

std::vector<WindowInfo> MRUList::order(std::span<const WindowInfo> windows) const
{
    std::vector<WindowInfo> result;
    result.reserve(windows.size());
    for (std::size_t index : orderIndices(windows))
        result.push_back(windows[index]);
    return result;
}

} // namespace vantrel
