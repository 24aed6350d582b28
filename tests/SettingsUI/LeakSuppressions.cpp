// The QApplication of the settings window tests, on Qt's offscreen platform.
#include "SettingsUITestSupport.h"

// fontconfig keeps a cache it never frees; Qt loads it once per process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace vantrel::test {

QApplication& offscreenApp()
{
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_settingsui";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

} // namespace vantrel::test
