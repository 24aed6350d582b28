// A simulated desktop behind the window-server, accessibility and workspace interfaces.
#include "Platform/Sim/SimDesktop.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <sstream>
#include <sys/mman.h>

namespace vantrel::Sim {

namespace {

constexpr std::uint32_t psnMarker = 0x53494d; // "SIM": a serial number this desktop handed out
constexpr std::int32_t processNotFound = -600;
constexpr Duration defaultMessagingTimeout = std::chrono::seconds(6);

std::string hex(std::uint32_t value)
{
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

nlohmann::json spaceDictionary(const Space& space)
{
    return {{"id64", space.id}, {"ManagedSpaceID", space.managedID}, {"uuid", space.uuid}, {"type", space.type}};
}

} // namespace

// ---- Elements, observers, subscriptions ----

struct SimDesktop::Element final : AXElementObject {
    enum class Kind { application, window, closeButton };
    Element(Kind kind, Pid pid, WindowID window, std::uint64_t generation, float timeout)
        : kind(kind), pid(pid), window(window), generation(generation), timeout(timeout)
    {
    }
    Kind kind;
    Pid pid;
    WindowID window;
    std::uint64_t generation;
    /// Seconds; 0 for the platform default.
    std::atomic<float> timeout;
};

class SimDesktop::Observer final : public AXObserver {
public:
    Observer(std::weak_ptr<SimDesktop> desktop, Pid pid, AXObserverCallback callback)
        : desktop_(std::move(desktop)), pid_(pid), callback_(std::move(callback))
    {
    }

    AXError addNotification(const AXElement& element, std::string_view notification) override
    {
        auto desktop = desktop_.lock();
        auto* sim = dynamic_cast<Element*>(element.get());
        if (!desktop || sim == nullptr || sim->pid != pid_)
            return AXErrors::illegalArgument;
        AXError code = desktop->checkObserverTarget(*sim, "AXObserverAddNotification " + std::string(notification));
        if (code != AXErrors::success)
            return code;
        std::lock_guard lock(mutex_);
        if (!registrations_.insert({key(*sim), std::string(notification)}).second)
            return AXErrors::notificationAlreadyRegistered;
        return AXErrors::success;
    }

    AXError removeNotification(const AXElement& element, std::string_view notification) override
    {
        auto* sim = dynamic_cast<Element*>(element.get());
        if (sim == nullptr)
            return AXErrors::illegalArgument;
        std::lock_guard lock(mutex_);
        if (registrations_.erase({key(*sim), std::string(notification)}) == 0)
            return AXErrors::notificationNotRegistered;
        return AXErrors::success;
    }

    void attach(RunLoop& loop) override
    {
        std::lock_guard lock(mutex_);
        loop_ = &loop;
        ++epoch_;
    }

    void detach() override
    {
        std::lock_guard lock(mutex_);
        loop_ = nullptr;
        ++epoch_;
    }

    Pid pid() const { return pid_; }

    /// Queues the callback when the observer listens for `notification` on
    /// the element or on its application.
    void deliver(const std::shared_ptr<Observer>& self, const AXElement& element, WindowID window,
                 const std::string& notification)
    {
        std::lock_guard lock(mutex_);
        if (loop_ == nullptr)
            return;
        bool listening = registrations_.count({0, notification}) > 0 ||
                         (window != 0 && registrations_.count({window, notification}) > 0);
        if (!listening)
            return;
        auto epoch = epoch_;
        loop_->post([self, element, notification, epoch] {
            AXObserverCallback callback;
            {
                std::lock_guard lock(self->mutex_);
                if (self->epoch_ != epoch || self->loop_ == nullptr)
                    return;
                callback = self->callback_;
            }
            callback(element, notification);
        });
    }

private:
    static WindowID key(const Element& element) { return element.kind == Element::Kind::application ? 0 : element.window; }

    std::weak_ptr<SimDesktop> desktop_;
    Pid pid_;
    AXObserverCallback callback_;
    std::mutex mutex_;
    std::set<std::pair<WindowID, std::string>> registrations_;
    RunLoop* loop_ = nullptr;
    std::uint64_t epoch_ = 0;
};

struct SimDesktop::Subscription {
    enum class Kind { workspace, distributed, screens };
    Kind kind;
    WorkspaceEvent event = WorkspaceEvent::didLaunchApplication;
    std::string name;
    RunLoop* loop = nullptr;
    std::function<void(const RunningApplication&)> onApplication;
    std::function<void()> onEvent;
    std::atomic<bool> alive{true};
};

namespace {
class SubscriptionToken final : public Observation {
public:
    explicit SubscriptionToken(std::shared_ptr<void> subscription, std::atomic<bool>* alive)
        : subscription_(std::move(subscription)), alive_(alive)
    {
    }
    ~SubscriptionToken() override { alive_->store(false); }

private:
    std::shared_ptr<void> subscription_;
    std::atomic<bool>* alive_;
};
} // namespace

// The system shortcut table, in a shared anonymous mapping: a forked child's
// changes (its signal handler's restore included) are what the parent reads.
struct SimDesktop::SharedHotKeys {
    static constexpr int capacity = 64;
    std::atomic<int> count{0};
    std::atomic<std::int32_t> ids[capacity];
    std::atomic<bool> enabled[capacity];

    static CGError set(void* context, std::int32_t id, bool state) noexcept
    {
        auto* table = static_cast<SharedHotKeys*>(context);
        int n = table->count.load();
        for (int i = 0; i < n && i < capacity; ++i) {
            if (table->ids[i].load() == id) {
                table->enabled[i].store(state);
                return 0;
            }
        }
        int slot = table->count.fetch_add(1);
        if (slot >= capacity)
            return -1;
        table->ids[slot].store(id);
        table->enabled[slot].store(state);
        return 0;
    }

