// The managed clients' properties, read from the server once and kept until an
// X event says they may have changed.
#include "Platform/X11/X11ClientTable.h"

#include <unordered_set>

namespace vantrel {

std::shared_ptr<X11ClientTable> X11ClientTable::create(std::shared_ptr<X11Connection> connection)
{
    auto table = std::make_shared<X11ClientTable>(Private{}, connection);
    std::weak_ptr<X11ClientTable> weak = table;
    table->subscription_ = connection->subscribeOnArrival([weak](const xcb_generic_event_t& event) {
        if (auto self = weak.lock())
            self->noteEvent(event);
    });
    return table;
}

X11ClientTable::X11ClientTable(Private, std::shared_ptr<X11Connection> connection)
    : connection_(connection), rootWindow_(connection->root())
{
    auto properties = readProperties(*connection);
    clientAtoms_.insert(properties.client.begin(), properties.client.end());
    rootAtoms_.insert(properties.root.begin(), properties.root.end());
    clientAtoms_.erase(XCB_ATOM_NONE);
    rootAtoms_.erase(XCB_ATOM_NONE);
}

void X11ClientTable::noteEvent(const xcb_generic_event_t& event)
{
    std::lock_guard lock(mutex_);
    switch (event.response_type & 0x7f) {
    case XCB_PROPERTY_NOTIFY: {
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (notify.window == rootWindow_ || (checkWindow_ != 0 && notify.window == checkWindow_)) {
            if (rootAtoms_.count(notify.atom))
                dropRoot();
        } else if (clientAtoms_.count(notify.atom)) {
            dropEntry(notify.window, false);
        }
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto& destroy = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
        if (checkWindow_ != 0 && destroy.window == checkWindow_)
            dropRoot();
        dropEntry(destroy.window, true);
        break;
    }
    case XCB_CONFIGURE_NOTIFY:
        // Real or synthetic: either way the position or the size moved.
        dropEntry(reinterpret_cast<const xcb_configure_notify_event_t&>(event).window, false);
        break;
    case XCB_REPARENT_NOTIFY:
        dropEntry(reinterpret_cast<const xcb_reparent_notify_event_t&>(event).window, false);
        break;
    default:
        break;
    }
}

void X11ClientTable::dropEntry(xcb_window_t window, bool destroyed)
{
    auto it = entries_.find(window);
    if (it == entries_.end())
        return;
    ++generation_;
    assembled_.reset();
    if (destroyed && readsUnderWay_ == 0) {
        // No read can have seen it alive, and every later one reaches the
        // server after its end.
        entries_.erase(it);
        return;
    }
    it->second.info.reset();
    ++it->second.version;
    if (destroyed) {
        it->second.destroyed = true;
        pruneDue_ = true;
    }
}

void X11ClientTable::dropRoot()
{
    root_.reset();
    ++rootVersion_;
    ++generation_;
    assembled_.reset();
}

void X11ClientTable::watchLocked(X11Connection& connection, xcb_window_t window)
{
    const std::uint32_t mask[] = {clientEventMask};
    xcb_change_window_attributes(connection.raw(), window, XCB_CW_EVENT_MASK, mask);
}

void X11ClientTable::pruneLocked()
{
    // A destroyed entry must outlive every read that may have seen its window
    // alive, or that read could return it; but no longer, because the server
    // may give its id to a new window (even while a stale client list still
    // names the old one).
    if (!pruneDue_ || readsUnderWay_ != 0)
        return;
    pruneDue_ = false;
    std::unordered_set<xcb_window_t> listed;
    if (root_)
        listed.insert(root_->clientsFrontFirst.begin(), root_->clientsFrontFirst.end());
    std::erase_if(entries_, [&](const auto& entry) {
        return entry.second.destroyed || (root_ && !listed.count(entry.first));
    });
}

std::optional<X11RootState> X11ClientTable::root()
{
    auto connection = connection_.lock();
    if (!connection || !connection->isOpen())
        return std::nullopt;
    std::uint64_t version;
    {
        std::lock_guard lock(mutex_);
        if (root_)
            return root_;
        version = rootVersion_;
    }
    auto fresh = readRootState(*connection);
    if (!fresh || !connection->isOpen())
        return std::nullopt;
    std::lock_guard lock(mutex_);
    if (fresh->supportingWM != checkWindow_) {
        // Watched from now on; this read saw it unwatched, so it is not kept.
        checkWindow_ = fresh->supportingWM;
        if (checkWindow_ != 0) {
            const std::uint32_t mask[] = {clientEventMask};
            xcb_change_window_attributes(connection->raw(), checkWindow_, XCB_CW_EVENT_MASK, mask);
        }
        return fresh;
    }
    if (version == rootVersion_) {
        root_ = fresh;
        pruneDue_ = true;
        pruneLocked();
    }
    return fresh;
}

std::vector<X11ClientRead> X11ClientTable::clients(std::span<const xcb_window_t> windows)
{
    std::vector<X11ClientRead> results(windows.size());
    auto connection = connection_.lock();
    if (!connection || !connection->isOpen())
        return results;

    // Windows to read, where they go, and the entry version each read may replace.
    std::vector<xcb_window_t> toRead;
    std::vector<std::size_t> slots;
    std::vector<std::optional<std::uint64_t>> versions;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < windows.size(); ++i) {
            auto it = entries_.find(windows[i]);
            if (it != entries_.end() && it->second.destroyed) {
                results[i].vanished = true;
                continue;
            }
            if (it != entries_.end() && it->second.info) {
                results[i].info = it->second.info;
                continue;
            }
            toRead.push_back(windows[i]);
            slots.push_back(i);
            versions.push_back(it != entries_.end() ? std::optional(it->second.version) : std::nullopt);
        }
        if (toRead.empty()) {
            pruneLocked();
            return results;
        }
        ++readsUnderWay_;
    }

    auto reads = readClients(*connection, toRead);

    std::lock_guard lock(mutex_);
    for (std::size_t k = 0; k < toRead.size(); ++k) {
        auto& result = results[slots[k]];
        auto it = entries_.find(toRead[k]);
        if (it != entries_.end() && it->second.destroyed) {
            // Reported destroyed while we read it.
            result = {std::nullopt, true};
            continue;
        }
        result = std::move(reads[k]);
        // Kept only when nothing about the window arrived since the versions
        // were taken; windows outside the client list are never kept.
        if (it == entries_.end() || !versions[k] || it->second.version != *versions[k])
            continue;
        if (result.info) {
            it->second.info = result.info;
        } else if (result.vanished) {
            it->second.destroyed = true;
            pruneDue_ = true;
        }
    }
    --readsUnderWay_;
    pruneLocked();
    return results;
}

