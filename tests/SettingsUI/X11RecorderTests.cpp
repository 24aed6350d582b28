// The chord recorder in a real settings window on a private Xvfb + openbox:
// keys typed with XTEST come through the keyboard grab, ahead of the hot key
// Vantrel holds and of the window manager's own.
#include "InputEngine/HotKey.h"
#include "Platform/X11/X11Input.h"
#include "SettingsUI/SettingsModel.h"
#include "SettingsUI/SettingsView.h"
#include "Support/QtOnX11.h"
#include "VantrelCore/SettingsStore.h"

#include <QTest>

// fontconfig keeps the configuration Qt parses, and libdbus a buffer of the
// session bus Qt opens under xcb; neither is ever freed.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

namespace vantrel {
namespace {

using namespace std::chrono_literals;

using X11RecorderTest = test::QtOnX11Test;

TEST_F(X11RecorderTest, SuperTabHeldAsAHotKeyAndAltTabHeldByTheWindowManagerAreRecorded)
{
    SettingsStore store(std::make_shared<MemoryUserDefaults>());
    SettingsModel::Options options;
    options.launchAtLogin = LaunchAtLogin("/nonexistent/vantrel.desktop", "vantrel");
    SettingsModel model(store, std::move(options));
    SettingsView view(model);
    view.selectTab(SettingsTexts::TabID::search);
    view.present();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    auto* recorder = view.findChild<RecorderControl*>("searchChord");
    ASSERT_TRUE(recorder);

    int fired = 0;
    auto hotKey = HotKey::make(HotKey::Chord{KeyChord::tab, KeyChord::command}, [&] { ++fired; });
    ASSERT_TRUE(hotKey);

    struct Typed {
        std::vector<std::string> keys;
        KeyChord chord;
    };
    for (const auto& [keys, chord] : {Typed{{"keydown", "super", "key", "Tab", "keyup", "super"}, {KeyChord::tab, KeyChord::command}},
                                      Typed{{"keydown", "alt", "key", "Tab", "keyup", "alt"}, {KeyChord::tab, KeyChord::option}}}) {
        QTest::mouseClick(recorder, Qt::LeftButton);
        ASSERT_TRUE(store.isRecordingChord());
        // Holding the keyboard takes X focus from the window; that must not end the recording.
        pump([] { return false; }, 300ms);
        ASSERT_TRUE(recorder->isRecording());
        ASSERT_TRUE(type(keys));
        EXPECT_TRUE(pump([&] { return !recorder->isRecording(); })) << keys[1];
        EXPECT_EQ(store.settings().searchChord, chord) << keys[1];
        EXPECT_FALSE(store.isRecordingChord());
    }
    EXPECT_EQ(fired, 0);
    // With the keyboard given back, the hot key fires again.
    ASSERT_TRUE(type({"keydown", "super", "key", "Tab", "keyup", "super"}));
    EXPECT_TRUE(pump([&] { return fired == 1; }));
}

} // namespace
} // namespace vantrel