    bool get(std::int32_t id) const
    {
        int n = count.load();
        for (int i = 0; i < n && i < capacity; ++i)
            if (ids[i].load() == id)
                return enabled[i].load();
        return true;
    }
};

struct SimDesktop::State {
    mutable std::recursive_mutex mutex;
    std::vector<Display> displays;
    std::size_t activeDisplay = 0;
    std::vector<Application> apps;
    std::vector<Window> windows;
    std::map<WindowID, std::uint64_t> generations;
    std::map<Pid, WindowID> focusedWindow;
    std::optional<Pid> frontmost;
    std::map<SpaceID, Pid> spaceFront;
    bool secureInput = false;
    bool locked = false;
    bool trusted = true;
    KeyRepeatSettings keyRepeat;
    std::vector<std::string> urls;
    std::set<std::string, std::less<>> removed;
    std::optional<std::optional<nlohmann::json>> managedOverride;
    std::optional<std::optional<nlohmann::json>> sessionOverride;
    std::map<std::string, std::deque<std::int32_t>, std::less<>> failures;
    std::map<Pid, AXError> axErrors;
    std::set<Pid> hung;
    std::map<Pid, std::deque<AXError>> actionFailures;
    std::map<Pid, float> timeouts;
    Duration waited{0};
    std::vector<std::string> calls;
    std::vector<std::array<std::uint8_t, eventRecordSize>> records;
    std::vector<std::weak_ptr<Observer>> observers;
    std::vector<std::weak_ptr<Subscription>> subscriptions;

    Application* app(Pid pid)
    {
        auto it = std::find_if(apps.begin(), apps.end(), [&](const Application& a) { return a.pid == pid; });
        return it == apps.end() ? nullptr : &*it;
    }
    Window* window(WindowID id)
    {
        auto it = std::find_if(windows.begin(), windows.end(), [&](const Window& w) { return w.id == id; });
        return it == windows.end() ? nullptr : &*it;
    }
    bool offers(std::string_view name) const { return removed.find(name) == removed.end(); }
    std::int32_t nextResult(std::string_view name)
    {
        auto it = failures.find(name);
        if (it == failures.end() || it->second.empty())
            return 0;
        auto code = it->second.front();
        it->second.pop_front();
        return code;
    }
};

// ---- Construction ----

SimDesktop::SimDesktop(RunLoop& mainLoop) : mainLoop_(mainLoop), state_(std::make_unique<State>())
{
    void* memory = mmap(nullptr, sizeof(SharedHotKeys), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    hotKeys_ = new (memory) SharedHotKeys();
    for (std::int32_t id : {1, 2, 6, 60, 61})
        SharedHotKeys::set(hotKeys_, id, true);
}

SimDesktop::~SimDesktop()
{
    hotKeys_->~SharedHotKeys();
    munmap(hotKeys_, sizeof(SharedHotKeys));
}

std::shared_ptr<SimDesktop> SimDesktop::create(RunLoop& mainLoop)
{
    return std::shared_ptr<SimDesktop>(new SimDesktop(mainLoop));
}

Backends SimDesktop::backends()
{
    auto self = shared_from_this();
    return Backends{self, self, self};
}

// ---- Notifications ----

void SimDesktop::emit(Pid pid, WindowID window, const std::string& notification)
{
    std::lock_guard lock(state_->mutex);
    AXElement element;
    if (window == 0) {
        element = std::make_shared<Element>(Element::Kind::application, pid, 0, 0, 0.0f);
    } else {
        element = std::make_shared<Element>(Element::Kind::window, pid, window, state_->generations[window], 0.0f);
    }
    auto& observers = state_->observers;
    observers.erase(std::remove_if(observers.begin(), observers.end(), [](const auto& o) { return o.expired(); }),
                    observers.end());
    for (const auto& weak : observers)
        if (auto observer = weak.lock(); observer && observer->pid() == pid)
            observer->deliver(observer, element, window, notification);
}

void SimDesktop::emitWorkspace(WorkspaceEvent event, const RunningApplication& application)
{
    std::lock_guard lock(state_->mutex);
    for (const auto& weak : state_->subscriptions) {
        auto subscription = weak.lock();
        if (!subscription || subscription->kind != Subscription::Kind::workspace || subscription->event != event)
            continue;
        subscription->loop->post([subscription, application] {
            if (subscription->alive.load())
                subscription->onApplication(application);
        });
    }
}

void SimDesktop::emitSimple(int kind, const std::string& name)
{
    std::lock_guard lock(state_->mutex);
    for (const auto& weak : state_->subscriptions) {
        auto subscription = weak.lock();
        if (!subscription || static_cast<int>(subscription->kind) != kind ||
            (subscription->kind == Subscription::Kind::distributed && subscription->name != name))
            continue;
        subscription->loop->post([subscription] {
            if (subscription->alive.load())
                subscription->onEvent();
        });
    }
}

RunningApplication SimDesktop::running(const Application& app)
{
    return RunningApplication{app.pid, app.name, app.bundleID, app.policy, app.hidden};
}

void SimDesktop::record(std::string call)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back(std::move(call));
}

// ---- State ----

void SimDesktop::addDisplay(Display display)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->displays.push_back(std::move(display));
    }
    emitSimple(static_cast<int>(Subscription::Kind::screens), "");
}

void SimDesktop::setCurrentSpace(const std::string& displayIdentifier, SpaceID spaceID)
{
    std::lock_guard lock(state_->mutex);
    for (auto& display : state_->displays)
        if (display.identifier == displayIdentifier)
            display.currentSpaceID = spaceID;
}

std::vector<Display> SimDesktop::displays() const
{
    std::lock_guard lock(state_->mutex);
    return state_->displays;
}

void SimDesktop::setActiveDisplay(const std::string& displayIdentifier)
{
    std::lock_guard lock(state_->mutex);
    for (std::size_t i = 0; i < state_->displays.size(); ++i)
        if (state_->displays[i].identifier == displayIdentifier)
            state_->activeDisplay = i;
}

