// The desktop as one shared object: fresh reads of the window manager's state,
// the requests we make of it, and the changes it reports, turned into events.
#include "Platform/X11/X11Desktop.h"

#include "Platform/X11/X11Properties.h"

#include <algorithm>

namespace vantrel {

namespace {
/// EWMH source indication: "2 when the request comes from a pager", which is
/// what a switcher is; window managers then honour it without focus stealing
/// prevention.
constexpr std::uint32_t sourcePager = 2;
constexpr std::uint32_t iconicState = 3;
/// Room for 256 actions; window managers list about a dozen.
constexpr std::uint32_t allowedActionsBytes = 1024;

X11DesktopEvent desktopEvent(X11DesktopEvent::Kind kind, std::int32_t pid, xcb_window_t window, X11AppFacts app = {})
{
    X11DesktopEvent result;
    result.kind = kind;
    result.pid = pid;
    result.window = window;
    result.app = std::move(app);
    return result;
}

X11AppFacts facts(std::int32_t pid)
{
    X11AppFacts result;
    result.pid = pid;
    return result;
}
} // namespace

std::shared_ptr<X11Desktop> X11Desktop::create(std::shared_ptr<X11Connection> connection, RunLoop& loop)
{
    auto desktop = std::make_shared<X11Desktop>(Private{}, std::move(connection), loop);
    desktop->start();
    return desktop;
}

X11Desktop::X11Desktop(Private, std::shared_ptr<X11Connection> connection, RunLoop& loop)
    : connection_(std::move(connection)), table_(X11ClientTable::create(connection_)), loop_(loop)
{
    auto& c = *connection_;
    netClientList_ = c.atom("_NET_CLIENT_LIST");
    netClientListStacking_ = c.atom("_NET_CLIENT_LIST_STACKING");
    netActiveWindow_ = c.atom("_NET_ACTIVE_WINDOW");
    netWMName_ = c.atom("_NET_WM_NAME");
    netWMState_ = c.atom("_NET_WM_STATE");
    wmState_ = c.atom("WM_STATE");
    netCloseWindow_ = c.atom("_NET_CLOSE_WINDOW");
    netCurrentDesktop_ = c.atom("_NET_CURRENT_DESKTOP");
    wmChangeState_ = c.atom("WM_CHANGE_STATE");
    netRestackWindow_ = c.atom("_NET_RESTACK_WINDOW");
    netNumberOfDesktops_ = c.atom("_NET_NUMBER_OF_DESKTOPS");
    netDesktopNames_ = c.atom("_NET_DESKTOP_NAMES");
    netWMDesktop_ = c.atom("_NET_WM_DESKTOP");
    netWMAllowedActions_ = c.atom("_NET_WM_ALLOWED_ACTIONS");
    netWMActionMinimize_ = c.atom("_NET_WM_ACTION_MINIMIZE");
}

void X11Desktop::start()
{
    std::weak_ptr<X11Desktop> weak = weak_from_this();
    subscription_ = connection_->subscribe([weak](const xcb_generic_event_t& event) {
        if (auto self = weak.lock())
            self->handle(event);
    });
    const std::uint32_t rootMask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_change_window_attributes(connection_->raw(), connection_->root(), XCB_CW_EVENT_MASK, rootMask);
    // The first scan reports nothing: what exists at start is not news.
    rescanClients();
}

std::shared_ptr<const X11DesktopSnapshot> X11Desktop::snapshot() { return table_->snapshot(); }

std::optional<X11RootState> X11Desktop::root() { return table_->root(); }

X11ClientRead X11Desktop::client(xcb_window_t window) { return table_->client(window); }

std::vector<X11ClientRead> X11Desktop::clients(std::span<const xcb_window_t> windows)
{
    return table_->clients(windows);
}

bool X11Desktop::windowExists(xcb_window_t window)
{
    if (window == 0)
        return false;
    connection_->noteRoundTrip();
    XcbPtr<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(connection_->raw(), xcb_get_window_attributes(connection_->raw(), window), nullptr));
    return reply != nullptr;
}

std::uint32_t X11Desktop::rootMessage(xcb_window_t window, xcb_atom_t type, std::uint32_t d0, std::uint32_t d1,
                                      std::uint32_t d2)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    const auto cookie = xcb_send_event(connection_->raw(), 0, connection_->root(),
                                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                                       reinterpret_cast<const char*>(&event));
    connection_->flush();
    return cookie.sequence;
}

