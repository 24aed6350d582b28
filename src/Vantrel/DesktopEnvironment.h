// The switcher's environment on the installed bridge: workspace, focus procedure and accessibility.
#pragma once

#include "Vantrel/SwitcherEnvironment.h"

namespace vantrel {

/// Answers from the backends installed in the bridge (`SystemBridge::install`)
/// at the time of each call; without a workspace it knows nothing and does
/// nothing. Notifications arrive on `mainLoop`, which must outlive this.
class DesktopEnvironment final : public SwitcherEnvironment {
public:
    explicit DesktopEnvironment(RunLoop& mainLoop) : mainLoop_(mainLoop) {}

    std::optional<ProcessID> frontmostProcess() const override;
    KeyRepeat keyRepeat() const override;
    /// The primary display.
    std::optional<ScreenIdentifier> mainScreen() const override;
    WindowFocus::Trace focusWindow(const WindowInfo& window) override;
    std::unique_ptr<Observation> observeFrontmost(FrontmostHandler onChange) override;
    bool quitApplication(ProcessID pid) override;
    bool hideApplication(ProcessID pid) override;
    bool closeWindow(const WindowInfo& window) override;
    bool minimizeWindow(const WindowInfo& window) override;

private:
    RunLoop& mainLoop_;
};

} // namespace vantrel
