// The settings window's working copy: re-read, changed field by field, saved whole.
#include "SettingsUI/SettingsModel.h"

#include "InputEngine/InputBackend.h"
#include "VantrelCore/SettingsStore.h"

#include <QCollator>
#include <QString>

#include <algorithm>
#include <set>

namespace vantrel {

SettingsModel::SettingsModel(SettingsStore& store, Options options)
    : store_(store),
      options_(std::move(options)),
      autostart_(options_.launchAtLogin ? *options_.launchAtLogin : LaunchAtLogin::forThisUser()),
      settings_(store.settings()),
      launchAtLogin_(autostart_.isEnabled())
{
}

void SettingsModel::refresh()
{
    store_.reload();
    const bool autostart = autostart_.isEnabled();
    if (store_.settings() == settings_ && autostart == launchAtLogin_)
        return;
    settings_ = store_.settings();
    launchAtLogin_ = autostart;
    changed();
}

void SettingsModel::edit(const std::function<void(Settings&)>& change)
{
    store_.reload();
    store_.update(change);
    settings_ = store_.settings();
    changed();
}

void SettingsModel::setRecording(bool recording)
{
    recorders_ = std::max(0, recorders_ + (recording ? 1 : -1));
    store_.setRecordingChord(recorders_ > 0);
}

void SettingsModel::setLaunchAtLogin(bool enabled)
{
    auto failure = autostart_.setEnabled(enabled);
    launchAtLoginError_ = failure.value_or("");
    launchAtLogin_ = autostart_.isEnabled();
    changed();
}

std::vector<std::string> SettingsModel::runningAppChoices() const
{
    return options_.windows ? appChoices(options_.windows()) : std::vector<std::string>{};
}

std::shared_ptr<InputBackend> SettingsModel::input() const
{
    return options_.input ? options_.input : currentInputBackend();
}

bool SettingsModel::canHold(FastSearchModifier modifier) const
{
    auto backend = input();
    return backend && backend->canHold(modifier);
}

bool SettingsModel::canWatchKeyboard() const
{
    auto backend = input();
    return backend && backend->hasInputMonitoring();
}

void SettingsModel::changed()
{
    if (onChange) {
        auto callback = onChange;
        callback();
    }
}

std::vector<std::string> appChoices(const std::vector<WindowInfo>& windows)
{
    // One entry per running application (process), not per window.
    std::set<ProcessID> seen;
    std::vector<std::string> choices;
    for (const WindowInfo& window : windows) {
        if (!seen.insert(window.pid).second)
            continue;
        if (window.bundleID && !window.bundleID->empty())
            choices.push_back(*window.bundleID);
        else if (!window.appName.empty())
            choices.push_back(window.appName);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(choices.begin(), choices.end(), [&](const std::string& a, const std::string& b) {
        return collator.compare(QString::fromStdString(a), QString::fromStdString(b)) < 0;
    });
    return choices;
}

} // namespace vantrel
