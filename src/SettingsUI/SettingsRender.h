// Pictures of the settings window for review without a desktop.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

class InputBackend;

/// What `renderSettingsPanes` wrote, and what it could not.
struct SettingsRenders {
    std::vector<std::filesystem::path> written;
    std::vector<std::string> failures;
};

/// Renders each of the seven panes, light and dark, over sample settings and
/// `input`'s keyboard (its hold keys decide the Fast Search captions), to
/// "settings-<pane>-<light|dark>.png" in `folder` (which must exist). Needs a
/// QApplication; its style and palette are restored afterwards. Touches no
/// user file.
SettingsRenders renderSettingsPanes(const std::filesystem::path& folder, std::shared_ptr<InputBackend> input);

} // namespace vantrel
