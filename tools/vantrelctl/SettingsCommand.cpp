// vantrelctl settings: prints the effective settings and checks hand-edited
// settings documents.
#include "Command.h"

#include "Runtime/FileRead.h"
#include "Runtime/Paths.h"
#include "Runtime/UserDefaults.h"
#include "VantrelCore/SettingsJSON.h"
#include "VantrelCore/SettingsStore.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>

namespace vantrelctl {

namespace {

using vantrel::Settings;

constexpr const char* usage =
    "usage: vantrelctl settings [--defaults-file PATH]\n"
    "       vantrelctl settings --decode FILE\n"
    "\n"
    "Without --decode, prints the settings Vantrel uses, as loaded from the user\n"
    "defaults file (default: ~/.config/vantrel/defaults.json), as JSON. Fails when\n"
    "the file exists but cannot be read (only a regular file of at most 16 MiB is\n"
    "read) or is not a JSON object; the file is never changed. A stored settings\n"
    "document that cannot be used is reported on standard error, and the defaults\n"
    "Vantrel falls back to are printed.\n"
    "\n"
    "With --decode, reads FILE as a raw settings document (the JSON kept under\n"
    "\"settings\") and prints the settings Vantrel would use for it. When it would\n"
    "fall back to the defaults, says which key is wrong and why on standard error\n"
    "and exits with status 1.\n";

bool print(const Settings& settings)
{
    auto text = vantrel::encodeSettingsText(settings, 2);
    if (!text) {
        std::cerr << "settings: the settings have no JSON form\n";
        return false;
    }
    std::cout << *text << "\n";
    return true;
}

int decodeDocument(const std::string& file)
{
    const auto contents = vantrel::readRegularFile(file);
    if (!contents.bytes) {
        std::cerr << "settings: cannot read " << file << ": " << contents.error << "\n";
        return 1;
    }
    auto decoded = vantrel::decodeSettingsText(*contents.bytes);
    if (!print(decoded.valueOr(Settings::defaults())))
        return 1;
    if (!decoded) {
        std::cerr << "settings: " << decoded.error().message() << "; using the defaults\n";
        return 1;
    }
    return 0;
}

int showEffective(const std::filesystem::path& path)
{
    // Checked here rather than through FileUserDefaults so that a broken
    // file is reported precisely and never moved aside by this command.
    if (const auto contents = vantrel::readRegularFile(path); !contents.missing) {
        if (!contents.bytes) {
            std::cerr << "settings: cannot read " << path.string() << ": " << contents.error << "\n";
            return 1;
        }
        nlohmann::json document = nlohmann::json::parse(*contents.bytes, nullptr, false);
        if (document.is_discarded()) {
            std::cerr << "settings: " << path.string() << " is not valid JSON\n";
            return 1;
        }
        if (!document.is_object()) {
            std::cerr << "settings: " << path.string() << " is not a JSON object\n";
            return 1;
        }
    }
    auto defaults = std::make_shared<vantrel::FileUserDefaults>(path);
    if (auto error = defaults->lastError(); !error.empty()) {
        std::cerr << "settings: " << error << "\n";
        return 1;
    }
    vantrel::SettingsStore store(defaults);
    if (auto stored = vantrel::SettingsStore::loadStored(*defaults); !stored)
        std::cerr << "settings: stored settings unusable: " << stored.error().message() << "; using the defaults\n";
    else if (defaults->object(vantrel::SettingsStore::key) && !defaults->data(vantrel::SettingsStore::key))
        std::cerr << "settings: the value under \"settings\" is not a settings document; using the defaults\n";
    return print(store.settings()) ? 0 : 1;
}

int run(Args args)
{
    std::vector<std::string> rest(args.begin(), args.end());
    auto decode = takeOption(rest, "--decode");
    auto defaultsFile = takeOption(rest, "--defaults-file");
    if (!rest.empty()) {
        std::cerr << "vantrelctl settings: unexpected argument '" << rest.front() << "'\n" << usage;
        return 2;
    }
    if (decode && defaultsFile) {
        std::cerr << "vantrelctl settings: --decode and --defaults-file exclude each other\n";
        return 2;
    }
    if (decode)
        return decodeDocument(*decode);
    return showEffective(defaultsFile ? std::filesystem::path(*defaultsFile) : vantrel::Paths::defaultsFile());
}

const Registration registration{{"settings", "print the effective settings or check a settings document", usage, run}};

} // namespace

} // namespace vantrelctl
