// The single source of truth for which windows exist and their focus order.
#pragma once

#include "VantrelCore/MRUList.h"
#include "VantrelCore/WindowInfo.h"
#include "VantrelCore/WindowTracking.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace vantrel {

/// Applies the snapshots and focus reports of its tracker and tells one
/// listener after every change. Main thread only.
class WindowStore {
public:
    /// Takes the tracker; nothing starts yet.
    explicit WindowStore(std::unique_ptr<WindowTracking> backend);
    ~WindowStore();
    WindowStore(const WindowStore&) = delete;
    WindowStore& operator=(const WindowStore&) = delete;

    /// Starts the tracker with callbacks that do nothing once the store is gone.
    void start();
    /// Stops the tracker; the store keeps its last data.
    void stop();

    /// Takes over the snapshot's windows and Spaces, reconciles the MRU list,
    /// then calls onChange (also when nothing differs).
    void apply(TrackingSnapshot&& snapshot);
    /// As above, copying into the storage the store already holds.
    void apply(const TrackingSnapshot& snapshot);
    /// Moves the window to the front of the MRU list, then calls onChange. The
    /// id need not be among the windows.
    void noteFocused(WindowID id);

    /// Every window: focused ones most recent first, then the others in the
    /// order they first appeared. Computed once per change; the reference is
    /// valid until the next apply or noteFocused.
    const std::vector<WindowInfo>& ordered() const;
    /// The first window with this number.
    std::optional<WindowInfo> window(WindowID id) const;

    /// The last snapshot's windows, in the tracker's order.
    const std::vector<WindowInfo>& windows() const { return windows_; }
    const std::set<SpaceID>& visibleSpaceIDs() const { return visibleSpaceIDs_; }
    const std::set<SpaceID>& fullscreenSpaceIDs() const { return fullscreenSpaceIDs_; }
    const std::map<SpaceID, int>& spaceNumbers() const { return spaceNumbers_; }
    const MRUList& mru() const { return mru_; }

    /// Called after every change.
    std::function<void()> onChange;

private:
    void changed();

    std::vector<WindowInfo> windows_;
    std::set<SpaceID> visibleSpaceIDs_;
    std::set<SpaceID> fullscreenSpaceIDs_;
    std::map<SpaceID, int> spaceNumbers_;
    MRUList mru_;
    // Reused between changes so that a refresh reuses the strings' storage.
    mutable std::vector<WindowInfo> ordered_;
    mutable bool orderedIsCurrent_ = false;
    std::unique_ptr<WindowTracking> backend_;
    // Declared last so it dies first: the tracker's callbacks see the store
    // as gone while the tracker itself is being torn down.
    std::shared_ptr<WindowStore*> alive_;
};

} // namespace vantrel
