// The XDG autostart entry: written whole through a temporary file, read back
// with the desktop-entry quoting rules.
#include "SettingsUI/LaunchAtLogin.h"

#include "Runtime/AtomicFile.h"
#include "Runtime/FileRead.h"
#include "Runtime/Paths.h"

#include <cstdlib>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace vantrel {

namespace {
constexpr std::string_view programName = "vantrel";

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

/// Undoes the escapes of a string value (\s \n \t \r \\).
std::string unescapeValue(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        default: out += value[i]; break;
        }
    }
    return out;
}

/// An Exec argument: quoted when it holds a reserved character, with `"`,
/// backquote, `$` and `\` escaped inside the quotes; `%` doubled. The string
/// escape of backslashes is applied on top, as the rules require.
std::string quoteArgument(const std::string& argument)
{
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    const bool needsQuotes = argument.find_first_of(reserved) != std::string::npos;
    for (char c : argument) {
        if (c == '%')
            quoted += "%%";
        else if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\'))
            quoted += std::string("\\") + c;
        else
            quoted += c;
    }
    if (needsQuotes)
        quoted = "\"" + quoted + "\"";
    std::string escaped;
    for (char c : quoted)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return escaped;
}

/// The values of the [Desktop Entry] group.
std::optional<std::string> entryValue(const std::string& text, std::string_view wanted)
{
    std::istringstream lines(text);
    std::string line;
    bool inEntry = false;
    while (std::getline(lines, line)) {
        const std::string content = trimmed(line);
        if (content.empty() || content[0] == '#')
            continue;
        if (content[0] == '[') {
            inEntry = content == "[Desktop Entry]";
            continue;
        }
        const auto equals = content.find('=');
        if (!inEntry || equals == std::string::npos || trimmed(content.substr(0, equals)) != wanted)
            continue;
        return unescapeValue(trimmed(std::string_view(content).substr(equals + 1)));
    }
    return std::nullopt;
}
} // namespace

LaunchAtLogin::LaunchAtLogin(std::filesystem::path entry, std::filesystem::path program)
    : entry_(std::move(entry)), program_(std::move(program))
{
}

LaunchAtLogin LaunchAtLogin::forThisUser()
{
    return LaunchAtLogin(Paths::configHome() / "autostart" / "vantrel.desktop", installedProgram());
}

std::filesystem::path LaunchAtLogin::installedProgram()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto beside = self.parent_path() / programName;
        if (::access(beside.c_str(), X_OK) == 0)
            return beside;
    }
    if (const char* path = std::getenv("PATH")) {
        std::istringstream folders(path);
        std::string folder;
        while (std::getline(folders, folder, ':')) {
            const auto candidate = std::filesystem::path(folder) / programName;
            if (!folder.empty() && candidate.is_absolute() && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
    }
    return std::filesystem::path(programName);
}

std::string LaunchAtLogin::entryText(const std::filesystem::path& program)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vantrel\n"
           "Comment=Switch between windows from the keyboard\n"
           "Exec=" + quoteArgument(program.string()) + "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string LaunchAtLogin::execProgram(std::string_view exec)
{
    std::string program;
    std::size_t i = exec.find_first_not_of(" \t");
    if (i == std::string_view::npos)
        return program;
    if (exec[i] != '"') {
        const auto end = exec.find_first_of(" \t", i);
        program = std::string(exec.substr(i, end == std::string_view::npos ? end : end - i));
    } else {
        for (++i; i < exec.size() && exec[i] != '"'; ++i) {
            if (exec[i] == '\\' && i + 1 < exec.size())
                ++i;
            program += exec[i];
        }
    }
    std::string unpercented;
    for (std::size_t j = 0; j < program.size(); ++j) {
        unpercented += program[j];
        if (program[j] == '%' && j + 1 < program.size() && program[j + 1] == '%')
            ++j;
    }
    return unpercented;
}

bool LaunchAtLogin::isEnabled() const
{
    auto text = readRegularFile(entry_).bytes;
    if (!text)
        return false;
    if (entryValue(*text, "Hidden") == "true")
        return false;
    auto exec = entryValue(*text, "Exec");
    return exec && execProgram(*exec) == program_.string();
}

std::optional<std::string> LaunchAtLogin::setEnabled(bool enabled) const
{
    std::error_code error;
    if (enabled) {
        // Said here rather than by the atomic write, which names its temporary file.
        std::filesystem::create_directories(entry_.parent_path(), error);
        if (error)
            return "Cannot create " + entry_.parent_path().string() + ": " + error.message();
        return writeFileAtomically(entry_, entryText(program_));
    }
    std::filesystem::remove(entry_, error);
    if (error)
        return "Cannot remove " + entry_.string() + ": " + error.message();
    return std::nullopt;
}

} // namespace vantrel
