// The most-recently-used list's operations.
#include "VantrelCore/MRUList.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

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

void MRUList::reconcile(std::span<const WindowInfo> windows)
{
    std::unordered_set<WindowID> live;
    live.reserve(windows.size());
    for (const WindowInfo& window : windows)
        live.insert(window.id);
    std::erase_if(ids, [&](WindowID id) { return !live.contains(id); });

    // Taken before appending, so duplicates within the snapshot are kept.
    std::unordered_set<WindowID> known(ids.begin(), ids.end());
    for (const WindowInfo& window : windows) {
        if (!known.contains(window.id))
            ids.push_back(window.id);
    }
}

std::vector<WindowInfo> MRUList::order(std::span<const WindowInfo> windows) const
{
    if (ids.empty())
        return {windows.begin(), windows.end()};

    std::unordered_map<WindowID, std::size_t> position;
    position.reserve(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i)
        position.insert_or_assign(ids[i], i); // a repeated number keeps its later position

    // Unknown windows sort after every known position; a stable sort keeps
    // their input order among themselves.
    constexpr std::size_t unknown = std::numeric_limits<std::size_t>::max();
    std::vector<std::pair<std::size_t, std::size_t>> keys; // (position, input index)
    keys.reserve(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto it = position.find(windows[i].id);
        keys.emplace_back(it == position.end() ? unknown : it->second, i);
    }
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    std::vector<WindowInfo> result;
    result.reserve(windows.size());
    for (const auto& key : keys)
        result.push_back(windows[key.second]);
    return result;
}

} // namespace vantrel
