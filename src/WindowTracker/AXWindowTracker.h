// The window tracker: every regular application's windows, kept current through accessibility observers.
#pragma once

#include "Runtime/Log.h"
#include "Runtime/RunLoop.h"
#include "Runtime/SerialQueue.h"
#include "SystemBridge/AccessibilityBackend.h"
#include "SystemBridge/WorkspaceBackend.h"
#include "VantrelCore/WindowTracking.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// Tracks the windows of every regular application through the installed
/// bridge backends and publishes a complete snapshot after every change.
///
/// All bookkeeping happens on one serial queue; accessibility and workspace
/// notifications arrive on the main run loop and only hand work to it.
/// Snapshots and focus reports go back to the main run loop as copies.
/// `start`, `stop` and the destructor must be called on the main run loop's
/// thread.
class AXWindowTracker final : public WindowTracking {
public:
    /// The accessibility notifications observed on every tracked application,
    /// in registration order.
    static constexpr std::string_view notifications[] = {
        "AXWindowCreated",      "AXUIElementDestroyed",   "AXFocusedWindowChanged", "AXMainWindowChanged",
        "AXTitleChanged",       "AXWindowMiniaturized",   "AXWindowDeminiaturized", "AXApplicationHidden",
        "AXApplicationShown",   "AXApplicationActivated",
    };
    /// Subroles of windows worth switching to.
    static constexpr std::string_view acceptedSubroles[] = {"AXStandardWindow", "AXDialog"};

    /// A burst of notifications is served by one refresh this long after its first.
    static constexpr Duration refreshCoalescingDelay = std::chrono::milliseconds(50);
    /// A launched application gets this long to open its windows before it is read.
    static constexpr Duration launchSettleDelay = std::chrono::milliseconds(500);
    /// Every application element answers within this many seconds or fails.
    static constexpr float messagingTimeoutSeconds = 0.5f;
    /// Cap of the quarantine back-off.
    static constexpr int maximumBackoffSeconds = 60;
    /// Windows only the window server lists must be at least this large to count.
    static constexpr std::int64_t minimumServerWindowWidth = 300;
    static constexpr std::int64_t minimumServerWindowHeight = 200;
    /// Window-list options used to list a space's windows.
    static constexpr std::int32_t spaceWindowListOptions = 2;

    /// The back-off after `failures` consecutive failed reads: min(2^failures, 60) s.
    static std::chrono::seconds quarantineBackoff(int failures);

    /// One entry of the window server's window list.
    struct ServerWindow {
        WindowID id = 0;
        Pid pid = 0;
        /// Empty when the window has no name.
        std::string title;
        std::int64_t width = 0;
        std::int64_t height = 0;
        bool operator==(const ServerWindow&) const = default;
    };

    /// One tracked application (queue only).
    struct TrackedApp {
        Pid pid = 0;
        /// The localized name, "?" when the application has none.
        std::string name;
        std::optional<std::string> bundleID;
        /// The application element, carrying the messaging timeout.
        AXElement element;
        /// Present while the application's notifications are observed.
        std::shared_ptr<AXObserver> observer;
        /// The last successful read, in accessibility order.
        std::vector<WindowInfo> windows;
        /// Windows kept while the window server still lists them on a space.
        std::map<WindowID, WindowInfo> remembered;
        bool isHidden = false;
        /// Refreshes are skipped until then.
        std::optional<TimePoint> quarantinedUntil;
        /// Consecutive failed window reads.
        int failures = 0;
    };

    /// What the tracker runs on.
    struct Options {
        /// The queue for all bookkeeping; null creates a thread of its own.
        std::shared_ptr<SerialQueue> queue;
        /// The process never tracked; none means this process.
        std::optional<Pid> ownPid;
    };

    /// Creates the queue and the empty state; observes nothing yet.
    explicit AXWindowTracker(RunLoop& mainLoop, Options options = {});
    ~AXWindowTracker() override;
    AXWindowTracker(const AXWindowTracker&) = delete;
    AXWindowTracker& operator=(const AXWindowTracker&) = delete;

    /// Tracks the running regular applications and hands the first snapshot to
    /// the main run loop before returning, then installs the workspace observers.
    void start(ChangeHandler onChange, FocusHandler onFocus) override;
    /// Removes every observer and forgets every application; returns when done.
    void stop() override;

    /// The window server's layer-0 windows, on every space, in its order;
    /// malformed entries are skipped one by one.
    static std::vector<ServerWindow> layerZeroWindows();

private:
    /// What an application is known by before it is tracked.
    struct AppIdentity {
        Pid pid = 0;
        std::string name;
        std::optional<std::string> bundleID;
        bool isHidden = false;
    };

    static AppIdentity identity(const RunningApplication& application);

    // Main thread.
    void installWorkspaceObservers();
    /// Runs `job` on the queue while the tracker lives.
    void onQueue(std::function<void()> job);

    // Queue.
    void addApplication(const AppIdentity& identity);
    void refreshAll();
    void refresh(TrackedApp& app);
    void scheduleRefresh();
    void startObserving(TrackedApp& app);
    void stopObserving(TrackedApp& app);
    void handle(const std::string& notification, const AXElement& element, Pid pid);
    void noteFocused(Pid pid);
    void publish();
    void deliverFocus(WindowID windowID);
    /// Whether application name `a` sorts before `b` in the user's collation (case ignored).
    static bool nameBefore(const std::string& a, const std::string& b);

    RunLoop& mainLoop_;
    std::shared_ptr<SerialQueue> queue_;
    Logger log_{"tracker"};
    Pid ownPid_ = 0;

    // Queue state.
    std::map<Pid, TrackedApp> apps_;
    ChangeHandler onChange_;
    FocusHandler onFocus_;
    /// One per start(): deliveries posted to the main loop hold it weakly and
    /// do nothing once stop() has dropped it, even if they were posted by
    /// work stop() itself drained from the queue.
    std::shared_ptr<int> deliveries_;
    bool refreshScheduled_ = false;
    bool paused_ = false;
    std::shared_ptr<Timer> refreshTimer_;
    /// Launched applications waiting for their settle delay.
    std::map<Pid, std::shared_ptr<Timer>> launchTimers_;
    std::shared_ptr<AccessibilityBackend> accessibility_;

    // Main-thread state.
    std::shared_ptr<WorkspaceBackend> workspace_;
    std::vector<std::unique_ptr<Observation>> workspaceObservers_;
    std::vector<std::unique_ptr<Observation>> sessionObservers_;

    /// Jobs and callbacks hold this weakly; it is dropped on the queue, so a
    /// queue job that finds it alive runs with the tracker alive throughout.
    std::shared_ptr<AXWindowTracker*> alive_;
};

} // namespace vantrel