void SimDesktop::launch(Application application)
{
    RunningApplication launched;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->app(application.pid) != nullptr)
            return;
        launched = running(application);
        state_->apps.push_back(std::move(application));
    }
    emitWorkspace(WorkspaceEvent::didLaunchApplication, launched);
}

void SimDesktop::quit(Pid pid)
{
    RunningApplication ended;
    {
        std::lock_guard lock(state_->mutex);
        auto* app = state_->app(pid);
        if (app == nullptr)
            return;
        ended = running(*app);
        std::erase_if(state_->apps, [&](const Application& a) { return a.pid == pid; });
        std::erase_if(state_->windows, [&](const Window& w) { return w.pid == pid; });
        state_->focusedWindow.erase(pid);
        if (state_->frontmost == pid)
            state_->frontmost.reset();
    }
    emitWorkspace(WorkspaceEvent::didTerminateApplication, ended);
}

std::optional<Application> SimDesktop::application(Pid pid) const
{
    std::lock_guard lock(state_->mutex);
    if (auto* app = state_->app(pid))
        return *app;
    return std::nullopt;
}

void SimDesktop::openWindow(Window window)
{
    std::lock_guard lock(state_->mutex);
    auto pid = window.pid;
    auto id = window.id;
    std::erase_if(state_->windows, [&](const Window& w) { return w.id == id; });
    // In front of its application's windows, behind nothing of other applications'
    // that is already in front: simplest is the very front.
    state_->windows.insert(state_->windows.begin(), std::move(window));
    ++state_->generations[id];
    if (state_->focusedWindow.count(pid) == 0)
        state_->focusedWindow[pid] = id;
    emit(pid, id, "AXWindowCreated");
}

void SimDesktop::closeWindow(WindowID windowID)
{
    std::lock_guard lock(state_->mutex);
    auto* window = state_->window(windowID);
    if (window == nullptr)
        return;
    Pid pid = window->pid;
    emit(pid, windowID, "AXUIElementDestroyed");
    std::erase_if(state_->windows, [&](const Window& w) { return w.id == windowID; });
    ++state_->generations[windowID];
    if (state_->focusedWindow.count(pid) > 0 && state_->focusedWindow[pid] == windowID) {
        state_->focusedWindow.erase(pid);
        for (const auto& w : state_->windows)
            if (w.pid == pid) {
                state_->focusedWindow[pid] = w.id;
                break;
            }
    }
}

std::optional<Window> SimDesktop::window(WindowID windowID) const
{
    std::lock_guard lock(state_->mutex);
    if (auto* window = state_->window(windowID))
        return *window;
    return std::nullopt;
}

std::vector<Window> SimDesktop::windows() const
{
    std::lock_guard lock(state_->mutex);
    return state_->windows;
}

void SimDesktop::setTitle(WindowID windowID, std::string title)
{
    std::lock_guard lock(state_->mutex);
    if (auto* window = state_->window(windowID)) {
        window->title = std::move(title);
        emit(window->pid, windowID, "AXTitleChanged");
    }
}

void SimDesktop::setMinimized(WindowID windowID, bool minimized)
{
    std::lock_guard lock(state_->mutex);
    auto* window = state_->window(windowID);
    if (window == nullptr || window->minimized == minimized)
        return;
    window->minimized = minimized;
    emit(window->pid, windowID, minimized ? "AXWindowMiniaturized" : "AXWindowDeminiaturized");
}

void SimDesktop::focus(WindowID windowID)
{
    RunningApplication activated;
    {
        std::lock_guard lock(state_->mutex);
        auto* window = state_->window(windowID);
        if (window == nullptr)
            return;
        Pid pid = window->pid;
        auto moved = *window;
        std::erase_if(state_->windows, [&](const Window& w) { return w.id == windowID; });
        state_->windows.insert(state_->windows.begin(), moved);
        state_->focusedWindow[pid] = windowID;
        bool activation = state_->frontmost != pid;
        state_->frontmost = pid;
        if (activation)
            emit(pid, 0, "AXApplicationActivated");
        emit(pid, windowID, "AXFocusedWindowChanged");
        if (!activation)
            return;
        activated = running(*state_->app(pid));
    }
    emitWorkspace(WorkspaceEvent::didActivateApplication, activated);
}

void SimDesktop::setHidden(Pid pid, bool hidden)
{
    std::lock_guard lock(state_->mutex);
    auto* app = state_->app(pid);
    if (app == nullptr || app->hidden == hidden)
        return;
    app->hidden = hidden;
    emit(pid, 0, hidden ? "AXApplicationHidden" : "AXApplicationShown");
}

std::optional<Pid> SimDesktop::frontmostPID() const
{
    std::lock_guard lock(state_->mutex);
    return state_->frontmost;
}

std::optional<Pid> SimDesktop::spaceFrontPID(SpaceID spaceID) const
{
    std::lock_guard lock(state_->mutex);
    auto it = state_->spaceFront.find(spaceID);
    if (it == state_->spaceFront.end())
        return std::nullopt;
    return it->second;
}

bool SimDesktop::hotKeyEnabled(std::int32_t hotKeyID) const
{
    return hotKeys_->get(hotKeyID);
}

void SimDesktop::setHotKeyEnabled(std::int32_t hotKeyID, bool enabled)
{
    SharedHotKeys::set(hotKeys_, hotKeyID, enabled);
}

void SimDesktop::setSecureInput(bool enabled)
{
    std::lock_guard lock(state_->mutex);
    state_->secureInput = enabled;
}

bool SimDesktop::secureInput() const
{
    std::lock_guard lock(state_->mutex);
    return state_->secureInput;
}

void SimDesktop::setScreenLocked(bool locked)
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->locked == locked)
            return;
        state_->locked = locked;
    }
    emitSimple(static_cast<int>(Subscription::Kind::distributed),
               locked ? "com.apple.screenIsLocked" : "com.apple.screenIsUnlocked");
}

