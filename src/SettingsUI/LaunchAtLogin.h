// Starting Vantrel when the user logs in: an XDG autostart desktop entry.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

/// The autostart entry `$XDG_CONFIG_HOME/autostart/vantrel.desktop`. Session
/// managers start every application entry in that folder at login unless it
/// says `Hidden=true` (XDG Autostart). The entry is on only when it exists,
/// is not hidden and its `Exec` runs `program`.
class LaunchAtLogin {
public:
    LaunchAtLogin(std::filesystem::path entry, std::filesystem::path program);

    /// The user's entry, starting the installed `vantrel` (see installedProgram).
    static LaunchAtLogin forThisUser();
    /// `vantrel` beside this process's executable, else the one the PATH
    /// finds, else the bare name (the session resolves it through the PATH).
    static std::filesystem::path installedProgram();

    /// Reads the entry: true when it would start `program` at login.
    bool isEnabled() const;
    /// Writes the entry atomically or removes it. An error text (one line)
    /// when the folder or file cannot be written or removed.
    std::optional<std::string> setEnabled(bool enabled) const;

    const std::filesystem::path& entry() const { return entry_; }
    const std::filesystem::path& program() const { return program_; }

    /// The desktop entry that starts `program`.
    static std::string entryText(const std::filesystem::path& program);
    /// The program an `Exec` value runs: its first argument, unquoted.
    static std::string execProgram(std::string_view exec);

private:
    std::filesystem::path entry_;
    std::filesystem::path program_;
};

} // namespace vantrel
