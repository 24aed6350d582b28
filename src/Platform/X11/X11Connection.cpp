// The one connection to the X server: atoms, the event thread, subscriptions.
#include "Platform/X11/X11Connection.h"

#include "Runtime/Log.h"

#include <xcb/randr.h>
#include <xcb/res.h>

#include <cstring>
#include <utility>

namespace vantrel {

namespace {
const Logger& log()
{
    static const Logger logger("x11");
    return logger;
}

constexpr std::string_view wakeAtomName = "_VANTREL_WAKE";
constexpr std::string_view timeAtomName = "_VANTREL_TIMESTAMP";

/// The time carried by events that have one; 0 for the others.
xcb_timestamp_t eventTime(const xcb_generic_event_t& event)
{
    switch (event.response_type & 0x7f) {
    case XCB_PROPERTY_NOTIFY:
        return reinterpret_cast<const xcb_property_notify_event_t&>(event).time;
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    case XCB_MOTION_NOTIFY:
        return reinterpret_cast<const xcb_key_press_event_t&>(event).time;
    default:
        return 0;
    }
}
} // namespace

// The handlers live apart from the connection so that a Subscription (or a job
// already posted to the loop) can outlive the connection safely.
struct X11Connection::Subscription::Registry {
    struct Entry {
        EventHandler onEvent;
        EventHandler onArrival;
        std::function<void()> onLost;
        std::atomic<bool> toldLost{false};
    };
    std::mutex mutex;
    std::uint64_t nextID = 1;
    std::map<std::uint64_t, std::shared_ptr<Entry>> entries;

    std::uint64_t add(std::shared_ptr<Entry> entry)
    {
        std::lock_guard lock(mutex);
        auto id = nextID++;
        entries.emplace(id, std::move(entry));
        return id;
    }
    void remove(std::uint64_t id)
    {
        std::lock_guard lock(mutex);
        entries.erase(id);
    }
    bool contains(std::uint64_t id)
    {
        std::lock_guard lock(mutex);
        return entries.count(id) != 0;
    }
    std::vector<std::pair<std::uint64_t, std::shared_ptr<Entry>>> snapshot()
    {
        std::lock_guard lock(mutex);
        return {entries.begin(), entries.end()};
    }
};

X11Connection::Subscription::Subscription(Subscription&& other) noexcept
    : registry_(std::move(other.registry_)), id_(std::exchange(other.id_, 0))
{
}

X11Connection::Subscription& X11Connection::Subscription::operator=(Subscription&& other) noexcept
{
    if (this != &other) {
        reset();
        registry_ = std::move(other.registry_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

X11Connection::Subscription::~Subscription() { reset(); }

void X11Connection::Subscription::reset()
{
    if (id_ == 0)
        return;
    if (auto registry = registry_.lock())
        registry->remove(id_);
    id_ = 0;
    registry_.reset();
}

std::shared_ptr<X11Connection> X11Connection::open(RunLoop& loop, const std::string& display)
{
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display.empty() ? nullptr : display.c_str(), &screen);
    if (!connection)
        return nullptr;
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto result = std::make_shared<X11Connection>(Private{}, connection, screen, loop);
    if (!result->root_)
        return nullptr;
    result->display_ = displayName(display);
    return result;
}

std::string X11Connection::displayName(const std::string& display)
{
    if (!display.empty())
        return display;
    const char* fromEnvironment = std::getenv("DISPLAY");
    return fromEnvironment ? fromEnvironment : "";
}

std::string X11Connection::openFailure(const std::string& display)
{
    const auto name = displayName(display);
    return name.empty() ? "no X display: DISPLAY is not set" : "cannot open the X display '" + name + "'";
}

X11Connection::X11Connection(Private, xcb_connection_t* connection, int screenNumber, RunLoop& loop)
    : connection_(connection), loop_(loop), registry_(std::make_shared<Subscription::Registry>())
{
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; it.rem && i < screenNumber; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return;
    screen_ = it.data;
    root_ = screen_->root;

    // Client pids need X-Resource 1.2 (QueryClientIds); without it pids come
    // from _NET_WM_PID only.
    if (const auto* res = xcb_get_extension_data(connection_, &xcb_res_id); res && res->present) {
        XcbPtr<xcb_res_query_version_reply_t> version(
            xcb_res_query_version_reply(connection_, xcb_res_query_version(connection_, 1, 2), nullptr));
        hasResource_ = version && (version->server_major > 1 || (version->server_major == 1 && version->server_minor >= 2));
    }

    // Monitors need RandR 1.5; without it the whole screen is one display.
    if (const auto* randr = xcb_get_extension_data(connection_, &xcb_randr_id); randr && randr->present) {
        XcbPtr<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(connection_, xcb_randr_query_version(connection_, 1, 5), nullptr));
        hasMonitors_ = version && (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 5));
    }

    const std::string_view own[] = {wakeAtomName, timeAtomName};
    internAtoms(own);
    wakeAtom_ = atom(wakeAtomName);
    timeAtom_ = atom(timeAtomName);

    ownWindow_ = xcb_generate_id(connection_);
    const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, ownWindow_, root_, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    flush();
    eventThread_ = std::thread([this] { eventThreadMain(); });
}

X11Connection::~X11Connection()
{
    stopping_ = true;
    if (eventThread_.joinable()) {
        // xcb_wait_for_event has no timeout; a message to our own window is the
        // portable way to wake it (on a broken connection it returns at once).
        xcb_client_message_event_t wake{};
        wake.response_type = XCB_CLIENT_MESSAGE;
        wake.format = 32;
        wake.window = ownWindow_;
        wake.type = wakeAtom_;
        xcb_send_event(connection_, 0, ownWindow_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&wake));
        xcb_flush(connection_);
        eventThread_.join();
    }
    xcb_disconnect(connection_);
}

