// Per-user locations (XDG base directories).
#pragma once

#include <filesystem>

namespace vantrel::Paths {

/// $XDG_CONFIG_HOME, else ~/.config (an unset or relative value is ignored, as
/// the XDG rules say).
std::filesystem::path configHome();
/// $XDG_DATA_HOME, else ~/.local/share. Stands in for Application Support.
std::filesystem::path dataHome();
/// configHome()/vantrel/defaults.json
std::filesystem::path defaultsFile();
/// The user's home: $HOME, else the password database.
std::filesystem::path home();

} // namespace vantrel::Paths
