// The window store: snapshots and focus reports in, one change callback out.
#include "VantrelCore/WindowStore.h"

#include <algorithm>
#include <utility>

namespace vantrel {

WindowStore::WindowStore(std::unique_ptr<WindowTracking> backend)
    : backend_(std::move(backend))
    , alive_(std::make_shared<WindowStore*>(this))
{
}

WindowStore::~WindowStore() = default;

void WindowStore::start()
{
    if (!backend_)
        return;
    std::weak_ptr<WindowStore*> weak = alive_;
    backend_->start(
        [weak](TrackingSnapshot snapshot) {
            if (auto self = weak.lock())
                (*self)->apply(std::move(snapshot));
        },
        [weak](WindowID id) {
            if (auto self = weak.lock())
                (*self)->noteFocused(id);
        });
}

void WindowStore::stop()
{
    if (backend_)
        backend_->stop();
}

void WindowStore::apply(TrackingSnapshot&& snapshot)
{
    windows_ = std::move(snapshot.windows);
    visibleSpaceIDs_ = std::move(snapshot.visibleSpaceIDs);
    fullscreenSpaceIDs_ = std::move(snapshot.fullscreenSpaceIDs);
    spaceNumbers_ = std::move(snapshot.spaceNumbers);
    mru_.reconcile(windows_);
    changed();
}

void WindowStore::apply(const TrackingSnapshot& snapshot)
{
    windows_ = snapshot.windows;
    visibleSpaceIDs_ = snapshot.visibleSpaceIDs;
    fullscreenSpaceIDs_ = snapshot.fullscreenSpaceIDs;
    spaceNumbers_ = snapshot.spaceNumbers;
    mru_.reconcile(windows_);
    changed();
}

void WindowStore::noteFocused(WindowID id)
{
    mru_.touch(id);
    changed();
}

const std::vector<WindowInfo>& WindowStore::ordered() const
{
    if (!orderedIsCurrent_) {
        const auto indices = mru_.orderIndices(windows_);
        // Element-wise assignment into the previous list keeps its strings'
        // buffers: a refresh of the same windows allocates almost nothing.
        ordered_.resize(windows_.size());
        for (std::size_t i = 0; i < indices.size(); ++i)
            ordered_[i] = windows_[indices[i]];
        orderedIsCurrent_ = true;
    }
    return ordered_;
}

std::optional<WindowInfo> WindowStore::window(WindowID id) const
{
    auto it = std::find_if(windows_.begin(), windows_.end(), [id](const WindowInfo& w) { return w.id == id; });
    if (it == windows_.end())
        return std::nullopt;
    return *it;
}

void WindowStore::changed()
{
    orderedIsCurrent_ = false;
    if (onChange) {
        // A copy, so that a listener replacing onChange does not destroy the
        // function that is running.
        auto callback = onChange;
        callback();
    }
}

} // namespace vantrel
