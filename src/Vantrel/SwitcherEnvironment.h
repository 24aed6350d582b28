// What the switcher controller needs of the desktop: the frontmost application, key repeat, the main display,
// focusing, and the item actions.
#pragma once

#include "Runtime/RunLoop.h"
#include "SystemBridge/WindowFocus.h"
#include "SystemBridge/WorkspaceBackend.h"
#include "Vantrel/SwitcherPanels.h"
#include "VantrelCore/WindowInfo.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

/// The switcher's view of the workspace. Main thread only, except the calls
/// said to run on the controller's work queue: those touch no main-thread state.
class SwitcherEnvironment {
public:
    /// The user's key-repeat preference.
    struct KeyRepeat {
        /// Hold time before the first repeat.
        Duration delay = std::chrono::milliseconds(500);
        /// Time between repeats.
        Duration interval = std::chrono::milliseconds(83);
        bool operator==(const KeyRepeat&) const = default;
    };

    virtual ~SwitcherEnvironment() = default;

    /// Process id of the application that has keyboard focus, if any.
    virtual std::optional<ProcessID> frontmostProcess() const = 0;
    /// The current key-repeat delay and interval.
    virtual KeyRepeat keyRepeat() const = 0;
    /// The display holding the key window (else the primary one), if any.
    virtual std::optional<ScreenIdentifier> mainScreen() const = 0;
    /// Work queue: brings the window to the front, switching desktops as
    /// needed, and says how each step went. Called after the window has been
    /// recorded as most recently used.
    virtual WindowFocus::Trace focusWindow(const WindowInfo& window) = 0;

    /// Another application came to the front: its identifier and name, each
    /// absent when the desktop does not know it.
    using FrontmostHandler = std::function<void(const std::optional<std::string>& bundleID,
                                                const std::optional<std::string>& name)>;
    /// Calls `onChange` with the frontmost application, if any, before it
    /// returns, then as a main-loop job at every change of it, until the
    /// token is destroyed.
    virtual std::unique_ptr<Observation> observeFrontmost(FrontmostHandler onChange) = 0;

    /// Asks every window of the application to close; never kills it. False
    /// when it does not run.
    virtual bool quitApplication(ProcessID pid) = 0;
    /// Minimizes every window of the application. False when it does not run.
    virtual bool hideApplication(ProcessID pid) = 0;
    /// Work queue: asks the window to close, as its close button does. False
    /// when the window cannot be found.
    virtual bool closeWindow(const WindowInfo& window) = 0;
    /// Work queue: minimizes the window. False when it cannot be found.
    virtual bool minimizeWindow(const WindowInfo& window) = 0;
};

} // namespace vantrel
