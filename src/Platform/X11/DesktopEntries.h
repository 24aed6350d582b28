// Application names and identifiers from the freedesktop `.desktop` entries.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// What a `.desktop` entry says about one application.
struct DesktopEntry {
    /// The desktop file id without ".desktop" ("org.gnome.Terminal").
    std::string id;
    /// `Name` of the [Desktop Entry] group.
    std::string name;
    /// `StartupWMClass`, empty when absent.
    std::string startupWMClass;
    bool operator==(const DesktopEntry&) const = default;
};

/// The entries of the XDG application directories, indexed for lookup by
/// window class. Built once; lookups are const and thread-safe.
class DesktopEntries {
public:
    /// Reads `<dir>/applications` for each of `dataDirs`, earlier ones winning
    /// for the same file id (the XDG rule).
    explicit DesktopEntries(const std::vector<std::filesystem::path>& dataDirs);

    /// $XDG_DATA_HOME (default ~/.local/share), then $XDG_DATA_DIRS (default
    /// /usr/local/share:/usr/share).
    static std::vector<std::filesystem::path> defaultDataDirs();

    /// The entry for a window's `WM_CLASS`: first by `StartupWMClass` equal to
    /// the class or instance name, then by a file id equal to either (case-
    /// insensitive, also the last dot-separated part of a reverse-domain id).
    std::optional<DesktopEntry> match(std::string_view instanceName, std::string_view className) const;

    /// Parses one entry's text; absent when it is not an application entry.
    /// The id and the texts come back as well-formed UTF-8.
    static std::optional<DesktopEntry> parse(std::string_view id, std::string_view text);

private:
    std::map<std::string, DesktopEntry> byWMClass_;
    std::map<std::string, DesktopEntry> byId_;
};

} // namespace vantrel
