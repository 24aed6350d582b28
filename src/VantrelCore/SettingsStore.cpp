// Loading, saving and change notification of the live settings.
#include "VantrelCore/SettingsStore.h"

#include <utility>

namespace vantrel {

SettingsStore::SettingsStore(std::shared_ptr<UserDefaults> defaults)
    : defaults_(std::move(defaults))
{
    if (defaults_)
        settings_ = loadStored(*defaults_).valueOr(Settings::defaults());
}

Expected<Settings, DecodeError> SettingsStore::loadStored(const UserDefaults& defaults)
{
    auto blob = defaults.data(key);
    if (!blob)
        return Settings::defaults();
    return decodeSettingsText(*blob);
}

void SettingsStore::reload()
{
    if (!defaults_)
        return;
    defaults_->reload();
    auto stored = loadStored(*defaults_);
    if (!stored || stored.value() == settings_)
        return;
    settings_ = std::move(stored).value();
    notifyChange();
}

void SettingsStore::update(const std::function<void(Settings&)>& body)
{
    Settings changed = settings_;
    body(changed);
    if (changed == settings_)
        return;
    settings_ = std::move(changed);
    if (defaults_) {
        if (auto text = encodeSettingsText(settings_))
            defaults_->setData(key, *text);
    }
    notifyChange();
}

void SettingsStore::notifyChange()
{
    if (onChange) {
        // Copies, so a listener may replace the callback or update again.
        auto callback = onChange;
        Settings current = settings_;
        callback(current);
    }
}

void SettingsStore::setRecordingChord(bool recording)
{
    if (recording == isRecordingChord_)
        return;
    isRecordingChord_ = recording;
    if (onRecordingChange) {
        auto callback = onRecordingChange;
        callback(recording);
    }
}

} // namespace vantrel