bool SimDesktop::screenLocked() const
{
    std::lock_guard lock(state_->mutex);
    return state_->locked;
}

void SimDesktop::setTrusted(bool trusted)
{
    std::lock_guard lock(state_->mutex);
    state_->trusted = trusted;
}

void SimDesktop::setKeyRepeat(KeyRepeatSettings settings)
{
    std::lock_guard lock(state_->mutex);
    state_->keyRepeat = settings;
}

std::vector<std::string> SimDesktop::openedURLs() const
{
    std::lock_guard lock(state_->mutex);
    return state_->urls;
}

// ---- Faults ----

void SimDesktop::removeSlot(std::string_view name)
{
    std::lock_guard lock(state_->mutex);
    state_->removed.insert(std::string(name));
}

void SimDesktop::restoreSlot(std::string_view name)
{
    std::lock_guard lock(state_->mutex);
    if (auto it = state_->removed.find(name); it != state_->removed.end())
        state_->removed.erase(it);
}

void SimDesktop::removeAllSlots()
{
    for (auto name : {"CGSMainConnectionID", "CGSSetSymbolicHotKeyEnabled", "CGSIsSymbolicHotKeyEnabled",
                      "_SLPSSetFrontProcessWithOptions", "SLPSPostEventRecordTo", "CGSCopyManagedDisplaySpaces",
                      "CGSGetActiveSpace", "CGSManagedDisplayGetCurrentSpace", "CGSCopySpacesForWindows",
                      "CGSCopyWindowsWithOptionsAndTags", "SLSSpaceSetFrontPSN", "CGSSpaceSetFrontPSN",
                      "CGSManagedDisplaySetCurrentSpace", "GetProcessForPID", "GetFrontProcess", "GetProcessPID",
                      "CGSessionCopyCurrentDictionary", "CGWindowListCopyWindowInfo"})
        removeSlot(name);
}

void SimDesktop::overrideManagedDisplaySpaces(std::optional<std::optional<nlohmann::json>> value)
{
    std::lock_guard lock(state_->mutex);
    state_->managedOverride = std::move(value);
}

void SimDesktop::overrideSessionDictionary(std::optional<std::optional<nlohmann::json>> value)
{
    std::lock_guard lock(state_->mutex);
    state_->sessionOverride = std::move(value);
}

void SimDesktop::failNext(std::string_view name, std::vector<std::int32_t> codes)
{
    std::lock_guard lock(state_->mutex);
    auto& queue = state_->failures[std::string(name)];
    queue.insert(queue.end(), codes.begin(), codes.end());
}

void SimDesktop::injectAXError(Pid pid, AXError code)
{
    std::lock_guard lock(state_->mutex);
    if (code == AXErrors::success)
        state_->axErrors.erase(pid);
    else
        state_->axErrors[pid] = code;
}

void SimDesktop::setHung(Pid pid, bool hung)
{
    std::lock_guard lock(state_->mutex);
    if (hung)
        state_->hung.insert(pid);
    else
        state_->hung.erase(pid);
}

void SimDesktop::failNextActions(Pid pid, std::vector<AXError> codes)
{
    std::lock_guard lock(state_->mutex);
    auto& queue = state_->actionFailures[pid];
    queue.insert(queue.end(), codes.begin(), codes.end());
}

void SimDesktop::invalidateElements(WindowID windowID)
{
    std::lock_guard lock(state_->mutex);
    ++state_->generations[windowID];
}

Duration SimDesktop::axWaited() const
{
    std::lock_guard lock(state_->mutex);
    return state_->waited;
}

std::vector<std::string> SimDesktop::calls() const
{
    std::lock_guard lock(state_->mutex);
    return state_->calls;
}

bool SimDesktop::called(std::string_view prefix) const
{
    std::lock_guard lock(state_->mutex);
    return std::any_of(state_->calls.begin(), state_->calls.end(),
                       [&](const std::string& call) { return std::string_view(call).substr(0, prefix.size()) == prefix; });
}

void SimDesktop::clearCalls()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.clear();
}

std::vector<std::array<std::uint8_t, eventRecordSize>> SimDesktop::postedEventRecords() const
{
    std::lock_guard lock(state_->mutex);
    return state_->records;
}

std::optional<float> SimDesktop::messagingTimeout(Pid pid) const
{
    std::lock_guard lock(state_->mutex);
    auto it = state_->timeouts.find(pid);
    if (it == state_->timeouts.end())
        return std::nullopt;
    return it->second;
}

// ---- WindowServerBackend ----

