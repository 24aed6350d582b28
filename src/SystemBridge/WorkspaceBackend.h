// The workspace: running applications, their notifications, screens and user preferences.
#pragma once

#include "Runtime/RunLoop.h"
#include "SystemBridge/WindowServerBackend.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// How an application takes part in the desktop.
enum class ActivationPolicy {
    regular,    ///< an ordinary application with windows and a task-bar entry
    accessory,  ///< windows but no task-bar entry (menu-bar helpers)
    prohibited, ///< no user interface
};

/// One running application.
struct RunningApplication {
    Pid pid = 0;
    std::optional<std::string> localizedName;
    std::optional<std::string> bundleIdentifier;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    bool isHidden = false;
    bool operator==(const RunningApplication&) const = default;
};

/// An application icon as 32-bit ARGB pixels, row by row.
struct ApplicationIcon {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> argb;
    bool operator==(const ApplicationIcon&) const = default;
};

/// A rectangle in global screen coordinates (points, y down).
struct ScreenRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const ScreenRect&) const = default;
};

/// One display.
struct Screen {
    /// The same identifier the window server uses as "Display Identifier".
    std::string identifier;
    ScreenRect frame;
    /// The frame without panels, docks and menu bars.
    ScreenRect visibleFrame;
    bool operator==(const Screen&) const = default;
};

/// The user's keyboard repeat preference.
struct KeyRepeatSettings {
    /// Hold time before the first repeat.
    Duration initialDelay = std::chrono::milliseconds(500);
    /// Time between repeats.
    Duration interval = std::chrono::milliseconds(83);
    bool operator==(const KeyRepeatSettings&) const = default;
};

/// Workspace notifications about applications.
enum class WorkspaceEvent {
    didLaunchApplication,
    didTerminateApplication,
    didActivateApplication,
};

/// A registration; destroying it removes the observer, after which its
/// callback never runs again (not even for jobs already queued).
class Observation {
public:
    virtual ~Observation() = default;
};

/// The platform's workspace. Calls may be made from the main thread only,
/// unless noted.
class WorkspaceBackend {
public:
    virtual ~WorkspaceBackend() = default;

    /// Every running application, in launch order.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    /// The running application with this pid.
    virtual std::optional<RunningApplication> runningApplication(Pid pid) = 0;
    /// The application that has keyboard focus.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    /// The application's icon, when it has one.
    virtual std::optional<ApplicationIcon> icon(Pid pid) = 0;
    /// Asks the application to quit; false when it does not run.
    virtual bool terminate(Pid pid) = 0;
    /// Hides every window of the application; false when it does not run.
    virtual bool hide(Pid pid) = 0;

    /// Calls `callback` as a job on `loop` for each `event`, with the
    /// application it concerns. `loop` must outlive the observation.
    virtual std::unique_ptr<Observation> observe(WorkspaceEvent event, RunLoop& loop,
                                                 std::function<void(const RunningApplication&)> callback) = 0;
    /// Observes a distributed (cross-process) notification by name, such as
    /// "com.apple.screenIsLocked"; names the platform does not post are
    /// accepted and never delivered.
    virtual std::unique_ptr<Observation> observeDistributed(std::string_view name, RunLoop& loop,
                                                            std::function<void()> callback) = 0;

    /// The displays, the primary one first.
    virtual std::vector<Screen> screens() = 0;
    /// Calls `callback` as a job on `loop` after the displays changed.
    virtual std::unique_ptr<Observation> observeScreens(RunLoop& loop, std::function<void()> callback) = 0;
    /// Calls `callback` as a job on `loop` when the spaces change: the current
    /// space, the set of spaces, or the space of some window.
    virtual std::unique_ptr<Observation> observeSpaces(RunLoop& loop, std::function<void()> callback) = 0;

    /// The key-repeat delay and interval.
    virtual KeyRepeatSettings keyRepeat() = 0;
    /// Opens a settings page or other URL; false when nothing could open it.
    virtual bool openURL(std::string_view url) = 0;
};

} // namespace vantrel
