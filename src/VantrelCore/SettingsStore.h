// The one live Settings value: loaded at start, saved after every change.
#pragma once

#include "VantrelCore/Expected.h"
#include "VantrelCore/Settings.h"
#include "VantrelCore/SettingsJSON.h"

#include "Runtime/UserDefaults.h"

#include <functional>
#include <memory>
#include <string_view>

namespace vantrel {

/// Owns the current settings and the transient "recording a chord" flag.
/// Main thread only.
class SettingsStore {
public:
    /// The user-defaults key of the settings document.
    static constexpr std::string_view key = "settings";

    /// Loads the stored document; nothing stored or an invalid document gives
    /// the defaults, silently, and leaves the stored blob untouched.
    explicit SettingsStore(std::shared_ptr<UserDefaults> defaults);

    /// The stored settings, the defaults when nothing is stored, or why the
    /// stored document is unusable (the store then uses the defaults).
    static Expected<Settings, DecodeError> loadStored(const UserDefaults& defaults);

    /// The current settings.
    const Settings& settings() const { return settings_; }

    /// Lets `body` change a copy; when the copy differs it becomes current, is
    /// saved and reported to onChange. An unencodable value stays current in
    /// memory without being saved.
    void update(const std::function<void(Settings&)>& body);

    /// Reads the stored document again, for when another process may have
    /// changed it: a different value becomes current and is reported to
    /// onChange. An unusable document changes nothing here; the next
    /// effective update replaces it.
    void reload();

    /// True while a chord recorder is capturing keys. Not saved.
    bool isRecordingChord() const { return isRecordingChord_; }
    /// Calls onRecordingChange only when the value changes.
    void setRecordingChord(bool recording);

    /// Called after each effective update with the new settings.
    std::function<void(const Settings&)> onChange;
    /// Called when isRecordingChord changes.
    std::function<void(bool)> onRecordingChange;

private:
    void notifyChange();

    Settings settings_;
    bool isRecordingChord_ = false;
    std::shared_ptr<UserDefaults> defaults_;
};

} // namespace vantrel
