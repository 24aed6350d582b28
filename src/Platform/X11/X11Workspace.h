// The workspace on X11: running applications are the pids owning managed
// windows.
//
// - running applications: one per pid owning a managed window (a client
//   whose pid is unknown counts as one, by its key), in the order
//   they appeared; name and identifier from the matching `.desktop` entry (by
//   `StartupWMClass`, else by file id), else `WM_CLASS` (class name, instance
//   name); regular policy when the application has a normal, non-skip-taskbar
//   window, accessory otherwise.
// - launch / terminate / activate: a pid appears in / leaves the client list;
//   the owner of `_NET_ACTIVE_WINDOW` changes (a 0 active window is ignored).
// - terminate: closes each of its windows politely; hide: iconifies each.
// - icons: `_NET_WM_ICON`, the smallest image at least as large as asked (32
//   pixels by default), else the largest; images above 256×256 are ignored.
// - screens: RandR monitors, the visible frame intersected with `_NET_WORKAREA`.
// - spaces changed: `_NET_CURRENT_DESKTOP`, `_NET_NUMBER_OF_DESKTOPS` or
//   `_NET_DESKTOP_NAMES` of the root, or `_NET_WM_DESKTOP` of a client.
// - key repeat: the XKB controls (delay, interval).
// - distributed notifications: accepted, never delivered (X11 posts none).
// - URLs: handed to `xdg-open`.
#pragma once

#include "Platform/X11/DesktopEntries.h"
#include "Platform/X11/X11Desktop.h"
#include "SystemBridge/WorkspaceBackend.h"

#include <memory>
#include <mutex>

namespace vantrel {

/// Largest icon side we accept, and the bound on one `_NET_WM_ICON` read.
inline constexpr std::uint32_t maxIconSide = 256;
inline constexpr std::uint32_t maxIconPropertyBytes = 4 * 1024 * 1024;

class X11Workspace final : public WorkspaceBackend, public std::enable_shared_from_this<X11Workspace> {
public:
    explicit X11Workspace(std::shared_ptr<X11Desktop> desktop,
                          std::vector<std::filesystem::path> dataDirs = DesktopEntries::defaultDataDirs());

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

    /// The icon closest to `pixels` (see above).
    std::optional<ApplicationIcon> icon(Pid pid, std::uint32_t pixels);

    /// Picks the best image of a `_NET_WM_ICON` value (width, height, ARGB
    /// pixels, repeated); malformed or oversized images are skipped.
    static std::optional<ApplicationIcon> bestIcon(std::span<const std::uint32_t> data, std::uint32_t pixels);

private:
    RunningApplication describe(const X11AppFacts& facts, bool regular) const;
    /// Calls `callback` on `loop` for every desktop event of `kind`.
    std::unique_ptr<Observation> observeKind(X11DesktopEvent::Kind kind, RunLoop& loop, std::function<void()> callback);
    const DesktopEntries& entries();

    std::shared_ptr<X11Desktop> desktop_;
    std::vector<std::filesystem::path> dataDirs_;
    std::once_flag entriesOnce_;
    std::unique_ptr<DesktopEntries> entries_;
};

} // namespace vantrel
