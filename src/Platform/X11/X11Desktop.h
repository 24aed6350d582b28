// The desktop as one shared object: fresh reads of the window manager's state,
// the requests we make of it, and the changes it reports, turned into events.
#pragma once

#include "Platform/X11/X11ClientTable.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Connection.h"
#include "Runtime/RunLoop.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantrel {

/// What the desktop remembers of an application (a pid owning windows).
struct X11AppFacts {
    std::int32_t pid = 0;
    std::string instanceName;
    std::string className;
    /// Owns a normal, non-skip-taskbar window.
    bool hasStandardWindow = false;
    bool operator==(const X11AppFacts&) const = default;
};

/// Something that changed on the desktop, for one application (pid).
struct X11DesktopEvent {
    enum class Kind {
        windowCreated,     ///< a client appeared in the client list
        windowDestroyed,   ///< a client left it
        focusChanged,      ///< `_NET_ACTIVE_WINDOW` names `window` (never 0)
        appActivated,      ///< the owner of the active window changed to `pid`
        titleChanged,
        minimized,
        deminimized,
        appHidden,         ///< after a hide request, its windows are iconified
        appShown,          ///< a window of a hidden application came back (after appHidden)
        appLaunched,       ///< `pid` owns its first managed window
        appTerminated,     ///< `pid` owns no managed window any more
        screensChanged,    ///< the root window changed size (RandR)
        spacesChanged,     ///< the current desktop, the desktops, or `window`'s desktop changed
    };
    Kind kind = Kind::windowCreated;
    std::int32_t pid = 0;
    xcb_window_t window = 0;
    /// The application, for launches, terminations and activations.
    X11AppFacts app;
    bool operator==(const X11DesktopEvent&) const = default;
};

/// Shared by the three backends. Reads of the root and the clients go through
/// one `X11ClientTable`, so they reach the server only for what changed since
/// it was last read; what must be remembered between events (the client list,
/// each application's last active window, hidden applications) is kept here
/// and updated on the run loop. Thread-safe.
class X11Desktop : public std::enable_shared_from_this<X11Desktop> {
public:
    using Listener = std::function<void(const X11DesktopEvent&)>;

    /// How long a hide waits for windows the window manager does not iconify.
    static constexpr std::chrono::milliseconds hideSettleTime{1000};

    /// Watches the root and the current clients; events are handled on `loop`.
    static std::shared_ptr<X11Desktop> create(std::shared_ptr<X11Connection> connection, RunLoop& loop);

    X11Connection& connection() { return *connection_; }
    RunLoop& loop() { return loop_; }
    /// The connection is open.
    bool isOpen() const { return connection_->isOpen(); }

    /// Root state and clients (shared, never changing); null when the
    /// connection is gone.
    std::shared_ptr<const X11DesktopSnapshot> snapshot();
    /// The root state; absent when the connection is gone.
    std::optional<X11RootState> root();
    /// One window's properties (a round trip unless the table has them).
    X11ClientRead client(xcb_window_t window);
    /// Several windows' properties, read in one batch where needed.
    std::vector<X11ClientRead> clients(std::span<const xcb_window_t> windows);
    /// Whether the window still exists (one round trip).
    bool windowExists(xcb_window_t window);

    /// EWMH `_NET_ACTIVE_WINDOW` request: source indication 2 (a pager: the
    /// user asked for it), a real timestamp, our idea of the active window.
    /// The window manager switches desktop and de-iconifies as needed.
    void activate(xcb_window_t window);
    /// Activates, then asks the window manager to put the window on top of
    /// its siblings (EWMH `_NET_RESTACK_WINDOW`, detail Above).
    void raise(xcb_window_t window);
    /// EWMH `_NET_CLOSE_WINDOW`: the window manager asks the client politely.
    void close(xcb_window_t window);
    /// ICCCM §4.1.4 `WM_CHANGE_STATE` to IconicState.
    void iconify(xcb_window_t window);
    /// EWMH `_NET_CURRENT_DESKTOP` request.
    void switchDesktop(std::uint32_t index);