bool X11Connection::isOpen() const
{
    return !lost_.load() && xcb_connection_has_error(connection_) == 0;
}

bool X11Connection::flush()
{
    return xcb_flush(connection_) > 0 && isOpen();
}

void X11Connection::internAtoms(std::span<const std::string_view> names)
{
    std::vector<std::pair<std::string_view, xcb_intern_atom_cookie_t>> cookies;
    {
        std::lock_guard lock(atomsMutex_);
        for (auto name : names) {
            if (atoms_.find(name) == atoms_.end())
                cookies.emplace_back(name, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()));
        }
    }
    if (cookies.empty())
        return;
    noteRoundTrip();
    for (auto& [name, cookie] : cookies) {
        XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
        if (!reply)
            continue;
        std::lock_guard lock(atomsMutex_);
        atoms_.emplace(std::string(name), reply->atom);
    }
}

xcb_atom_t X11Connection::atom(std::string_view name)
{
    {
        std::lock_guard lock(atomsMutex_);
        if (auto it = atoms_.find(name); it != atoms_.end())
            return it->second;
    }
    const std::string_view one[] = {name};
    internAtoms(one);
    std::lock_guard lock(atomsMutex_);
    auto it = atoms_.find(name);
    return it == atoms_.end() ? xcb_atom_t{XCB_ATOM_NONE} : it->second;
}

X11Connection::Subscription X11Connection::subscribe(EventHandler handler)
{
    auto entry = std::make_shared<Subscription::Registry::Entry>();
    entry->onEvent = std::move(handler);
    return Subscription(registry_, registry_->add(std::move(entry)));
}

X11Connection::Subscription X11Connection::subscribeOnArrival(EventHandler handler)
{
    auto entry = std::make_shared<Subscription::Registry::Entry>();
    entry->onArrival = std::move(handler);
    return Subscription(registry_, registry_->add(std::move(entry)));
}