X11ClientRead X11ClientTable::client(xcb_window_t window)
{
    const xcb_window_t one[] = {window};
    return std::move(clients(one).front());
}

std::shared_ptr<const X11DesktopSnapshot> X11ClientTable::snapshot()
{
    auto connection = connection_.lock();
    if (!connection || !connection->isOpen())
        return nullptr;
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (assembled_)
            return assembled_;
        generation = generation_;
    }
    auto rootState = root();
    if (!rootState)
        return nullptr;
    {
        // Selected before anything is read of them, so that a change after
        // the read raises an event (also for windows the loop has not seen
        // appear yet). Selecting costs no round trip.
        std::lock_guard lock(mutex_);
        for (auto window : rootState->clientsFrontFirst) {
            if (!entries_.count(window)) {
                entries_.emplace(window, Entry{});
                watchLocked(*connection, window);
            }
        }
    }
    auto reads = clients(rootState->clientsFrontFirst);
    if (!connection->isOpen())
        return nullptr;
    auto result = std::make_shared<X11DesktopSnapshot>();
    result->root = std::move(*rootState);
    result->clients.reserve(reads.size());
    for (auto& read : reads)
        if (read.info)
            result->clients.push_back(std::move(*read.info));
    std::lock_guard lock(mutex_);
    if (generation == generation_)
        assembled_ = result;
    return result;
}

} // namespace vantrel
