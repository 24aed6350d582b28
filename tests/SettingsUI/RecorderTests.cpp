// The chord recorder: keys come through the input backend's grab, the store
// knows while it records, and only a non-modifier key ends a recording.
#include "SettingsUITestSupport.h"
#include "VantrelCore/KeyCodes.h"

#include <QLineEdit>
#include <QTest>

namespace vantrel {
namespace {

using ModifierFlags::capsLock, ModifierFlags::command, ModifierFlags::control, ModifierFlags::option, ModifierFlags::shift;

struct RecorderTest : test::SettingsFixture {
    std::vector<bool> recording;
    RecorderControl* searchChord = nullptr;

    void SetUp() override
    {
        SettingsFixture::SetUp();
        open();
        view->selectTab(SettingsTexts::TabID::search);
        store->onRecordingChange = [this](bool on) { recording.push_back(on); };
        searchChord = find<RecorderControl>("searchChord");
    }
    void click(RecorderControl* control) { QTest::mouseClick(control, Qt::LeftButton); }
};

TEST_F(RecorderTest, RecordsChordsHeldByHotKeysAndTheKeyLeftOfOneWhileTheStoreKnows)
{
    int fired = 0;
    input->setHotKeySink([&](std::uint32_t, HotKeyPhase) { ++fired; });
    ASSERT_TRUE(input->registerHotKey(7, KeyChord::tab, control | option));

    click(searchChord);
    EXPECT_EQ(searchChord->text(), "Press keys…");
    input->keyDown(KeyChord::tab, control | option | capsLock);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(store->settings().searchChord, (KeyChord{KeyChord::tab, control | option}));
    EXPECT_EQ(searchChord->text(), "Ctrl+Alt+Tab");
    EXPECT_EQ(recording, (std::vector<bool>{true, false}));
    // The grab is gone: the hot key fires again.
    input->keyDown(KeyChord::tab, control | option);
    EXPECT_EQ(fired, 1);

    for (std::uint16_t leftOfOne : {50, 10}) {
        click(searchChord);
        input->keyDown(leftOfOne, command | shift);
        EXPECT_EQ(store->settings().searchChord, (KeyChord{KeyChord::keyAboveTab, command | shift})) << leftOfOne;
    }
    EXPECT_EQ(changes, 2); // the second sentinel was no change
}

TEST_F(RecorderTest, DeleteClearsOnlyWhenAllowedEscapeClickAndFocusLossKeepTheChordModifiersAloneWait)
{
    const KeyChord before = *store->settings().searchChord;
    // A modifier alone records nothing and recording goes on.
    click(searchChord);
    input->flagsChanged(55, command);
    input->keyUp(0, command);
    EXPECT_TRUE(searchChord->isRecording());
    // Escape, a second click, and focus moving elsewhere all keep the chord.
    input->keyDown(53, command);
    EXPECT_FALSE(searchChord->isRecording());
    click(searchChord);
    click(searchChord);
    EXPECT_FALSE(searchChord->isRecording());
    click(searchChord);
    find<QWidget>("allowOneMismatch")->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(searchChord->isRecording());
    EXPECT_EQ(store->settings().searchChord, before);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(recording, (std::vector<bool>{true, false, true, false, true, false}));

    // Delete with a modifier is a chord; alone it clears.
    click(searchChord);
    input->keyDown(RecorderControl::deleteKey, shift);
    EXPECT_EQ(store->settings().searchChord, (KeyChord{51, shift}));
    click(searchChord);
    input->keyDown(RecorderControl::deleteKey, capsLock);
    EXPECT_EQ(store->settings().searchChord, std::nullopt);
    EXPECT_EQ(searchChord->text(), "None");

    // Where empty is not allowed, Delete is recorded like any key.
    searchChord->allowsEmpty = false;
    click(searchChord);
    input->keyDown(RecorderControl::deleteKey, 0);
    EXPECT_EQ(store->settings().searchChord, (KeyChord{51, 0}));
    EXPECT_EQ(searchChord->text(), "Backspace");
}

TEST_F(RecorderTest, KeyboardCanStartAndAKeyboardHeldElsewhereStopsAtOnce)
{
    QTest::keyClick(searchChord, Qt::Key_Space);
    input->keyDown(49, control | shift);
    EXPECT_EQ(store->settings().searchChord, (KeyChord{49, control | shift}));

    // Another program holds the keyboard: the recorder cannot start.
    auto other = input->grabKeyboard([](const KeyEvent&) {});
    click(searchChord);
    EXPECT_FALSE(searchChord->isRecording());
    EXPECT_FALSE(store->isRecordingChord());
}

} // namespace
} // namespace vantrel
