// The switcher session: a chord opens it, presses and key repeat step it, typing filters it, releasing commits;
// and its hot keys, the pause list, focusing and the item actions.
#pragma once

#include "InputEngine/HotKey.h"
#include "InputEngine/ModifierWatcher.h"
#include "Runtime/Log.h"
#include "Runtime/RunLoop.h"
#include "Runtime/SerialQueue.h"
#include "Vantrel/SwitcherEnvironment.h"
#include "Vantrel/SwitcherPanels.h"
#include "VantrelCore/Settings.h"
#include "VantrelCore/SettingsStore.h"
#include "VantrelCore/WindowInfo.h"
#include "VantrelCore/WindowStore.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// Serves every configured switcher; at most one session is open at a time.
/// Everything runs on the main run loop; timers and panel callbacks refer to
/// the controller without owning it and do nothing once it is gone.
class SwitcherController {
public:
    /// One open switcher.
    struct Session {
        /// The switcher whose chord opened the session; sessions are told
        /// apart by `config.id`.
        SwitcherConfig config;
        /// The switcher's windows when the session opened (refreshed when the
        /// store changes).
        std::vector<WindowInfo> baseItems;
        /// What the panel shows: `baseItems` narrowed by the query.
        std::vector<WindowInfo> items;
        /// Index into `items`; inside it whenever `items` is not empty.
        std::ptrdiff_t selection = 0;
        /// The typed query, untrimmed.
        std::string query;
        /// Shows the panel when the delay runs out; empty when shown at once.
        std::shared_ptr<Timer> showTimer;

        bool operator==(const Session&) const = default;
    };

    /// Repeat never steps faster than this, whatever the user's setting.
    static constexpr Duration minimumRepeatInterval = std::chrono::milliseconds(30);

    /// The store, panel, settings store, environment and run loop are shared
    /// and must outlive the controller; the mirrors are owned. Focusing and
    /// closing or minimizing a window run in order on `workQueue` (none: a
    /// thread of the controller's own); the environment must outlive it.
    /// Hot keys and the modifier watcher use the process's input backend
    /// (`setCurrentInputBackend`); the system ⌘Tab goes through the bridge.
    /// Nothing is registered before `start`.
    SwitcherController(RunLoop& runLoop, WindowStore& store, SwitcherPanelInterface& panel,
                       SettingsStore& settingsStore, SwitcherEnvironment& environment,
                       std::unique_ptr<MirrorPanelsInterface> mirrors, std::shared_ptr<SerialQueue> workQueue = nullptr);
    ~SwitcherController();
    SwitcherController(const SwitcherController&) = delete;
    SwitcherController& operator=(const SwitcherController&) = delete;

    /// The switcher's windows: most recently used first, narrowed to the
    /// frontmost application for an `activeApp` switcher, then through the
    /// Spaces filter and the minimized/hidden placement of the settings.
    std::vector<WindowInfo> items(const SwitcherConfig& config) const;

    /// A press of the switcher's activate chord: opens its session with the
    /// second window selected, or moves the selection down.
    void activate(const SwitcherConfig& config);
    /// A press of the move-up chord: moves the selection up, or opens the
    /// session with the last window selected.
    void moveUp(const SwitcherConfig& config);

    /// The chord stays held: after the key-repeat delay, steps by `step`, then
    /// once per key-repeat interval (at least 30 ms) while the session lasts.
    void startRepeat(int step, const SwitcherConfig& config);
    /// The chord's key was released: repetition stops at once.
    void stopRepeat();
    /// Moves the selection by `delta` (wrapping) and shows it if visible.
    void step(int delta);

    /// Every change of the held modifiers (modifier-flag bit layout): once
    /// none of the activate chord's modifiers is held, the selected window is
    /// focused and the session ends.
    void flagsChanged(std::uint64_t flags);
    /// The panel's whole query after an edit: re-ranks the session's windows.
    void queryChanged(std::string_view text);
    /// The window store changed: refreshes the open session's list.
    void storeChanged();

    /// Fills the panel (and the mirrors, on all displays) with the session.
    void showPanel(const Session& session);
    /// Stops the timers and forgets the session; hides nothing.
    void endSession();

