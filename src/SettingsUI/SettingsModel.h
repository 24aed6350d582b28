// The settings window's working copy of the settings, and what its panes ask
// of the rest of the process.
#pragma once

#include "SettingsUI/LaunchAtLogin.h"
#include "VantrelCore/Settings.h"
#include "VantrelCore/WindowInfo.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

class InputBackend;
class SettingsStore;

/// Edits `Settings` for the settings window. Every edit re-reads the store's
/// document first (another process may have changed it on disk), changes one
/// field of that fresh value and hands it whole to `SettingsStore::update`.
/// Main thread only; the store must outlive the model.
class SettingsModel {
public:
    struct Options {
        /// The windows the tracker reports now (the window store's list);
        /// unset offers no applications to add.
        std::function<std::vector<WindowInfo>()> windows;
        /// The autostart entry; unset: `LaunchAtLogin::forThisUser()`.
        std::optional<LaunchAtLogin> launchAtLogin;
        /// The keyboard asked about Fast Search; null: the process's backend.
        std::shared_ptr<InputBackend> input;
    };

    explicit SettingsModel(SettingsStore& store, Options options = {});

    /// The working copy, as the store had it after the last edit or refresh.
    const Settings& settings() const { return settings_; }
    /// Re-reads the store's document (the window calls this when it is shown).
    void refresh();
    /// Re-reads the store, lets `change` edit the fresh value and saves it.
    void edit(const std::function<void(Settings&)>& change);

    /// Whether a chord recorder records; set while any recorder does, and
    /// passed on to the store's `isRecordingChord`.
    void setRecording(bool recording);

    /// Whether the autostart entry starts this program.
    bool launchAtLogin() const { return launchAtLogin_; }
    /// Writes or removes the entry. On failure the flag returns to what the
    /// file says and `launchAtLoginError` holds the reason until the next try.
    void setLaunchAtLogin(bool enabled);
    const std::string& launchAtLoginError() const { return launchAtLoginError_; }

    /// What the "Add App…" menus offer: each application with windows now,
    /// by identifier or else by name, sorted case-insensitively for the
    /// user's locale. An application running twice is offered twice.
    std::vector<std::string> runningAppChoices() const;

    /// Fast Search's hold key can be watched on this keyboard.
    bool canHold(FastSearchModifier modifier) const;
    /// The keyboard can be watched at all.
    bool canWatchKeyboard() const;

    /// Called after the working copy or the launch-at-login state changed.
    std::function<void()> onChange;

private:
    std::shared_ptr<InputBackend> input() const;
    void changed();

    SettingsStore& store_;
    Options options_;
    LaunchAtLogin autostart_;
    Settings settings_;
    bool launchAtLogin_ = false;
    std::string launchAtLoginError_;
    int recorders_ = 0;
};

/// The applications of `windows` for the "Add App…" menus (see
/// `SettingsModel::runningAppChoices`).
std::vector<std::string> appChoices(const std::vector<WindowInfo>& windows);

} // namespace vantrel