WindowServerSlots SimDesktop::slots()
{
    std::lock_guard lock(state_->mutex);
    auto self = shared_from_this();
    auto& s = *state_;
    WindowServerSlots table;
    auto psnOf = [](Pid pid) { return ProcessSerialNumber{psnMarker, static_cast<std::uint32_t>(pid)}; };
    auto pidOf = [self](const ProcessSerialNumber& psn) -> std::optional<Pid> {
        if (psn.highLongOfPSN != psnMarker || self->state_->app(static_cast<Pid>(psn.lowLongOfPSN)) == nullptr)
            return std::nullopt;
        return static_cast<Pid>(psn.lowLongOfPSN);
    };

    if (s.offers("CGSMainConnectionID"))
        table.mainConnectionID = [self] {
            self->record("CGSMainConnectionID");
            return ConnectionID{0x5a5a};
        };
    if (s.offers("CGSSetSymbolicHotKeyEnabled"))
        table.setSymbolicHotKeyEnabled = [self](std::int32_t id, bool enabled) {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSSetSymbolicHotKeyEnabled " + std::to_string(id) + (enabled ? " on" : " off"));
            CGError result = self->state_->nextResult("CGSSetSymbolicHotKeyEnabled");
            if (result == 0)
                SharedHotKeys::set(self->hotKeys_, id, enabled);
            return result;
        };
    if (s.offers("CGSIsSymbolicHotKeyEnabled"))
        table.isSymbolicHotKeyEnabled = [self](std::int32_t id) {
            self->record("CGSIsSymbolicHotKeyEnabled " + std::to_string(id));
            return self->hotKeys_->get(id);
        };
    if (s.offers("_SLPSSetFrontProcessWithOptions"))
        table.setFrontProcessWithOptions = [self, pidOf](const ProcessSerialNumber& psn, WindowID window, std::uint32_t mode) {
            std::lock_guard lock(self->state_->mutex);
            auto pid = pidOf(psn);
            self->record("_SLPSSetFrontProcessWithOptions pid=" + std::to_string(pid.value_or(0)) +
                         " wid=" + std::to_string(window) + " mode=" + hex(mode));
            CGError result = self->state_->nextResult("_SLPSSetFrontProcessWithOptions");
            if (result != 0)
                return result;
            if (!pid)
                return CGError{1000};
            self->state_->frontmost = *pid;
            if (auto* w = self->state_->window(window); w != nullptr && w->pid == *pid)
                self->state_->focusedWindow[*pid] = window;
            return CGError{0};
        };
    if (s.offers("SLPSPostEventRecordTo"))
        table.postEventRecordTo = [self](const ProcessSerialNumber&, std::span<const std::uint8_t, eventRecordSize> record) {
            std::lock_guard lock(self->state_->mutex);
            self->record("SLPSPostEventRecordTo type=" + std::to_string(record[8]));
            std::array<std::uint8_t, eventRecordSize> copy{};
            std::copy(record.begin(), record.end(), copy.begin());
            self->state_->records.push_back(copy);
            return self->state_->nextResult("SLPSPostEventRecordTo");
        };
    if (s.offers("CGSCopyManagedDisplaySpaces"))
        table.copyManagedDisplaySpaces = [self](ConnectionID) -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSCopyManagedDisplaySpaces");
            if (self->state_->managedOverride)
                return *self->state_->managedOverride;
            auto result = nlohmann::json::array();
            for (const auto& display : self->state_->displays) {
                nlohmann::json entry = {{"Display Identifier", display.identifier}};
                auto spaces = nlohmann::json::array();
                for (const auto& space : display.spaces) {
                    spaces.push_back(spaceDictionary(space));
                    if (space.id == display.currentSpaceID)
                        entry["Current Space"] = spaceDictionary(space);
                }
                entry["Spaces"] = std::move(spaces);
                result.push_back(std::move(entry));
            }
            return result;
        };
    if (s.offers("CGSGetActiveSpace"))
        table.getActiveSpace = [self](ConnectionID) -> SpaceID {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSGetActiveSpace");
            auto& displays = self->state_->displays;
            if (self->state_->activeDisplay >= displays.size())
                return 0;
            return displays[self->state_->activeDisplay].currentSpaceID;
        };
    if (s.offers("CGSCopySpacesForWindows"))
        table.copySpacesForWindows = [self](ConnectionID, std::int32_t mask, const nlohmann::json& windowIDs)
            -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSCopySpacesForWindows mask=" + std::to_string(mask) + " " + windowIDs.dump());
            if (!windowIDs.is_array())
                return std::nullopt;
            auto result = nlohmann::json::array();
            for (const auto& id : windowIDs)
                if (id.is_number_unsigned())
                    if (auto* w = self->state_->window(id.get<WindowID>()))
                        for (auto space : w->spaces)
                            if (std::find(result.begin(), result.end(), space) == result.end())
                                result.push_back(space);
            return result;
        };
    if (s.offers("CGSCopyWindowsWithOptionsAndTags"))
        table.copyWindowsWithOptionsAndTags = [self](ConnectionID, std::int32_t owner, const nlohmann::json& spaceIDs,
                                                     std::int32_t options, std::int64_t&, std::int64_t&)
            -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSCopyWindowsWithOptionsAndTags owner=" + std::to_string(owner) + " " + spaceIDs.dump() +
                         " options=" + std::to_string(options));
            if (!spaceIDs.is_array())
                return std::nullopt;
            auto result = nlohmann::json::array();
            for (const auto& w : self->state_->windows) {
                if (owner != 0 && w.pid != owner)
                    continue;
                bool onSpace = std::any_of(w.spaces.begin(), w.spaces.end(), [&](SpaceID space) {
                    return std::find(spaceIDs.begin(), spaceIDs.end(), space) != spaceIDs.end();
                });
                if (onSpace)
                    result.push_back(w.id);
            }
            return result;
        };
    auto spaceFront = [self, pidOf](const char* name) {
        return [self, pidOf, name](ConnectionID, SpaceID space, const ProcessSerialNumber& psn) {
            std::lock_guard lock(self->state_->mutex);
            auto pid = pidOf(psn);
            self->record(std::string(name) + " space=" + std::to_string(space) + " pid=" + std::to_string(pid.value_or(0)));
            CGError result = self->state_->nextResult(name);
            if (result != 0)
                return result;
            if (!pid)
                return CGError{1000};
            self->state_->spaceFront[space] = *pid;
            return CGError{0};
        };
    };
    if (s.offers("SLSSpaceSetFrontPSN"))
        table.spaceSetFrontPSN = spaceFront("SLSSpaceSetFrontPSN");
    if (s.offers("CGSSpaceSetFrontPSN"))
        table.spaceSetFrontPSNFallback = spaceFront("CGSSpaceSetFrontPSN");
    if (s.offers("CGSManagedDisplaySetCurrentSpace"))
        table.managedDisplaySetCurrentSpace = [self](ConnectionID, const std::string& identifier, SpaceID space) {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSManagedDisplaySetCurrentSpace " + identifier + " " + std::to_string(space));
            auto& displays = self->state_->displays;
            for (std::size_t i = 0; i < displays.size(); ++i) {
                bool listed = std::any_of(displays[i].spaces.begin(), displays[i].spaces.end(),
                                          [&](const Space& sp) { return sp.id == space; });
                if (displays[i].identifier == identifier && listed) {
                    displays[i].currentSpaceID = space;
                    self->state_->activeDisplay = i;
                }
            }
        };
    if (s.offers("GetProcessForPID"))
        table.getProcessForPID = [self, psnOf](Pid pid, ProcessSerialNumber& psn) {
            std::lock_guard lock(self->state_->mutex);
            self->record("GetProcessForPID " + std::to_string(pid));
            std::int32_t result = self->state_->nextResult("GetProcessForPID");
            if (result != 0)
                return result;
            if (self->state_->app(pid) == nullptr)
                return processNotFound;
            psn = psnOf(pid);
            return 0;
        };
    if (s.offers("GetFrontProcess"))
        table.getFrontProcess = [self, psnOf](ProcessSerialNumber& psn) {
            std::lock_guard lock(self->state_->mutex);
            self->record("GetFrontProcess");
            if (!self->state_->frontmost)
                return processNotFound;
            psn = psnOf(*self->state_->frontmost);
            return 0;
        };
    if (s.offers("GetProcessPID"))
        table.getProcessPID = [self, pidOf](const ProcessSerialNumber& psn, Pid& pid) {
            std::lock_guard lock(self->state_->mutex);
            self->record("GetProcessPID");
            auto found = pidOf(psn);
            if (!found)
                return processNotFound;
            pid = *found;
            return 0;
        };
    if (s.offers("CGSessionCopyCurrentDictionary"))
        table.sessionCopyCurrentDictionary = [self]() -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSessionCopyCurrentDictionary");
            if (self->state_->sessionOverride)
                return *self->state_->sessionOverride;
            return nlohmann::json{{"CGSSessionScreenIsLocked", self->state_->locked}, {"kCGSSessionOnConsoleKey", true}};
        };
    if (s.offers("CGWindowListCopyWindowInfo"))
        table.windowListCopyWindowInfo = [self](std::int32_t options, WindowID relative) -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGWindowListCopyWindowInfo options=" + std::to_string(options) + " relative=" + std::to_string(relative));
            auto result = nlohmann::json::array();
            for (const auto& w : self->state_->windows) {
                nlohmann::json entry = {
                    {"kCGWindowLayer", w.layer},
                    {"kCGWindowNumber", w.id},
                    {"kCGWindowOwnerPID", w.pid},
                    {"kCGWindowBounds", {{"X", 0}, {"Y", 0}, {"Width", w.width}, {"Height", w.height}}},
                };
                if (!w.title.empty())
                    entry["kCGWindowName"] = w.title;
                result.push_back(std::move(entry));
            }
            return result;
        };
    return table;
}