void X11Desktop::activate(xcb_window_t window)
{
    // Window managers may refuse to move focus to another desktop (openbox
    // only marks such a window urgent), so switch there first, as pagers do.
    auto root = readRootState(*connection_);
    auto read = client(window);
    if (root && read.info && read.info->desktop && *read.info->desktop != allDesktops
        && root->currentDesktop != read.info->desktop)
        switchDesktop(*read.info->desktop);
    xcb_window_t current;
    {
        std::lock_guard lock(mutex_);
        current = active_;
    }
    rootMessage(window, netActiveWindow_, sourcePager, connection_->serverTime(), current);
}

void X11Desktop::raise(xcb_window_t window)
{
    activate(window);
    rootMessage(window, netRestackWindow_, sourcePager, XCB_NONE, XCB_STACK_MODE_ABOVE);
}

void X11Desktop::close(xcb_window_t window)
{
    rootMessage(window, netCloseWindow_, connection_->serverTime(), sourcePager);
}

void X11Desktop::iconify(xcb_window_t window)
{
    rootMessage(window, wmChangeState_, iconicState);
}

void X11Desktop::switchDesktop(std::uint32_t index)
{
    rootMessage(connection_->root(), netCurrentDesktop_, index, connection_->serverTime());
}

std::optional<xcb_window_t> X11Desktop::lastActiveWindow(std::int32_t pid) const
{
    std::lock_guard lock(mutex_);
    auto it = lastActive_.find(pid);
    if (it == lastActive_.end())
        return std::nullopt;
    return it->second;
}

std::int32_t X11Desktop::activePid() const
{
    std::lock_guard lock(mutex_);
    return activePid_;
}

std::vector<X11AppFacts> X11Desktop::applications() const
{
    std::lock_guard lock(mutex_);
    std::vector<X11AppFacts> result;
    for (auto pid : pidOrder_)
        if (auto it = apps_.find(pid); it != apps_.end())
            result.push_back(it->second);
    return result;
}

std::optional<X11AppFacts> X11Desktop::application(std::int32_t pid) const
{
    std::lock_guard lock(mutex_);
    auto it = apps_.find(pid);
    if (it == apps_.end())
        return std::nullopt;
    return it->second;
}

bool X11Desktop::hide(std::int32_t pid)
{
    // The application counts as hidden once the window manager has iconified
    // its windows, not when we ask: reporting it earlier let a quick
    // un-minimize land before the iconify was seen, and both then read as
    // "never minimized", so the application stayed hidden for good.
    std::vector<xcb_window_t> windows, shown;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [window, known] : known_) {
            if (known.pid != pid)
                continue;
            windows.push_back(window);
            if (!known.minimized)
                shown.push_back(window);
        }
        if (windows.empty())
            return false;
    }
    const auto willIconify = iconifiable(shown);
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        hidden_.insert(pid);
        Hiding hiding;
        for (auto window : willIconify)
            if (auto it = known_.find(window); it != known_.end() && !it->second.minimized)
                hiding.pending.insert(window);
        if (!hiding.pending.empty()) {
            hiding.generation = generation = nextHiding_++;
            hiding_[pid] = std::move(hiding);
        } else {
            hiding_.erase(pid);
        }
    }
    std::uint32_t sequence = 0;
    for (auto window : windows)
        sequence = rootMessage(window, wmChangeState_, iconicState);
    std::weak_ptr<X11Desktop> weak = weak_from_this();
    if (generation == 0) {
        loop_.post([weak, pid] {
            if (auto self = weak.lock())
                self->emit({desktopEvent(X11DesktopEvent::Kind::appHidden, pid, 0)});
        });
        return true;
    }
    {
        std::lock_guard lock(mutex_);
        if (auto it = hiding_.find(pid); it != hiding_.end() && it->second.generation == generation) {
            it->second.sequence = sequence;
            it->second.sent = true;
        }
    }
    loop_.post([weak, pid, generation] {
        auto self = weak.lock();
        if (!self)
            return;
        self->loop_.schedule(hideSettleTime, [weak, pid, generation] {
            if (auto self = weak.lock())
                self->finishHiding(pid, generation);
        });
    });
    return true;
}

std::vector<xcb_window_t> X11Desktop::iconifiable(const std::vector<xcb_window_t>& windows)
{
    auto* c = connection_->raw();
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (auto window : windows)
        cookies.push_back(requestProperty(c, window, netWMAllowedActions_, allowedActionsBytes));
    if (!windows.empty())
        connection_->noteRoundTrip();
    std::vector<xcb_window_t> result;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto reply = takeProperty(c, cookies[i]);
        auto actions = cardinals(reply.get(), {XCB_ATOM_ATOM});
        // Without the list we take the window manager at its word that it iconifies.
        if (!actions || std::find(actions->begin(), actions->end(), netWMActionMinimize_) != actions->end())
            result.push_back(windows[i]);
    }
    return result;
}

