// A simulated desktop behind the window-server, accessibility and workspace interfaces.
#include "Platform/Sim/SimDesktop.h"

#include "Platform/Sim/SimDesktopState.h"

#include <algorithm>
#include <new>
#include <sys/mman.h>

namespace vantrel::Sim {

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
    emitSimple(static_cast<int>(Subscription::Kind::spaces), "");
}

void SimDesktop::setCurrentSpace(const std::string& displayIdentifier, SpaceID spaceID)
{
    {
        std::lock_guard lock(state_->mutex);
        for (auto& display : state_->displays)
            if (display.identifier == displayIdentifier)
                display.currentSpaceID = spaceID;
    }
    emitSimple(static_cast<int>(Subscription::Kind::spaces), "");
}

void SimDesktop::setSpaces(const std::string& displayIdentifier, std::vector<Space> spaces)
{
    {
        std::lock_guard lock(state_->mutex);
        for (auto& display : state_->displays) {
            if (display.identifier != displayIdentifier)
                continue;
            display.spaces = spaces;
            const bool listed = std::any_of(spaces.begin(), spaces.end(),
                                            [&](const Space& space) { return space.id == display.currentSpaceID; });
            if (!listed)
                display.currentSpaceID = spaces.empty() ? 0 : spaces.front().id;
        }
    }
    emitSimple(static_cast<int>(Subscription::Kind::spaces), "");
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

void SimDesktop::setWindowSpaces(WindowID windowID, std::vector<SpaceID> spaces)
{
    std::lock_guard lock(state_->mutex);
    auto* window = state_->window(windowID);
    if (window == nullptr || window->spaces == spaces)
        return;
    window->spaces = std::move(spaces);
    emitSimple(static_cast<int>(Subscription::Kind::spaces), "");
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