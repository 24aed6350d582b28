// A simulated desktop behind the window-server, accessibility and workspace interfaces.
#pragma once

#include "Runtime/RunLoop.h"
#include "SystemBridge/AccessibilityBackend.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/WindowServerBackend.h"
#include "SystemBridge/WorkspaceBackend.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantrel::Sim {

/// One space of a simulated display.
struct Space {
    SpaceID id = 0;
    std::int64_t managedID = 0;
    std::string uuid{};
    /// 0 ordinary, 4 full screen.
    std::int64_t type = 0;
    bool operator==(const Space&) const = default;
};

/// One simulated display with its ordered spaces.
struct Display {
    std::string identifier{};
    ScreenRect frame{};
    ScreenRect visibleFrame{};
    std::vector<Space> spaces{};
    /// 0 for a display without a current space.
    SpaceID currentSpaceID = 0;
    bool operator==(const Display&) const = default;
};

/// One simulated window.
struct Window {
    WindowID id = 0;
    Pid pid = 0;
    std::string title{};
    /// Empty for a window without a subrole.
    std::string subrole = "AXStandardWindow";
    bool minimized = false;
    bool hasCloseButton = true;
    std::vector<SpaceID> spaces{};
    std::int64_t width = 800;
    std::int64_t height = 600;
    std::int64_t layer = 0;
    /// False for a window the window server lists but accessibility does not.
    bool accessible = true;
    bool operator==(const Window&) const = default;
};

/// One simulated application.
struct Application {
    Pid pid = 0;
    std::optional<std::string> name{};
    std::optional<std::string> bundleID{};
    ActivationPolicy policy = ActivationPolicy::regular;
    bool hidden = false;
    std::optional<ApplicationIcon> icon{};
    bool operator==(const Application&) const = default;
};

