// The window tracker: applications in, coalesced refreshes, quarantine, snapshots out.
#include "WindowTracker/AXWindowTracker.h"

#include "SearchKit/TextUnicode.h"
#include "SystemBridge/AXBridge.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/Session.h"
#include "SystemBridge/SkyLight.h"
#include "SystemBridge/Spaces.h"

#include <algorithm>
#include <limits>
#include <set>
#include <unistd.h>

namespace vantrel {

namespace {

bool isAccepted(const std::optional<std::string>& subrole)
{
    if (!subrole)
        return false;
    return std::find(std::begin(AXWindowTracker::acceptedSubroles), std::end(AXWindowTracker::acceptedSubroles),
                     *subrole) != std::end(AXWindowTracker::acceptedSubroles);
}

/// An integer of a property-list number; whole floating values count too
/// (bounds are often written as reals).
std::optional<std::int64_t> integerValue(const nlohmann::json& value)
{
    if (value.is_number_unsigned()) {
        auto v = value.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        double v = value.get<double>();
        if (v >= -9.0e18 && v <= 9.0e18 && static_cast<double>(static_cast<std::int64_t>(v)) == v)
            return static_cast<std::int64_t>(v);
    }
    return std::nullopt;
}

std::optional<std::int64_t> integerField(const nlohmann::json& dictionary, const char* key)
{
    auto it = dictionary.find(key);
    if (it == dictionary.end())
        return std::nullopt;
    return integerValue(*it);
}

std::string bracketedList(const std::set<SpaceID>& ids)
{
    std::string text = "[";
    bool first = true;
    for (SpaceID id : ids) {
        if (!first)
            text += ", ";
        text += std::to_string(id);
        first = false;
    }
    return text + "]";
}

} // namespace

std::chrono::seconds AXWindowTracker::quarantineBackoff(int failures)
{
    // 2^6 already exceeds the cap; stopping there keeps the shift defined.
    if (failures >= 6)
        return std::chrono::seconds(maximumBackoffSeconds);
    if (failures < 0)
        failures = 0;
    return std::chrono::seconds(std::min(1 << failures, maximumBackoffSeconds));
}

AXWindowTracker::AXWindowTracker(RunLoop& mainLoop, Options options)
    : mainLoop_(mainLoop),
      queue_(std::move(options.queue)),
      ownPid_(options.ownPid.value_or(static_cast<Pid>(::getpid()))),
      alive_(std::make_shared<AXWindowTracker*>(this))
{
    if (!queue_)
        queue_ = std::make_shared<ThreadSerialQueue>(std::string(logSubsystem) + ".ax");
}

AXWindowTracker::~AXWindowTracker()
{
    stop();
    // Dropped on the queue: any job already running finishes first, and every
    // later one sees the tracker gone.
    queue_->sync([this] { alive_.reset(); });
}

void AXWindowTracker::onQueue(std::function<void()> job)
{
    queue_->async([weak = std::weak_ptr<AXWindowTracker*>(alive_), job = std::move(job)] {
        if (weak.lock())
            job();
    });
}

AXWindowTracker::AppIdentity AXWindowTracker::identity(const RunningApplication& application)
{
    return {application.pid, application.localizedName.value_or("?"), application.bundleIdentifier,
            application.isHidden};
}

// ---- Start and stop (main thread) ----

void AXWindowTracker::start(ChangeHandler onChange, FocusHandler onFocus)
{
    Backends backends = SystemBridge::installed();
    workspace_ = backends.workspace;

    std::vector<AppIdentity> running;
    std::optional<Pid> frontmost;
    if (workspace_) {
        for (const auto& application : workspace_->runningApplications()) {
            if (application.activationPolicy == ActivationPolicy::regular)
                running.push_back(identity(application));
        }
        if (auto front = workspace_->frontmostApplication())
            frontmost = front->pid;
    }

    queue_->sync([&] {
        accessibility_ = backends.accessibility;
        onChange_ = std::move(onChange);
        onFocus_ = std::move(onFocus);
        deliveries_ = std::make_shared<int>();
        paused_ = Session::isScreenLocked();
        for (const auto& application : running) {
            if (application.pid != ownPid_)
                addApplication(application);
        }
        publish();
        // The window focused before we started is the most recent one: without
        // this, the first switch would pick it from the stacking order.
        if (frontmost)
            noteFocused(*frontmost);
    });

    installWorkspaceObservers();
}

void AXWindowTracker::installWorkspaceObservers()
{
    workspaceObservers_.clear();
    sessionObservers_.clear();
    if (!workspace_)
        return;
    std::weak_ptr<AXWindowTracker*> weak = alive_;

    std::vector<std::unique_ptr<Observation>> workspaceTokens;
    workspaceTokens.push_back(workspace_->observe(
        WorkspaceEvent::didLaunchApplication, mainLoop_, [this, weak](const RunningApplication& application) {
            if (!weak.lock() || application.activationPolicy != ActivationPolicy::regular)
                return;
            AppIdentity launched = identity(application);
            onQueue([this, weak, launched] {
                launchTimers_[launched.pid] = queue_->asyncAfter(launchSettleDelay, [this, weak, launched] {
                    if (!weak.lock())
                        return;
                    launchTimers_.erase(launched.pid);
                    addApplication(launched);
                    publish();
                });
            });
        }));
    workspaceTokens.push_back(workspace_->observe(
        WorkspaceEvent::didTerminateApplication, mainLoop_, [this, weak](const RunningApplication& application) {
            if (!weak.lock())
                return;
            onQueue([this, pid = application.pid] {
                // An application that ends within its settle delay is never
                // added: tracking it would keep a dead process forever.
                if (auto launch = launchTimers_.find(pid); launch != launchTimers_.end()) {
                    launch->second->invalidate();
                    launchTimers_.erase(launch);
                }
                if (auto it = apps_.find(pid); it != apps_.end()) {
                    stopObserving(it->second);
                    apps_.erase(it);
                }
                publish();
            });
        }));
    workspaceTokens.push_back(workspace_->observe(
        WorkspaceEvent::didActivateApplication, mainLoop_, [this, weak](const RunningApplication& application) {
            if (!weak.lock())
                return;
            onQueue([this, pid = application.pid] { noteFocused(pid); });
        }));
    // No accessibility notification tells of a window moved to another space
    // or of a space switch, yet both change what a snapshot says.
    workspaceTokens.push_back(workspace_->observeSpaces(mainLoop_, [this, weak] {
        if (!weak.lock())
            return;
        onQueue([this] {
            if (!paused_)
                scheduleRefresh();
        });
    }));

    std::vector<std::unique_ptr<Observation>> sessionTokens;
    sessionTokens.push_back(workspace_->observeDistributed(Session::screenLockedNotification, mainLoop_, [this, weak] {
        if (!weak.lock())
            return;
        onQueue([this] { paused_ = true; });
    }));
    sessionTokens.push_back(workspace_->observeDistributed(Session::screenUnlockedNotification, mainLoop_, [this, weak] {
        if (!weak.lock())
            return;
        onQueue([this] {
            paused_ = false;
            refreshAll();
        });
    }));

    workspaceObservers_ = std::move(workspaceTokens);
    sessionObservers_ = std::move(sessionTokens);
}

void AXWindowTracker::stop()
{
    workspaceObservers_.clear();
    sessionObservers_.clear();
    queue_->sync([this] {
        // Work still pending from the running period must not publish an
        // empty desktop or start observing anything after the stop.
        if (refreshTimer_)
            refreshTimer_->invalidate();
        refreshTimer_.reset();
        refreshScheduled_ = false;
        for (const auto& [pid, timer] : launchTimers_)
            timer->invalidate();
        launchTimers_.clear();
        for (auto& [pid, app] : apps_)
            stopObserving(app);
        apps_.clear();
        onChange_ = nullptr;
        onFocus_ = nullptr;
        deliveries_.reset();
    });
}

// ---- Applications (queue) ----

void AXWindowTracker::addApplication(const AppIdentity& identity)
{
    if (identity.pid == ownPid_ || apps_.contains(identity.pid))
        return;
    TrackedApp app;
    app.pid = identity.pid;
    app.name = identity.name;
    app.bundleID = identity.bundleID;
    app.element = AXBridge::application(identity.pid, messagingTimeoutSeconds);
    // The hidden/shown notifications keep this current; an application that
    // was already hidden before tracking began would otherwise read as shown.
    app.isHidden = identity.isHidden;
    auto& tracked = apps_.emplace(identity.pid, std::move(app)).first->second;
    refresh(tracked);
    startObserving(tracked);
}

void AXWindowTracker::startObserving(TrackedApp& app)
{
    std::shared_ptr<AXObserver> observer;
    std::weak_ptr<AXWindowTracker*> weak = alive_;
    AXError code = AXErrors::failure;
    if (accessibility_) {
        code = accessibility_->createObserver(
            app.pid, [this, weak](const AXElement& element, const std::string& notification) {
                // Arrives on the main run loop.
                if (!weak.lock())
                    return;
                Pid pid = AXBridge::pid(element).value_or(0);
                onQueue([this, notification, element, pid] { handle(notification, element, pid); });
            },
            observer);
    }
    if (code != AXErrors::success || !observer) {
        log_.error("AXObserverCreate failed for %{public}s", app.name);
        return;
    }
    for (auto notification : notifications)
        (void)observer->addNotification(app.element, notification);
    observer->attach(mainLoop_);
    app.observer = std::move(observer);
}

void AXWindowTracker::stopObserving(TrackedApp& app)
{
    if (app.observer) {
        app.observer->detach();
        app.observer.reset();
    }
}

void AXWindowTracker::handle(const std::string& notification, const AXElement& element, Pid pid)
{
    if (!apps_.contains(pid) || paused_)
        return;
    if (notification == "AXFocusedWindowChanged" || notification == "AXMainWindowChanged") {
        if (auto id = AXBridge::windowID(element))
            deliverFocus(*id);
        return;
    }
    if (notification == "AXApplicationActivated") {
        noteFocused(pid);
        return;
    }
    if (notification == "AXApplicationHidden")
        apps_.at(pid).isHidden = true;
    else if (notification == "AXApplicationShown")
        apps_.at(pid).isHidden = false;
    scheduleRefresh();
}

void AXWindowTracker::scheduleRefresh()
{
    if (refreshScheduled_)
        return;
    refreshScheduled_ = true;
    std::weak_ptr<AXWindowTracker*> weak = alive_;
    refreshTimer_ = queue_->asyncAfter(refreshCoalescingDelay, [this, weak] {
        if (!weak.lock())
            return;
        refreshScheduled_ = false;
        refreshTimer_.reset();
        refreshAll();
    });
}

void AXWindowTracker::refreshAll()
{
    for (auto& [pid, app] : apps_)
        refresh(app);
    publish();
}

void AXWindowTracker::refresh(TrackedApp& app)
{
    TimePoint now = queue_->now();
    if (app.quarantinedUntil) {
        if (now < *app.quarantinedUntil)
            return;
        app.quarantinedUntil.reset();
    }

    auto result = AXBridge::windows(app.element);
    if (!result.ok()) {
        ++app.failures;
        auto backoff = quarantineBackoff(app.failures);
        app.quarantinedUntil = now + backoff;
        log_.error("%{public}s: %{public}@ — quarantined %{public}fs", app.name, result.error().description(),
                   static_cast<double>(backoff.count()));
        return;
    }

    app.failures = 0;
    std::vector<WindowInfo> windows;
    for (const auto& element : result.get()) {
        auto id = AXBridge::windowID(element);
        if (!id)
            continue;
        if (!isAccepted(AXBridge::subrole(element)))
            continue;
        WindowInfo info;
        info.id = *id;
        info.pid = app.pid;
        info.bundleID = app.bundleID;
        info.appName = app.name;
        info.title = AXBridge::title(element).value_or("");
        info.isMinimized = AXBridge::isMinimized(element);
        info.isAppHidden = app.isHidden;
        windows.push_back(std::move(info));
    }
    app.windows = std::move(windows);
}

void AXWindowTracker::noteFocused(Pid pid)
{
    auto it = apps_.find(pid);
    if (it == apps_.end() || paused_)
        return;
    auto window = AXBridge::focusedWindow(it->second.element);
    if (!window)
        return;
    if (auto id = AXBridge::windowID(*window))
        deliverFocus(*id);
}

void AXWindowTracker::deliverFocus(WindowID windowID)
{
    if (!onFocus_)
        return;
    mainLoop_.post([handler = onFocus_, windowID, running = std::weak_ptr(deliveries_)] {
        if (running.lock())
            handler(windowID);
    });
}

// ---- Window server and publication (queue) ----

std::vector<AXWindowTracker::ServerWindow> AXWindowTracker::layerZeroWindows()
{
    std::vector<ServerWindow> result;
    auto copy = SkyLight::windowListCopyWindowInfo();
    if (!copy)
        return result;
    std::optional<nlohmann::json> list = copy(0, 0);
    if (!list || !list->is_array())
        return result;
    for (const auto& entry : *list) {
        if (!entry.is_object())
            return {}; // not a list of dictionaries at all
    }
    for (const auto& entry : *list) {
        auto layer = entry.find("kCGWindowLayer");
        if (layer == entry.end() || !layer->is_number_integer() || layer->get<std::int64_t>() != 0)
            continue;
        auto number = entry.find("kCGWindowNumber");
        if (number == entry.end() || !number->is_number_integer())
            continue;
        auto id = number->get<std::int64_t>();
        if (id < 0 || id > std::numeric_limits<WindowID>::max())
            continue;
        auto owner = entry.find("kCGWindowOwnerPID");
        if (owner == entry.end() || !owner->is_number_integer())
            continue;
        auto pid = owner->get<std::int64_t>();
        if (pid < std::numeric_limits<Pid>::min() || pid > std::numeric_limits<Pid>::max())
            continue;

        ServerWindow window;
        window.id = static_cast<WindowID>(id);
        window.pid = static_cast<Pid>(pid);
        if (auto bounds = entry.find("kCGWindowBounds"); bounds != entry.end() && bounds->is_object()) {
            auto width = integerField(*bounds, "Width");
            auto height = integerField(*bounds, "Height");
            if (width && height) {
                window.width = *width;
                window.height = *height;
            }
        }
        if (auto name = entry.find("kCGWindowName"); name != entry.end() && name->is_string())
            window.title = name->get<std::string>();
        result.push_back(std::move(window));
    }
    return result;
}

bool AXWindowTracker::nameBefore(const std::string& a, const std::string& b)
{
    return TextUnicode::compareLocalized(a, b) < 0;
}

void AXWindowTracker::publish()
{
    SpaceTables tables = Spaces::tables(Spaces::displays(), [](SpaceID space) {
        return Spaces::windowIDs(space, spaceWindowListOptions);
    });
    std::vector<ServerWindow> serverWindows = layerZeroWindows();
    auto onSomeSpace = [&](WindowID id) {
        auto it = tables.windowSpaces.find(id);
        return it != tables.windowSpaces.end() && !it->second.empty();
    };

    std::vector<TrackedApp*> ordered;
    ordered.reserve(apps_.size());
    for (auto& [pid, app] : apps_)
        ordered.push_back(&app);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const TrackedApp* a, const TrackedApp* b) { return nameBefore(a->name, b->name); });

    TrackingSnapshot snapshot;
    for (TrackedApp* app : ordered) {
        std::vector<WindowInfo> windows = app->windows;
        std::set<WindowID> listed;
        for (const auto& window : windows)
            listed.insert(window.id);

        for (auto it = app->remembered.begin(); it != app->remembered.end();) {
            if (listed.contains(it->first)) {
                ++it;
            } else if (tables.windowSpaces.contains(it->first)) {
                windows.push_back(it->second);
                listed.insert(it->first);
                ++it;
            } else {
                it = app->remembered.erase(it);
            }
        }

        for (const auto& server : serverWindows) {
            if (server.pid != app->pid || listed.contains(server.id) || !onSomeSpace(server.id))
                continue;
            if (server.width < minimumServerWindowWidth || server.height < minimumServerWindowHeight)
                continue;
            WindowInfo info;
            info.id = server.id;
            info.pid = app->pid;
            info.bundleID = app->bundleID;
            info.appName = app->name;
            info.title = server.title.empty() ? app->name : server.title;
            info.isMinimized = false;
            info.isAppHidden = app->isHidden;
            windows.push_back(std::move(info));
            listed.insert(server.id);
        }

        for (auto& window : windows) {
            auto it = tables.windowSpaces.find(window.id);
            window.spaceIDs = it != tables.windowSpaces.end() ? it->second : std::vector<SpaceID>{};
            snapshot.windows.push_back(std::move(window));
        }
    }
    snapshot.visibleSpaceIDs = std::move(tables.visibleSpaceIDs);
    snapshot.fullscreenSpaceIDs = std::move(tables.fullscreenSpaceIDs);
    snapshot.spaceNumbers = std::move(tables.spaceNumbers);

    if (logEnabled(LogLevel::debug)) {
        log_.debug("publish: %ld windows, visible=%s, fullscreen=%ld fs", snapshot.windows.size(),
                   bracketedList(snapshot.visibleSpaceIDs), snapshot.fullscreenSpaceIDs.size());
    }

    if (onChange_) {
        mainLoop_.post([handler = onChange_, snapshot = std::move(snapshot), running = std::weak_ptr(deliveries_)] {
            if (running.lock())
                handler(snapshot);
        });
    }
}

} // namespace vantrel
