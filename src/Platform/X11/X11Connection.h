// The one connection to the X server: atoms, the event thread, subscriptions.
#pragma once

#include "Runtime/RunLoop.h"

#include <xcb/xcb.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantrel {

/// Frees what xcb allocated (replies, errors, events) with `free`.
struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};

/// A reply, error or event owned by the caller.
template <class T>
using XcbPtr = std::unique_ptr<T, XcbFree>;

/// One connection for the whole process. xcb is thread-safe, so requests may be
/// sent from any thread; a dedicated thread reads the events and hands them, in
/// batches and in order, to the main run loop, where subscribers see them.
///
/// When the server goes away (or was never reached) the connection stays an
/// object: `isOpen()` turns false, every request silently yields no reply, and
/// the loss subscribers are told once on the run loop. Callers therefore check
/// replies for null rather than the connection for liveness.
class X11Connection {
public:
    /// Called on the run loop's thread with each event, in server order.
    using EventHandler = std::function<void(const xcb_generic_event_t&)>;

    /// A registration; dropping it (or destroying the connection) ends it.
    /// After `reset` returns the handler is never called again, except that a
    /// handler may be running on the loop thread when another thread resets.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&& other) noexcept;
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription();
        /// Ends the registration (idempotent).
        void reset();
        /// True while registered.
        explicit operator bool() const { return id_ != 0; }

    private:
        friend class X11Connection;
        struct Registry;
        Subscription(std::weak_ptr<Registry> registry, std::uint64_t id) : registry_(std::move(registry)), id_(id) {}
        std::weak_ptr<Registry> registry_;
        std::uint64_t id_ = 0;
    };

    /// Connects to `display` (empty: $DISPLAY). Absent when no server answers.
    /// `loop` must outlive the connection; events are posted to it.
    static std::shared_ptr<X11Connection> open(RunLoop& loop, const std::string& display = {});
    /// The display `open` goes to for `display`: itself, else $DISPLAY; empty
    /// when neither names one.
    static std::string displayName(const std::string& display = {});
    /// Why `open` found no server on `display`, naming it, for the user.
    static std::string openFailure(const std::string& display = {});

    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    /// The display it was opened on (":1"), for messages.
    const std::string& display() const { return display_; }
    /// The raw connection for Platform code; never null, possibly in error.
    xcb_connection_t* raw() const { return connection_; }
    /// The default screen's root window and the screen itself.
    xcb_window_t root() const { return root_; }
    const xcb_screen_t& screen() const { return *screen_; }
    /// A small unmapped window of our own (timestamps, wake-ups, selections).
    xcb_window_t ownWindow() const { return ownWindow_; }

    /// False once the connection broke.
    bool isOpen() const;

    /// The X-Resource extension (1.2, client pids) answered at connection time.
    bool hasResourceExtension() const { return hasResource_; }
    /// RandR 1.5 (monitors) answered at connection time.
    bool hasMonitors() const { return hasMonitors_; }

    /// The atom of `name`, interned once and cached; XCB_ATOM_NONE when the
    /// connection is gone. Thread-safe.
    xcb_atom_t atom(std::string_view name);
    /// Interns every name in one round trip (for start-up tables).
    void internAtoms(std::span<const std::string_view> names);

    /// Registers a handler for every event from now on.
    Subscription subscribe(EventHandler handler);
    /// Registers a handler called on the event thread with each event as it
    /// arrives, before the event is handed to the loop: whatever it records is
    /// in place when any loop subscriber sees the event. It must be quick and
    /// must never wait for the server.
    Subscription subscribeOnArrival(EventHandler handler);
    /// Registers a handler run once on the loop when the connection breaks
    /// (the server ended or closed it): the way a program whose loop this is
    /// learns that it has lost the desktop and should end. The event thread
    /// sees the loss as soon as the socket closes, so the handler runs within
    /// one pass of the loop. Registered after the loss, it still runs, once.
    Subscription onLost(std::function<void()> handler);

    /// A current server timestamp, obtained by touching a property of our own
    /// window and waiting (at most `timeout`) for the event that carries the
    /// time. Falls back to the latest event time seen, else XCB_CURRENT_TIME.
    xcb_timestamp_t serverTime(std::chrono::milliseconds timeout = std::chrono::milliseconds(500));

    /// One round trip: every request sent before has been processed by the
    /// server when this returns. False when the connection is gone.
    bool sync();

    /// Round trips this connection waited for (counted by `noteRoundTrip`);
    /// lets tests and benchmarks prove that reads are batched.
    std::uint64_t roundTrips() const { return roundTrips_.load(); }
    /// Callers that block on a batch of replies count one round trip.
    void noteRoundTrip() { roundTrips_.fetch_add(1); }

    /// Flushes buffered requests; false when the connection is gone.
    bool flush();

private:
    struct Private {};

public:
    X11Connection(Private, xcb_connection_t* connection, int screen, RunLoop& loop);

private:
    void eventThreadMain();
    void noteLost();

    xcb_connection_t* connection_;
    std::string display_;
    const xcb_screen_t* screen_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_window_t ownWindow_ = 0;
    bool hasResource_ = false;
    bool hasMonitors_ = false;
    RunLoop& loop_;

    std::shared_ptr<Subscription::Registry> registry_;
    std::atomic<bool> lost_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> roundTrips_{0};

    std::mutex atomsMutex_;
    std::map<std::string, xcb_atom_t, std::less<>> atoms_;
    xcb_atom_t wakeAtom_ = 0;
    xcb_atom_t timeAtom_ = 0;

    std::mutex timeMutex_;
    std::condition_variable timeChanged_;
    std::uint64_t timeGeneration_ = 0;
    xcb_timestamp_t lastTime_ = XCB_CURRENT_TIME;

    std::thread eventThread_;
};

} // namespace vantrel