/// The simulated desktop. It implements all three backend interfaces, records
/// every call it receives (by entry-point name, e.g. "CGSGetActiveSpace" or
/// "AXUIElementPerformAction AXRaise"), lets a test remove any entry point and
/// inject failures, and emits accessibility and workspace notifications as
/// jobs on the run loop it was given when its state changes.
///
/// The system shortcut table lives in memory shared with forked children, so
/// a parent can see what a child's signal handler restored.
class SimDesktop final : public WindowServerBackend,
                         public AccessibilityBackend,
                         public WorkspaceBackend,
                         public std::enable_shared_from_this<SimDesktop> {
public:
    /// An empty desktop whose notifications arrive on `mainLoop`.
    static std::shared_ptr<SimDesktop> create(RunLoop& mainLoop);
    /// A small sample: two displays, five spaces (one full screen), three
    /// applications with windows.
    static std::shared_ptr<SimDesktop> sample(RunLoop& mainLoop);
    ~SimDesktop() override;

    /// This desktop as all three backends.
    Backends backends();

    // ---- The desktop's state (the test's hands) ----

    void addDisplay(Display display);
    /// Switches a display to a space (as the user would), without recording a call.
    void setCurrentSpace(const std::string& displayIdentifier, SpaceID spaceID);
    /// Replaces a display's spaces (as the user adds or removes desktops); a
    /// current space no longer listed becomes the first one, or 0.
    void setSpaces(const std::string& displayIdentifier, std::vector<Space> spaces);
    std::vector<Display> displays() const;
    /// The display whose current space is the active one.
    void setActiveDisplay(const std::string& displayIdentifier);

    /// Starts an application (workspace launch notification).
    void launch(Application application);
    /// Ends it and its windows (workspace terminate notification).
    void quit(Pid pid);
    std::optional<Application> application(Pid pid) const;

    /// Opens a window in front of its application's windows ("AXWindowCreated").
    void openWindow(Window window);
    /// Closes a window ("AXUIElementDestroyed"); its elements become invalid.
    void closeWindow(WindowID windowID);
    std::optional<Window> window(WindowID windowID) const;
    /// The windows, front to back.
    std::vector<Window> windows() const;
    void setTitle(WindowID windowID, std::string title);
    /// Moves a window to other spaces (no accessibility notification).
    void setWindowSpaces(WindowID windowID, std::vector<SpaceID> spaces);
    /// Minimizes or restores ("AXWindowMiniaturized" / "AXWindowDeminiaturized").
    void setMinimized(WindowID windowID, bool minimized);
    /// Makes the application frontmost with this window focused
    /// ("AXApplicationActivated", "AXFocusedWindowChanged", workspace activate).
    void focus(WindowID windowID);
    /// Hides or shows an application ("AXApplicationHidden" / "AXApplicationShown").
    void setHidden(Pid pid, bool hidden);
    /// The frontmost process, if any.
    std::optional<Pid> frontmostPID() const;
    /// The process made front of a space by the space front-process call.
    std::optional<Pid> spaceFrontPID(SpaceID spaceID) const;

    /// The state of a system shortcut (unknown ids read as enabled).
    bool hotKeyEnabled(std::int32_t hotKeyID) const;
    /// Changes a system shortcut as the user would, without recording a call.
    void setHotKeyEnabled(std::int32_t hotKeyID, bool enabled);

    void setSecureInput(bool enabled);
    bool secureInput() const;
    /// Locks or unlocks the screen: the session dictionary and the
    /// distributed notifications follow.
    void setScreenLocked(bool locked);
    bool screenLocked() const;
    void setTrusted(bool trusted);
    void setKeyRepeat(KeyRepeatSettings settings);
    /// URLs opened so far.
    std::vector<std::string> openedURLs() const;

    // ---- Faults ----

    /// Stops offering an entry point by its name ("CGSGetActiveSpace",
    /// "SLSSpaceSetFrontPSN", "GetFrontProcess", "_AXUIElementGetWindow", ...).
    void removeSlot(std::string_view name);
    /// Offers it again.
    void restoreSlot(std::string_view name);
    /// Stops offering every window-server entry point.
    void removeAllSlots();
    /// Answers "CGSessionCopyCurrentDictionary" with `value` instead of the lock state.
    void overrideSessionDictionary(std::optional<std::optional<nlohmann::json>> value);
    /// The next calls of the entry point `name` return these codes, in order
    /// ("_SLPSSetFrontProcessWithOptions", "SLPSPostEventRecordTo",
    /// "SLSSpaceSetFrontPSN", "CGSSetSymbolicHotKeyEnabled", "GetProcessForPID").
    void failNext(std::string_view name, std::vector<std::int32_t> codes);
    /// Every accessibility call on the application's elements fails with `code`
    /// (0 clears it).
    void injectAXError(Pid pid, AXError code);
    /// The application stops answering: each accessibility call on its elements
    /// costs the element's messaging timeout (virtual time, see `axWaited`) and
    /// fails with cannotComplete.
    void setHung(Pid pid, bool hung);
    /// The next actions performed on the application's elements return these codes.
    void failNextActions(Pid pid, std::vector<AXError> codes);
    /// Elements already handed out for this window become invalid; fresh
    /// lookups work.
    void invalidateElements(WindowID windowID);
    /// Virtual time hung applications have cost so far.
    Duration axWaited() const;

    // ---- What happened ----

    /// Every call received, oldest first.
    std::vector<std::string> calls() const;
    /// Whether some call starts with `prefix`.
    bool called(std::string_view prefix) const;
    void clearCalls();
    /// Event records posted, oldest first.
    std::vector<std::array<std::uint8_t, eventRecordSize>> postedEventRecords() const;

    // ---- WindowServerBackend ----
    WindowServerSlots slots() override;
    bool exportsSymbol(std::string_view name) override;
    SignalSafeHotKeySetter signalSafeHotKeySetter() override;

    // ---- AccessibilityBackend ----
    bool isProcessTrusted() override;
    bool isProcessTrustedWithOptions(bool prompt) override;
    AXElement createApplication(Pid pid) override;
    AXError setMessagingTimeout(const AXElement& element, float seconds) override;
    AXError copyAttributeValue(const AXElement& element, std::string_view attribute, AXValue& value) override;
    AXError setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value) override;
    AXError performAction(const AXElement& element, std::string_view action) override;
    AXError getPid(const AXElement& element, Pid& pid) override;
    bool offersGetWindow() override;
    AXError getWindow(const AXElement& element, WindowID& windowID) override;
    AXError createObserver(Pid pid, AXObserverCallback callback, std::shared_ptr<AXObserver>& observer) override;

    // ---- WorkspaceBackend ----
    std::vector<RunningApplication> runningApplications() override;
    std::optional<RunningApplication> runningApplication(Pid pid) override;
    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<ApplicationIcon> icon(Pid pid) override;
    bool terminate(Pid pid) override;
    bool hide(Pid pid) override;
    std::unique_ptr<Observation> observe(WorkspaceEvent event, RunLoop& loop,
                                         std::function<void(const RunningApplication&)> callback) override;
    std::unique_ptr<Observation> observeDistributed(std::string_view name, RunLoop& loop,
                                                    std::function<void()> callback) override;
    std::vector<Screen> screens() override;
    std::unique_ptr<Observation> observeScreens(RunLoop& loop, std::function<void()> callback) override;
    std::unique_ptr<Observation> observeSpaces(RunLoop& loop, std::function<void()> callback) override;
    KeyRepeatSettings keyRepeat() override;
    bool openURL(std::string_view url) override;

private:
    struct State;
    struct Element;
    class Observer;
    struct SharedHotKeys;
    struct Subscription;

    explicit SimDesktop(RunLoop& mainLoop);

    void record(std::string call);
    /// Queues an accessibility notification for the observers of `pid`
    /// (`window` 0: on the application element).
    void emit(Pid pid, WindowID window, const std::string& notification);
    void emitWorkspace(WorkspaceEvent event, const RunningApplication& application);
    /// Spaces (kind 3), screens (kind 2) or a distributed notification (kind 1) named `name`.
    void emitSimple(int kind, const std::string& name);
    static RunningApplication running(const Application& app);
    /// The common checks of an accessibility call (state locked).
    AXError checkElement(const AXElement& element, Element*& sim);
    AXError checkObserverTarget(const Element& element, std::string call);
    bool isStale(const Element& element);
    AXElement windowElement(const Window& window, float timeout, bool closeButton);

    RunLoop& mainLoop_;
    std::unique_ptr<State> state_;
    SharedHotKeys* hotKeys_ = nullptr;
};

} // namespace vantrel::Sim

namespace vantrel {
/// Registers the simulated desktop as backend "sim" (on the sample desktop).
void registerSimBackend();
} // namespace vantrel
