// For bench/reliability.sh files: writes the settings and the learned
// shortcuts in a loop, each write through the code vantrel uses, until it is
// killed. usage: crash_writer DEFAULTS_FILE SHORTCUTS_FILE
#include "SearchKit/LearnedShortcuts.h"
#include "Runtime/UserDefaults.h"
#include "VantrelCore/SettingsStore.h"

#include <cstdio>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: crash_writer DEFAULTS_FILE SHORTCUTS_FILE\n");
        return 2;
    }
    using namespace vantrel;
    SettingsStore settings(std::make_shared<FileUserDefaults>(argv[1]));
    LearnedShortcuts shortcuts = LearnedShortcuts::load(argv[2]);
    for (long i = 0;; ++i) {
        settings.update([&](Settings& s) {
            s.showDelayMilliseconds = static_cast<int>(i % 1000);
            s.rules.pauseApps.assign(static_cast<std::size_t>(i % 50), "org.example.app-" + std::to_string(i));
        });
        shortcuts.record(std::string(1, static_cast<char>('a' + i % 26)), "target " + std::to_string(i),
                         LearnedShortcuts::Date::now());
        if (auto error = shortcuts.save(argv[2])) {
            std::fprintf(stderr, "crash_writer: %s\n", error->c_str());
            return 1;
        }
    }
}
