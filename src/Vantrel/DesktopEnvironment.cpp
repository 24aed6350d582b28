// The switcher's environment on the installed bridge.
#include "Vantrel/DesktopEnvironment.h"

#include "SystemBridge/AXBridge.h"
#include "SystemBridge/Backends.h"

namespace vantrel {

namespace {
std::shared_ptr<WorkspaceBackend> workspace() { return SystemBridge::installed().workspace; }

/// Held by a caller that asked for observation where nothing can be observed.
class NoObservation final : public Observation {};
} // namespace

std::optional<ProcessID> DesktopEnvironment::frontmostProcess() const
{
    auto desktop = workspace();
    if (!desktop)
        return std::nullopt;
    auto app = desktop->frontmostApplication();
    return app ? std::optional<ProcessID>(app->pid) : std::nullopt;
}

SwitcherEnvironment::KeyRepeat DesktopEnvironment::keyRepeat() const
{
    auto desktop = workspace();
    if (!desktop)
        return {};
    KeyRepeatSettings settings = desktop->keyRepeat();
    return {settings.initialDelay, settings.interval};
}

std::optional<ScreenIdentifier> DesktopEnvironment::mainScreen() const
{
    auto desktop = workspace();
    if (!desktop)
        return std::nullopt;
    auto screens = desktop->screens();
    return screens.empty() ? std::nullopt : std::optional<ScreenIdentifier>(screens.front().identifier);
}

WindowFocus::Trace DesktopEnvironment::focusWindow(const WindowInfo& window)
{
    return WindowFocus::focus(window.id, window.pid);
}

std::unique_ptr<Observation> DesktopEnvironment::observeFrontmost(FrontmostHandler onChange)
{
    auto desktop = workspace();
    if (!desktop)
        return std::make_unique<NoObservation>();
    // The application in front at the start counts as a change: a paused one
    // must get the chords from the first press on.
    if (auto front = desktop->frontmostApplication())
        onChange(front->bundleIdentifier, front->localizedName);
    return desktop->observe(WorkspaceEvent::didActivateApplication, mainLoop_,
                            [onChange = std::move(onChange)](const RunningApplication& app) {
                                onChange(app.bundleIdentifier, app.localizedName);
                            });
}

bool DesktopEnvironment::quitApplication(ProcessID pid)
{
    auto desktop = workspace();
    return desktop && desktop->terminate(pid);
}

bool DesktopEnvironment::hideApplication(ProcessID pid)
{
    auto desktop = workspace();
    return desktop && desktop->hide(pid);
}

bool DesktopEnvironment::closeWindow(const WindowInfo& window)
{
    auto element = AXBridge::window(window.id, window.pid);
    return element && AXBridge::close(*element) == AXErrors::success;
}

bool DesktopEnvironment::minimizeWindow(const WindowInfo& window)
{
    auto element = AXBridge::window(window.id, window.pid);
    return element && AXBridge::setMinimized(*element, true) == AXErrors::success;
}

} // namespace vantrel
