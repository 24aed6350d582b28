// The chord recorder in a real settings window on a private Xvfb + openbox:
// keys typed with XTEST come through the keyboard grab, ahead of the hot key
// Vantrel holds and of the window manager's own.
#include "InputEngine/HotKey.h"
#include "Platform/X11/X11Input.h"
#include "SettingsUI/SettingsModel.h"
#include "SettingsUI/SettingsView.h"
#include "VantrelCore/SettingsStore.h"
#include "X11/X11TestSupport.h"

#include <QApplication>
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

class X11RecorderTest : public test::X11KeyboardTest {
protected:
    void SetUp() override
    {
        X11KeyboardTest::SetUp();
        if (!ready())
            return;
        static QApplication* app = [this] {
            qputenv("DISPLAY", QByteArray::fromStdString(session->display()));
            qputenv("QT_QPA_PLATFORM", "xcb");
            static int argc = 1;
            static char name[] = "test_settingsui_x11";
            static char* argv[] = {name, nullptr};
            return new QApplication(argc, argv);
        }();
        ASSERT_TRUE(app);
    }

    /// Runs Qt's events and the backend's jobs until `done` holds.
    bool pump(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s)
    {
        return test::pumpUntil(loop, [&] {
            QCoreApplication::processEvents();
            return done();
        }, timeout);
    }

};

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
