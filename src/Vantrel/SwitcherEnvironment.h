// What the switcher controller needs of the desktop: the frontmost application, key repeat, the main display, focusing.
#pragma once

#include "Runtime/RunLoop.h"
#include "Vantrel/SwitcherPanels.h"
#include "VantrelCore/WindowInfo.h"

#include <chrono>
#include <optional>

namespace vantrel {

/// The switcher's view of the workspace. Main thread only.
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
    /// Brings the window to the front, switching desktops as needed. Called
    /// after the window has been recorded as most recently used.
    virtual void focusWindow(const WindowInfo& window) = 0;
};

} // namespace vantrel
