// XDG base directories for the current user.
#include "Runtime/Paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vantrel::Paths {

namespace {
std::filesystem::path fromEnvironment(const char* name, const std::filesystem::path& fallback)
{
    const char* value = std::getenv(name);
    if (value && *value) {
        std::filesystem::path path(value);
        if (path.is_absolute())
            return path;
    }
    return fallback;
}
} // namespace

std::filesystem::path home()
{
    if (const char* value = std::getenv("HOME"); value && *value)
        return value;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

std::filesystem::path configHome()
{
    return fromEnvironment("XDG_CONFIG_HOME", home() / ".config");
}

std::filesystem::path dataHome()
{
    return fromEnvironment("XDG_DATA_HOME", home() / ".local" / "share");
}

std::filesystem::path defaultsFile()
{
    return configHome() / "vantrel" / "defaults.json";
}

} // namespace vantrel::Paths