bool SimDesktop::exportsSymbol(std::string_view name)
{
    std::lock_guard lock(state_->mutex);
    return name == "CGSManagedDisplayGetCurrentSpace" && state_->offers(name);
}

SignalSafeHotKeySetter SimDesktop::signalSafeHotKeySetter()
{
    std::lock_guard lock(state_->mutex);
    if (!state_->offers("CGSSetSymbolicHotKeyEnabled"))
        return {};
    return SignalSafeHotKeySetter{&SharedHotKeys::set, hotKeys_};
}

// ---- AccessibilityBackend ----

bool SimDesktop::isProcessTrusted()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXIsProcessTrusted");
    return state_->trusted;
}

bool SimDesktop::isProcessTrustedWithOptions(bool prompt)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back(std::string("AXIsProcessTrustedWithOptions prompt=") + (prompt ? "true" : "false"));
    return state_->trusted;
}

AXElement SimDesktop::createApplication(Pid pid)
{
    record("AXUIElementCreateApplication " + std::to_string(pid));
    return std::make_shared<Element>(Element::Kind::application, pid, 0, 0, 0.0f);
}

AXError SimDesktop::setMessagingTimeout(const AXElement& element, float seconds)
{
    auto* sim = dynamic_cast<Element*>(element.get());
    if (sim == nullptr || seconds < 0)
        return AXErrors::illegalArgument;
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXUIElementSetMessagingTimeout " + std::to_string(sim->pid));
    sim->timeout.store(seconds);
    if (sim->kind == Element::Kind::application)
        state_->timeouts[sim->pid] = seconds;
    return AXErrors::success;
}

AXError SimDesktop::checkElement(const AXElement& element, Element*& sim)
{
    // Called with the state locked.
    sim = dynamic_cast<Element*>(element.get());
    if (sim == nullptr)
        return AXErrors::illegalArgument;
    if (!state_->trusted)
        return AXErrors::apiDisabled;
    if (state_->app(sim->pid) == nullptr)
        return AXErrors::invalidUIElement;
    if (auto it = state_->axErrors.find(sim->pid); it != state_->axErrors.end())
        return it->second;
    if (state_->hung.count(sim->pid) > 0) {
        float timeout = sim->timeout.load();
        state_->waited += timeout > 0 ? std::chrono::duration_cast<Duration>(std::chrono::duration<double>(timeout))
                                      : defaultMessagingTimeout;
        return AXErrors::cannotComplete;
    }
    return AXErrors::success;
}

AXError SimDesktop::checkObserverTarget(const Element& element, std::string call)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back(std::move(call));
    if (!state_->trusted)
        return AXErrors::apiDisabled;
    if (state_->app(element.pid) == nullptr)
        return AXErrors::invalidUIElement;
    if (auto it = state_->axErrors.find(element.pid); it != state_->axErrors.end())
        return it->second;
    return AXErrors::success;
}

bool SimDesktop::isStale(const Element& element)
{
    if (element.kind == Element::Kind::application)
        return false;
    auto* window = state_->window(element.window);
    return window == nullptr || window->pid != element.pid || state_->generations[element.window] != element.generation;
}