    /// The application's most recently active window seen, if any.
    std::optional<xcb_window_t> lastActiveWindow(std::int32_t pid) const;
    /// The pid owning the active window, as last seen; 0 for none.
    std::int32_t activePid() const;
    /// Every pid that owns a managed window, in the order they appeared.
    std::vector<X11AppFacts> applications() const;
    /// Facts of one application while it owns windows.
    std::optional<X11AppFacts> application(std::int32_t pid) const;

    /// Hides an application: iconifies its windows and remembers it as hidden
    /// until one of them comes back. `appHidden` follows once every window is
    /// seen iconified that the window manager offers to minimize (at once when
    /// none is left to wait for; after `hideSettleTime` when it leaves one
    /// alone after all). False when it owns no window.
    bool hide(std::int32_t pid);
    bool isHidden(std::int32_t pid) const;

    /// Calls `handler` once on the loop when the connection breaks (see
    /// `X11Connection::onLost`), for as long as the desktop lives; a later
    /// call replaces it.
    void onLost(std::function<void()> handler);

    /// Registers a listener, called on the loop for every event; the returned
    /// token ends the registration when destroyed.
    std::shared_ptr<void> listen(Listener listener);

private:
    struct Private {};

public:
    X11Desktop(Private, std::shared_ptr<X11Connection> connection, RunLoop& loop);

private:
    struct Known {
        std::int32_t pid = 0;
        bool minimized = false;
    };
    /// A hide request whose windows are not all seen iconified yet.
    struct Hiding {
        std::set<xcb_window_t> pending;
        /// Full sequence number of the last iconify request; changes the
        /// window manager made in answer carry at least this number.
        std::uint32_t sequence = 0;
        bool sent = false;
        std::uint64_t generation = 0;
    };
    void start();
    void handle(const xcb_generic_event_t& event);
    void rescanClients();
    void noteActive(xcb_window_t window, std::vector<X11DesktopEvent>& events);
    void refreshState(xcb_window_t window, std::uint32_t sequence, std::vector<X11DesktopEvent>& events);
    void finishHiding(std::int32_t pid, std::uint64_t generation);
    /// Those of `windows` whose `_NET_WM_ALLOWED_ACTIONS` offer minimizing
    /// (all of them when the window manager publishes none); one round trip.
    std::vector<xcb_window_t> iconifiable(const std::vector<xcb_window_t>& windows);
    void emit(const std::vector<X11DesktopEvent>& events);
    std::uint32_t rootMessage(xcb_window_t window, xcb_atom_t type, std::uint32_t d0, std::uint32_t d1 = 0,
                     std::uint32_t d2 = 0);

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<X11ClientTable> table_;
    RunLoop& loop_;
    X11Connection::Subscription subscription_;
    X11Connection::Subscription lostSubscription_;

    mutable std::mutex mutex_;
    std::map<xcb_window_t, Known> known_;
    std::vector<std::int32_t> pidOrder_;
    std::map<std::int32_t, X11AppFacts> apps_;
    std::map<std::int32_t, xcb_window_t> lastActive_;
    std::set<std::int32_t> hidden_;
    std::map<std::int32_t, Hiding> hiding_;
    std::uint64_t nextHiding_ = 1;
    bool scanned_ = false;
    xcb_window_t active_ = 0;
    /// The owner of `active_` when it was last seen; 0 while no listed
    /// window had that id.
    std::int32_t activeOwner_ = 0;
    std::int32_t activePid_ = 0;
    std::uint64_t nextListener_ = 1;
    std::map<std::uint64_t, std::shared_ptr<Listener>> listeners_;

    xcb_atom_t netClientList_ = 0, netClientListStacking_ = 0, netActiveWindow_ = 0, netWMName_ = 0,
               netWMState_ = 0, wmState_ = 0, netCloseWindow_ = 0, netCurrentDesktop_ = 0, wmChangeState_ = 0,
               netRestackWindow_ = 0, netNumberOfDesktops_ = 0, netDesktopNames_ = 0, netWMDesktop_ = 0,
               netWMAllowedActions_ = 0, netWMActionMinimize_ = 0;
};

} // namespace vantrel