void X11Desktop::finishHiding(std::int32_t pid, std::uint64_t generation)
{
    {
        std::lock_guard lock(mutex_);
        auto it = hiding_.find(pid);
        if (it == hiding_.end() || it->second.generation != generation)
            return;
        hiding_.erase(it);
    }
    emit({desktopEvent(X11DesktopEvent::Kind::appHidden, pid, 0)});
}

bool X11Desktop::isHidden(std::int32_t pid) const
{
    std::lock_guard lock(mutex_);
    return hidden_.count(pid) != 0;
}

void X11Desktop::onLost(std::function<void()> handler)
{
    lostSubscription_ = connection_->onLost(std::move(handler));
}

std::shared_ptr<void> X11Desktop::listen(Listener listener)
{
    std::uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = nextListener_++;
        listeners_.emplace(id, std::make_shared<Listener>(std::move(listener)));
    }
    std::weak_ptr<X11Desktop> weak = weak_from_this();
    return std::shared_ptr<void>(nullptr, [weak, id](void*) {
        if (auto self = weak.lock()) {
            std::lock_guard lock(self->mutex_);
            self->listeners_.erase(id);
        }
    });
}

void X11Desktop::emit(const std::vector<X11DesktopEvent>& events)
{
    for (const auto& event : events) {
        std::vector<std::pair<std::uint64_t, std::shared_ptr<Listener>>> listeners;
        {
            std::lock_guard lock(mutex_);
            listeners.assign(listeners_.begin(), listeners_.end());
        }
        for (const auto& [id, listener] : listeners) {
            bool still;
            {
                std::lock_guard lock(mutex_);
                still = listeners_.count(id) != 0;
            }
            if (still)
                (*listener)(event);
        }
    }
}

void X11Desktop::handle(const xcb_generic_event_t& event)
{
    const auto type = event.response_type & 0x7f;
    std::vector<X11DesktopEvent> events;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (notify.window == connection_->root()) {
            if (notify.atom == netClientList_ || notify.atom == netClientListStacking_) {
                rescanClients();
            } else if (notify.atom == netActiveWindow_) {
                if (auto state = root())
                    noteActive(state->activeWindow, events);
            } else if (notify.atom == netCurrentDesktop_ || notify.atom == netNumberOfDesktops_
                       || notify.atom == netDesktopNames_) {
                events.push_back(desktopEvent(X11DesktopEvent::Kind::spacesChanged, 0, 0));
            }
        } else {
            std::int32_t pid = 0;
            {
                std::lock_guard lock(mutex_);
                auto it = known_.find(notify.window);
                if (it == known_.end())
                    return;
                pid = it->second.pid;
            }
            if (notify.atom == netWMName_ || notify.atom == XCB_ATOM_WM_NAME)
                events.push_back(desktopEvent(X11DesktopEvent::Kind::titleChanged, pid, notify.window));
            else if (notify.atom == netWMState_ || notify.atom == wmState_)
                refreshState(notify.window, event.full_sequence, events);
            else if (notify.atom == netWMDesktop_)
                events.push_back(desktopEvent(X11DesktopEvent::Kind::spacesChanged, pid, notify.window));
        }
    } else if (type == XCB_CONFIGURE_NOTIFY) {
        const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
        if (configure.window == connection_->root())
            events.push_back(desktopEvent(X11DesktopEvent::Kind::screensChanged, 0, 0));
    }
    emit(events);
}

void X11Desktop::refreshState(xcb_window_t window, std::uint32_t sequence, std::vector<X11DesktopEvent>& events)
{
    auto read = client(window);
    if (!read.info)
        return;
    const bool minimized = read.info->minimized;
    std::lock_guard lock(mutex_);
    auto it = known_.find(window);
    if (it == known_.end())
        return;
    const auto pid = it->second.pid;
    const bool changed = it->second.minimized != minimized;
    it->second.minimized = minimized;
    if (changed)
        events.push_back(desktopEvent(minimized ? X11DesktopEvent::Kind::minimized : X11DesktopEvent::Kind::deminimized, pid, window));

    bool cameBack = changed && !minimized;
    auto hiding = hiding_.find(pid);
    if (hiding != hiding_.end() && hiding->second.pending.count(window)) {
        if (minimized) {
            hiding->second.pending.erase(window);
            if (hiding->second.pending.empty()) {
                hiding_.erase(hiding);
                events.push_back(desktopEvent(X11DesktopEvent::Kind::appHidden, pid, 0));
                return;
            }
        } else if (hiding->second.sent && static_cast<std::int32_t>(sequence - hiding->second.sequence) >= 0) {
            // The window manager answered the iconify (the change comes after
            // it), yet the window reads as shown: it was iconified and brought
            // back before we looked.
            cameBack = true;
        }
    }
    if (!cameBack || !hidden_.count(pid))
        return;
    if (hiding != hiding_.end()) {
        // Shown before every window was seen going: report the hide first, so
        // observers always see the pair.
        hiding_.erase(hiding);
        events.push_back(desktopEvent(X11DesktopEvent::Kind::appHidden, pid, 0));
    }
    hidden_.erase(pid);
    events.push_back(desktopEvent(X11DesktopEvent::Kind::appShown, pid, 0));
}

