// The managed clients' properties, read from the server once and kept until an
// X event says they may have changed.
#pragma once

#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Connection.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace vantrel {

/// What we select on every managed client: its property changes, and its
/// destruction, moves and resizes (ICCCM §4.1.5: a window manager that moves a
/// frame tells the client with a synthetic ConfigureNotify).
inline constexpr std::uint32_t clientEventMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;

/// A consistent read of the root and of every managed client.
struct X11DesktopSnapshot {
    X11RootState root;
    /// Front first; windows that vanished while being read are left out.
    std::vector<X11ClientInfo> clients;
};

/// The root state and the properties of each window the client list names.
///
/// Every entry is read with events already selected on its window, so any
/// later change raises an event; the connection's event thread drops the
/// entries an event concerns before the loop sees the event. A read that
/// happens after a loop subscriber saw an event therefore never gets what the
/// event changed from the table, and a window whose destruction was received
/// is never returned. Entries are refreshed in one batch for all windows that
/// need it. Thread-safe; the server is never waited for under the lock.
class X11ClientTable : public std::enable_shared_from_this<X11ClientTable> {
public:
    /// Starts watching the connection's events (the root's properties must be
    /// selected by the caller).
    static std::shared_ptr<X11ClientTable> create(std::shared_ptr<X11Connection> connection);

    /// Root state and every listed client, reading only what changed; null when
    /// the connection is gone. The result is shared and never changes.
    std::shared_ptr<const X11DesktopSnapshot> snapshot();
    /// The root state; absent when the connection is gone.
    std::optional<X11RootState> root();
    /// The properties of each window, in order: listed clients from the table
    /// where unchanged, everything else read in one batch.
    std::vector<X11ClientRead> clients(std::span<const xcb_window_t> windows);
    /// One window, as `clients` reads it.
    X11ClientRead client(xcb_window_t window);

    /// Drops what the event may have changed. Called on the event thread.
    void noteEvent(const xcb_generic_event_t& event);

private:
    struct Private {};

public:
    X11ClientTable(Private, std::shared_ptr<X11Connection> connection);

private:
    /// One listed client.
    struct Entry {
        /// Absent until read, and again after any change.
        std::optional<X11ClientInfo> info;
        /// Raised by every change, so a read that started earlier is not kept.
        std::uint64_t version = 0;
        /// The server reported it destroyed (or a read found it gone) while
        /// reads were under way; forgotten once none is.
        bool destroyed = false;
    };

    void dropEntry(xcb_window_t window, bool destroyed);
    void dropRoot();
    void pruneLocked();
    /// Selects `clientEventMask` on a window (no round trip).
    void watchLocked(X11Connection& connection, xcb_window_t window);

    /// Weak: the event thread may hold the table last, and must never end
    /// the connection it runs for.
    std::weak_ptr<X11Connection> connection_;
    xcb_window_t rootWindow_ = 0;
    X11Connection::Subscription subscription_;
    std::set<xcb_atom_t> clientAtoms_;
    std::set<xcb_atom_t> rootAtoms_;

    std::mutex mutex_;
    std::map<xcb_window_t, Entry> entries_;
    std::optional<X11RootState> root_;
    std::uint64_t rootVersion_ = 0;
    /// The window manager's check window, watched so that its end drops the root.
    xcb_window_t checkWindow_ = 0;
    /// Raised by every change of anything in the table.
    std::uint64_t generation_ = 0;
    /// The last assembled snapshot, while nothing changed.
    std::shared_ptr<const X11DesktopSnapshot> assembled_;
    /// Reads between taking versions and storing results; destroyed entries
    /// are forgotten only when none is under way.
    int readsUnderWay_ = 0;
    /// Entries may be destroyed or have left the client list.
    bool pruneDue_ = false;
};

} // namespace vantrel