X11Connection::Subscription X11Connection::onLost(std::function<void()> handler)
{
    auto entry = std::make_shared<Subscription::Registry::Entry>();
    entry->onLost = std::move(handler);
    auto id = registry_->add(entry);
    if (lost_.load()) {
        // Registered after the loss: still told once, on the loop.
        std::weak_ptr<Subscription::Registry> weak = registry_;
        loop_.post([weak, id, entry] {
            auto registry = weak.lock();
            if (registry && registry->contains(id) && !entry->toldLost.exchange(true))
                entry->onLost();
        });
    }
    return Subscription(registry_, id);
}

bool X11Connection::sync()
{
    noteRoundTrip();
    XcbPtr<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    return reply != nullptr;
}

xcb_timestamp_t X11Connection::serverTime(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(timeMutex_);
    auto generation = timeGeneration_;
    lock.unlock();
    // Appending nothing still changes the property and yields a PropertyNotify
    // carrying the server's time (ICCCM §2.1 recommends exactly this).
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, ownWindow_, timeAtom_, XCB_ATOM_STRING, 8, 0, "");
    flush();
    lock.lock();
    timeChanged_.wait_for(lock, timeout, [&] { return timeGeneration_ != generation || lost_.load(); });
    return lastTime_;
}

void X11Connection::eventThreadMain()
{
    while (true) {
        XcbPtr<xcb_generic_event_t> first(xcb_wait_for_event(connection_));
        if (!first) {
            if (!stopping_.load())
                noteLost();
            return;
        }
        std::vector<XcbPtr<xcb_generic_event_t>> batch;
        batch.push_back(std::move(first));
        while (auto* more = xcb_poll_for_queued_event(connection_))
            batch.emplace_back(more);

        bool wake = false;
        std::vector<XcbPtr<xcb_generic_event_t>> forLoop;
        for (auto& event : batch) {
            const auto type = event->response_type & 0x7f;
            if (type == XCB_CLIENT_MESSAGE) {
                const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(*event);
                if (message.window == ownWindow_ && message.type == wakeAtom_) {
                    wake = true;
                    continue;
                }
            }
            if (auto time = eventTime(*event)) {
                std::lock_guard lock(timeMutex_);
                lastTime_ = time;
                if (type == XCB_PROPERTY_NOTIFY) {
                    const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(*event);
                    if (notify.window == ownWindow_ && notify.atom == timeAtom_) {
                        ++timeGeneration_;
                        timeChanged_.notify_all();
                        continue;
                    }
                }
            }
            forLoop.push_back(std::move(event));
        }
        if (!forLoop.empty()) {
            // Before the loop can see any of them, so that a reader woken by
            // a loop subscriber never finds what the event changed cached.
            const auto entries = registry_->snapshot();
            for (const auto& event : forLoop)
                for (const auto& [id, entry] : entries)
                    if (entry->onArrival)
                        entry->onArrival(*event);
            auto shared = std::make_shared<std::vector<XcbPtr<xcb_generic_event_t>>>(std::move(forLoop));
            std::weak_ptr<Subscription::Registry> weak = registry_;
            loop_.post([weak, shared] {
                auto registry = weak.lock();
                if (!registry)
                    return;
                for (const auto& event : *shared) {
                    for (const auto& [id, entry] : registry->snapshot()) {
                        // A handler may have ended another registration.
                        if (entry->onEvent && registry->contains(id))
                            entry->onEvent(*event);
                    }
                }
            });
        }
        if (wake && stopping_.load())
            return;
    }
}

void X11Connection::noteLost()
{
    if (lost_.exchange(true))
        return;
    log().error("lost the connection to the X server (error %d)", xcb_connection_has_error(connection_));
    {
        std::lock_guard lock(timeMutex_);
        timeChanged_.notify_all();
    }
    std::weak_ptr<Subscription::Registry> weak = registry_;
    loop_.post([weak] {
        auto registry = weak.lock();
        if (!registry)
            return;
        for (const auto& [id, entry] : registry->snapshot())
            if (entry->onLost && registry->contains(id) && !entry->toldLost.exchange(true))
                entry->onLost();
    });
}

} // namespace vantrel