void X11Desktop::noteActive(xcb_window_t window, std::vector<X11DesktopEvent>& events)
{
    // openbox reads 0 for a moment during a switch: that is no focus report.
    if (window == 0)
        return;
    std::lock_guard lock(mutex_);
    auto it = known_.find(window);
    const std::int32_t pid = it == known_.end() ? 0 : it->second.pid;
    // X reuses window ids, and a window manager may leave a destroyed
    // window's id as the active one: the same id with a new owner is a new
    // focus.
    if (window == active_ && pid == activeOwner_)
        return;
    active_ = window;
    activeOwner_ = pid;
    if (pid != 0)
        lastActive_[pid] = window;
    events.push_back(desktopEvent(X11DesktopEvent::Kind::focusChanged, pid, window));
    if (pid != 0 && pid != activePid_) {
        activePid_ = pid;
        auto app = apps_.find(pid);
        events.push_back(desktopEvent(X11DesktopEvent::Kind::appActivated, pid, 0, app == apps_.end() ? facts(pid) : app->second));
    }
}

void X11Desktop::rescanClients()
{
    // The table selects events on new clients before it reads them, so a
    // change in between still raises an event.
    auto snapshot = table_->snapshot();
    if (!snapshot)
        return;
    const auto* root = &snapshot->root;
    std::vector<X11DesktopEvent> events;
    {
        std::lock_guard lock(mutex_);
        const bool initial = !scanned_;
        scanned_ = true;
        std::set<xcb_window_t> listed(root->clientsFrontFirst.begin(), root->clientsFrontFirst.end());
        std::map<xcb_window_t, std::int32_t> owners;
        for (const auto& info : snapshot->clients)
            owners[info.id] = info.pid;
        for (auto it = known_.begin(); it != known_.end();) {
            // X reuses ids: a listed id with another owner is a new window
            // in place of the one we knew.
            const auto owner = owners.find(it->first);
            if (listed.count(it->first) && (owner == owners.end() || owner->second == it->second.pid)) {
                ++it;
                continue;
            }
            const auto pid = it->second.pid;
            events.push_back(desktopEvent(X11DesktopEvent::Kind::windowDestroyed, pid, it->first));
            bool settled = false;
            if (auto hiding = hiding_.find(pid);
                hiding != hiding_.end() && hiding->second.pending.erase(it->first) && hiding->second.pending.empty()) {
                hiding_.erase(hiding);
                settled = true;
            }
            if (lastActive_.count(pid) && lastActive_[pid] == it->first)
                lastActive_.erase(pid);
            it = known_.erase(it);
            const bool owns = std::any_of(known_.begin(), known_.end(), [&](const auto& k) { return k.second.pid == pid; });
            if (auto app = apps_.find(pid); !owns && app != apps_.end()) {
                events.push_back(desktopEvent(X11DesktopEvent::Kind::appTerminated, pid, 0, app->second));
                apps_.erase(app);
                std::erase(pidOrder_, pid);
                hidden_.erase(pid);
                hiding_.erase(pid);
                lastActive_.erase(pid);
                if (activePid_ == pid)
                    activePid_ = 0;
            } else if (settled) {
                // The last window still to go is gone: the rest are iconified.
                events.push_back(desktopEvent(X11DesktopEvent::Kind::appHidden, pid, 0));
            }
        }
        // Oldest first, so launch order follows the stacking order at start.
        for (auto i = snapshot->clients.size(); i-- > 0;) {
            const auto* info = &snapshot->clients[i];
            if (known_.count(info->id))
                continue;
            known_[info->id] = {info->pid, info->minimized};
            if (info->pid == 0)
                continue;
            auto [app, added] = apps_.try_emplace(info->pid);
            if (added) {
                app->second.pid = info->pid;
                app->second.instanceName = info->instanceName;
                app->second.className = info->className;
                pidOrder_.push_back(info->pid);
            }
            app->second.hasStandardWindow = app->second.hasStandardWindow || info->isStandard();
            if (added && !initial)
                events.push_back(desktopEvent(X11DesktopEvent::Kind::appLaunched, info->pid, 0, app->second));
            if (!initial)
                events.push_back(desktopEvent(X11DesktopEvent::Kind::windowCreated, info->pid, info->id));
        }
    }
    noteActive(root->activeWindow, events);
    emit(events);
}

} // namespace vantrel