AXElement SimDesktop::windowElement(const Window& window, float timeout, bool closeButton)
{
    auto kind = closeButton ? Element::Kind::closeButton : Element::Kind::window;
    return std::make_shared<Element>(kind, window.pid, window.id, state_->generations[window.id], timeout);
}

AXError SimDesktop::copyAttributeValue(const AXElement& element, std::string_view attribute, AXValue& value)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXUIElementCopyAttributeValue " + std::string(attribute));
    Element* sim = nullptr;
    if (AXError code = checkElement(element, sim); code != AXErrors::success)
        return code;
    if (isStale(*sim))
        return AXErrors::invalidUIElement;
    float timeout = sim->timeout.load();
    if (sim->kind == Element::Kind::application) {
        auto* app = state_->app(sim->pid);
        if (attribute == "AXWindows") {
            std::vector<AXElement> list;
            for (const auto& w : state_->windows)
                if (w.pid == sim->pid && w.accessible)
                    list.push_back(windowElement(w, timeout, false));
            value = std::move(list);
            return AXErrors::success;
        }
        if (attribute == "AXFocusedWindow") {
            auto it = state_->focusedWindow.find(sim->pid);
            auto* w = it == state_->focusedWindow.end() ? nullptr : state_->window(it->second);
            if (w == nullptr || !w->accessible)
                return AXErrors::noValue;
            value = windowElement(*w, timeout, false);
            return AXErrors::success;
        }
        if (attribute == "AXTitle") {
            if (!app->name)
                return AXErrors::noValue;
            value = *app->name;
            return AXErrors::success;
        }
        if (attribute == "AXRole") {
            value = std::string("AXApplication");
            return AXErrors::success;
        }
        if (attribute == "AXHidden") {
            value = app->hidden;
            return AXErrors::success;
        }
        return AXErrors::attributeUnsupported;
    }
    auto* w = state_->window(sim->window);
    if (sim->kind == Element::Kind::closeButton) {
        if (attribute == "AXRole") {
            value = std::string("AXButton");
            return AXErrors::success;
        }
        return AXErrors::attributeUnsupported;
    }
    if (attribute == "AXTitle") {
        value = w->title;
        return AXErrors::success;
    }
    if (attribute == "AXSubrole") {
        if (w->subrole.empty())
            return AXErrors::noValue;
        value = w->subrole;
        return AXErrors::success;
    }
    if (attribute == "AXMinimized") {
        value = w->minimized;
        return AXErrors::success;
    }
    if (attribute == "AXRole") {
        value = std::string("AXWindow");
        return AXErrors::success;
    }
    if (attribute == "AXCloseButton") {
        if (!w->hasCloseButton)
            return AXErrors::noValue;
        value = windowElement(*w, timeout, true);
        return AXErrors::success;
    }
    return AXErrors::attributeUnsupported;
}

AXError SimDesktop::setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXUIElementSetAttributeValue " + std::string(attribute));
    Element* sim = nullptr;
    if (AXError code = checkElement(element, sim); code != AXErrors::success)
        return code;
    if (isStale(*sim))
        return AXErrors::invalidUIElement;
    if (sim->kind != Element::Kind::window || attribute != "AXMinimized")
        return AXErrors::attributeUnsupported;
    auto* flag = std::get_if<bool>(&value);
    if (flag == nullptr)
        return AXErrors::illegalArgument;
    setMinimized(sim->window, *flag);
    return AXErrors::success;
}

AXError SimDesktop::performAction(const AXElement& element, std::string_view action)
{
    std::unique_lock lock(state_->mutex);
    state_->calls.push_back("AXUIElementPerformAction " + std::string(action));
    Element* sim = nullptr;
    if (AXError code = checkElement(element, sim); code != AXErrors::success)
        return code;
    if (auto& queue = state_->actionFailures[sim->pid]; !queue.empty()) {
        AXError code = queue.front();
        queue.pop_front();
        return code;
    }
    if (isStale(*sim))
        return AXErrors::invalidUIElement;
    if (sim->kind == Element::Kind::window && action == "AXRaise") {
        auto* w = state_->window(sim->window);
        auto moved = *w;
        std::erase_if(state_->windows, [&](const Window& other) { return other.id == moved.id; });
        state_->windows.insert(state_->windows.begin(), moved);
        state_->focusedWindow[moved.pid] = moved.id;
        emit(moved.pid, moved.id, "AXMainWindowChanged");
        if (state_->frontmost == moved.pid)
            emit(moved.pid, moved.id, "AXFocusedWindowChanged");
        return AXErrors::success;
    }
    if (sim->kind == Element::Kind::closeButton && action == "AXPress") {
        closeWindow(sim->window);
        return AXErrors::success;
    }
    return AXErrors::actionUnsupported;
}

AXError SimDesktop::getPid(const AXElement& element, Pid& pid)
{
    auto* sim = dynamic_cast<Element*>(element.get());
    if (sim == nullptr)
        return AXErrors::illegalArgument;
    record("AXUIElementGetPid");
    pid = sim->pid;
    return AXErrors::success;
}

bool SimDesktop::offersGetWindow()
{
    std::lock_guard lock(state_->mutex);
    return state_->offers("_AXUIElementGetWindow");
}

AXError SimDesktop::getWindow(const AXElement& element, WindowID& windowID)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("_AXUIElementGetWindow");
    Element* sim = nullptr;
    if (AXError code = checkElement(element, sim); code != AXErrors::success)
        return code;
    if (sim->kind != Element::Kind::window)
        return AXErrors::illegalArgument;
    if (isStale(*sim))
        return AXErrors::invalidUIElement;
    windowID = sim->window;
    return AXErrors::success;
}