    /// The panel committed `window` (it has hidden itself).
    void panelCommitted(const WindowInfo& window);
    /// The panel was dismissed (it has hidden itself).
    void panelCancelled();
    /// Routes the panel's commit, cancel and query edits to this controller.
    void installPanelCallbacks();

    /// Follows the frontmost application, installs the panel callbacks and
    /// the modifier watcher, then applies the settings. Once.
    void start();
    /// Unregisters every hot key and gives the system ⌘Tab back; an open
    /// session stays (the process is about to end).
    void stop();
    /// Registers every enabled switcher's chords afresh; does nothing while a
    /// chord is recorded or the frontmost application is on the pause list.
    void applySettings();
    /// Ends any session and removes every hot key until `applySettings`.
    void pauseHotKeys();
    /// The frontmost application changed: pauses or resumes the hot keys as
    /// the pause list says.
    void frontmostChanged(const std::optional<std::string>& bundleID, const std::optional<std::string>& name);

    /// Records the window as most recently used, then has it focused on the
    /// work queue. A window the store no longer knows is left alone.
    void focus(const WindowInfo& window);
    /// One of the panels' item actions; the session and panel stay open.
    void perform(ItemAction action, const WindowInfo& window);

    /// The registered hot keys (activate and move-up chords alike).
    std::size_t hotKeyCount() const { return hotKeys_.size(); }
    /// Whether the frontmost application paused the hot keys.
    bool isPausedForFrontmostApp() const { return isPausedForFrontmostApp_; }

    /// The open session, if any.
    const std::optional<Session>& session() const { return session_; }
    /// Whether key repeat is armed.
    bool isRepeating() const { return repeatTimer_ != nullptr; }
    /// The mirror panels the controller owns.
    MirrorPanelsInterface& mirrors() { return *mirrors_; }

private:
    bool hasSessionOf(std::string_view configID) const;
    std::string sessionDescription() const;
    void setSelection(std::ptrdiff_t index);
    std::vector<WindowInfo> filtered(const std::vector<WindowInfo>& base, std::string_view query) const;
    void hideAll();
    void unregisterHotKeys();
    void takeOverCommandTab(bool replaces);
    void restoreCommandTab();
    bool registerChord(const SwitcherConfig& config, const KeyChord& chord, bool up);
    void pressed(const SwitcherConfig& config, std::uint32_t hotKeyID, bool up);
    void released(std::uint32_t hotKeyID);
    void commitIfReleasedBefore(const SwitcherConfig& config);

    RunLoop& runLoop_;
    WindowStore& store_;
    SwitcherPanelInterface& panel_;
    SettingsStore& settingsStore_;
    SwitcherEnvironment& environment_;
    Logger log_{"switcher"};
    std::unique_ptr<MirrorPanelsInterface> mirrors_;
    std::optional<Session> session_;
    std::shared_ptr<Timer> repeatTimer_;
    // Counts opened sessions, so a timer can tell its own session from a later
    // one of the same switcher.
    std::uint64_t sessionSerial_ = 0;
    std::vector<std::shared_ptr<HotKey>> hotKeys_;
    // The hot key whose key is down; a press job queued before its release
    // must not arm key repeat.
    std::optional<std::uint32_t> heldHotKey_;
    std::unique_ptr<ModifierWatcher> modifierWatcher_;
    // The modifiers last reported, and those released while no session was
    // open: a quick tap's chord press can reach us after its release.
    std::uint64_t lastFlags_ = 0;
    struct EarlyRelease {
        std::uint64_t modifiers = 0;
        TimePoint at;
    };
    std::optional<EarlyRelease> earlyRelease_;
    std::unique_ptr<Observation> activationObserver_;
    bool isPausedForFrontmostApp_ = false;
    bool commandTabUnavailableLogged_ = false;
    std::shared_ptr<SerialQueue> workQueue_;
    // Timers and callbacks hold this weakly; it dies with the controller.
    std::shared_ptr<SwitcherController*> alive_;
};

} // namespace vantrel
