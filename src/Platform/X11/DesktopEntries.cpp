// Application names and identifiers from the freedesktop `.desktop` entries.
#include "Platform/X11/DesktopEntries.h"

#include "Runtime/FileRead.h"
#include "Runtime/Utf8Repair.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace vantrel {

namespace {
std::string lower(std::string_view text)
{
    std::string result(text);
    for (auto& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::vector<std::filesystem::path> split(const char* value, const char* fallback)
{
    std::string text = value && *value ? value : fallback;
    std::vector<std::filesystem::path> result;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ':'))
        if (!part.empty())
            result.emplace_back(part);
    return result;
}

/// Entry files larger than this are not application entries we trust.
constexpr std::size_t maxEntryBytes = 256 * 1024;
} // namespace

std::vector<std::filesystem::path> DesktopEntries::defaultDataDirs()
{
    std::vector<std::filesystem::path> dirs;
    if (const char* home = std::getenv("XDG_DATA_HOME"); home && *home)
        dirs.emplace_back(home);
    else if (const char* user = std::getenv("HOME"); user && *user)
        dirs.push_back(std::filesystem::path(user) / ".local/share");
    for (auto& dir : split(std::getenv("XDG_DATA_DIRS"), "/usr/local/share:/usr/share"))
        dirs.push_back(std::move(dir));
    return dirs;
}

std::optional<DesktopEntry> DesktopEntries::parse(std::string_view id, std::string_view text)
{
    // File names and entries are whatever bytes their authors wrote; what we
    // hand on is well-formed UTF-8.
    DesktopEntry entry;
    entry.id = repairedUtf8(id);
    bool inMain = false, application = false, hidden = false;
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        if (!inMain)
            continue;
        auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        auto key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        auto value = line.substr(eq + 1);
        while (!value.empty() && value.front() == ' ')
            value.erase(0, 1);
        if (key == "Type")
            application = value == "Application";
        else if (key == "Name")
            entry.name = repairedUtf8(value);
        else if (key == "StartupWMClass")
            entry.startupWMClass = repairedUtf8(value);
        else if (key == "Hidden")
            hidden = value == "true";
    }
    if (!application || hidden || entry.name.empty())
        return std::nullopt;
    return entry;
}

DesktopEntries::DesktopEntries(const std::vector<std::filesystem::path>& dataDirs)
{
    std::error_code error;
    for (const auto& dir : dataDirs) {
        const auto applications = dir / "applications";
        if (!std::filesystem::is_directory(applications, error))
            continue;
        for (auto it = std::filesystem::recursive_directory_iterator(applications, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            const auto& path = it->path();
            if (path.extension() != ".desktop")
                continue;
            // The desktop file id: the relative path with '/' turned into '-'.
            auto relative = std::filesystem::relative(path, applications, error).replace_extension().string();
            std::replace(relative.begin(), relative.end(), '/', '-');
            if (byId_.count(lower(relative)))
                continue;
            const auto text = readRegularFile(path, maxEntryBytes);
            if (!text.bytes)
                continue;
            auto entry = parse(relative, *text.bytes);
            if (!entry)
                continue;
            byId_.emplace(lower(relative), *entry);
            if (!entry->startupWMClass.empty())
                byWMClass_.emplace(lower(entry->startupWMClass), *entry);
        }
    }
}

std::optional<DesktopEntry> DesktopEntries::match(std::string_view instanceName, std::string_view className) const
{
    for (auto key : {className, instanceName}) {
        if (key.empty())
            continue;
        if (auto it = byWMClass_.find(lower(key)); it != byWMClass_.end())
            return it->second;
    }
    for (auto key : {className, instanceName}) {
        if (key.empty())
            continue;
        if (auto it = byId_.find(lower(key)); it != byId_.end())
            return it->second;
    }
    // Reverse-domain ids ("org.gnome.Nautilus") match their last part.
    for (auto key : {className, instanceName}) {
        if (key.empty())
            continue;
        const auto wanted = lower(key);
        for (const auto& [id, entry] : byId_) {
            auto dot = id.rfind('.');
            if (dot != std::string::npos && id.substr(dot + 1) == wanted)
                return entry;
        }
    }
    return std::nullopt;
}

} // namespace vantrel