AXError SimDesktop::createObserver(Pid pid, AXObserverCallback callback, std::shared_ptr<AXObserver>& observer)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXObserverCreate " + std::to_string(pid));
    if (pid <= 0 || !callback)
        return AXErrors::illegalArgument;
    if (auto it = state_->axErrors.find(pid); it != state_->axErrors.end())
        return it->second;
    auto created = std::make_shared<Observer>(weak_from_this(), pid, std::move(callback));
    state_->observers.push_back(created);
    observer = created;
    return AXErrors::success;
}

// ---- WorkspaceBackend ----

std::vector<RunningApplication> SimDesktop::runningApplications()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("runningApplications");
    std::vector<RunningApplication> result;
    for (const auto& app : state_->apps)
        result.push_back(running(app));
    return result;
}

std::optional<RunningApplication> SimDesktop::runningApplication(Pid pid)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("runningApplication " + std::to_string(pid));
    if (auto* app = state_->app(pid))
        return running(*app);
    return std::nullopt;
}

std::optional<RunningApplication> SimDesktop::frontmostApplication()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("frontmostApplication");
    if (!state_->frontmost)
        return std::nullopt;
    if (auto* app = state_->app(*state_->frontmost))
        return running(*app);
    return std::nullopt;
}

std::optional<ApplicationIcon> SimDesktop::icon(Pid pid)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("icon " + std::to_string(pid));
    if (auto* app = state_->app(pid))
        return app->icon;
    return std::nullopt;
}

bool SimDesktop::terminate(Pid pid)
{
    record("terminate " + std::to_string(pid));
    if (!application(pid))
        return false;
    quit(pid);
    return true;
}

bool SimDesktop::hide(Pid pid)
{
    record("hide " + std::to_string(pid));
    if (!application(pid))
        return false;
    setHidden(pid, true);
    return true;
}

std::unique_ptr<Observation> SimDesktop::observe(WorkspaceEvent event, RunLoop& loop,
                                                 std::function<void(const RunningApplication&)> callback)
{
    auto subscription = std::make_shared<Subscription>();
    subscription->kind = Subscription::Kind::workspace;
    subscription->event = event;
    subscription->loop = &loop;
    subscription->onApplication = std::move(callback);
    std::lock_guard lock(state_->mutex);
    state_->subscriptions.push_back(subscription);
    return std::make_unique<SubscriptionToken>(subscription, &subscription->alive);
}

std::unique_ptr<Observation> SimDesktop::observeDistributed(std::string_view name, RunLoop& loop,
                                                            std::function<void()> callback)
{
    auto subscription = std::make_shared<Subscription>();
    subscription->kind = Subscription::Kind::distributed;
    subscription->name = std::string(name);
    subscription->loop = &loop;
    subscription->onEvent = std::move(callback);
    std::lock_guard lock(state_->mutex);
    state_->subscriptions.push_back(subscription);
    return std::make_unique<SubscriptionToken>(subscription, &subscription->alive);
}

std::vector<Screen> SimDesktop::screens()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("screens");
    std::vector<Screen> result;
    for (const auto& display : state_->displays)
        result.push_back({display.identifier, display.frame, display.visibleFrame});
    return result;
}

std::unique_ptr<Observation> SimDesktop::observeScreens(RunLoop& loop, std::function<void()> callback)
{
    auto subscription = std::make_shared<Subscription>();
    subscription->kind = Subscription::Kind::screens;
    subscription->loop = &loop;
    subscription->onEvent = std::move(callback);
    std::lock_guard lock(state_->mutex);
    state_->subscriptions.push_back(subscription);
    return std::make_unique<SubscriptionToken>(subscription, &subscription->alive);
}

KeyRepeatSettings SimDesktop::keyRepeat()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("keyRepeat");
    return state_->keyRepeat;
}

bool SimDesktop::openURL(std::string_view url)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("openURL " + std::string(url));
    state_->urls.emplace_back(url);
    return true;
}

// ---- The sample desktop ----

std::shared_ptr<SimDesktop> SimDesktop::sample(RunLoop& mainLoop)
{
    auto desktop = create(mainLoop);
    desktop->addDisplay({"37D8832A-2D66-02CA-B9F7-8F30A301B230", {0, 0, 1920, 1080}, {0, 25, 1920, 1055},
                         {{1, 1, "A1F4C0DE-0001-4000-8000-000000000001", 0},
                          {3, 3, "A1F4C0DE-0003-4000-8000-000000000003", 0},
                          {7, 7, "A1F4C0DE-0007-4000-8000-000000000007", 4}},
                         1});
    desktop->addDisplay({"5C2B1E4F-8A9D-4E3B-9F1A-2B3C4D5E6F70", {1920, 0, 1280, 1024}, {1920, 0, 1280, 1024},
                         {{12, 12, "A1F4C0DE-000C-4000-8000-00000000000C", 0},
                          {14, 14, "A1F4C0DE-000E-4000-8000-00000000000E", 0}},
                         12});
    desktop->launch({.pid = 101, .name = "Terminal", .bundleID = "org.example.Terminal"});
    desktop->launch({.pid = 102, .name = "Browser", .bundleID = "org.example.Browser"});
    desktop->launch({.pid = 103, .name = "Clock", .bundleID = "org.example.Clock", .policy = ActivationPolicy::accessory});
    desktop->openWindow({.id = 201, .pid = 101, .title = "~ — zsh", .spaces = {1}});
    desktop->openWindow({.id = 202, .pid = 101, .title = "build — make", .spaces = {3}});
    desktop->openWindow({.id = 203, .pid = 102, .title = "Documentation", .spaces = {12}});
    desktop->openWindow({.id = 204, .pid = 102, .title = "Video", .spaces = {7}});
    desktop->openWindow({.id = 205, .pid = 103, .title = "Clock", .minimized = true, .spaces = {1}, .width = 300, .height = 200});
    desktop->focus(201);
    desktop->clearCalls();
    return desktop;
}

} // namespace vantrel::Sim
