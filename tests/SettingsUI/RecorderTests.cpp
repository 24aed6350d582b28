// The chord recorder: keys come through the input backend's grab, the store
// knows while it records, and only a non-modifier key ends a recording.
#include "SettingsUITestSupport.h"
#include "VantrelCore/KeyCodes.h"

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
    // A recording still going ends as the window goes, after `recording` is gone.
    void TearDown() override { store->onRecordingChange = nullptr; }
    void click() { QTest::mouseClick(searchChord, Qt::LeftButton); }
};

TEST_F(RecorderTest, AChordIsRecordedWhileTheStoreKnowsAndHotKeysAreHeldOff)
{
    int fired = 0;
    input->setHotKeySink([&](std::uint32_t, HotKeyPhase) { ++fired; });
    ASSERT_TRUE(input->registerHotKey(7, KeyChord::tab, control | option));

    click();
    EXPECT_EQ(searchChord->text(), "Press keys…");
    input->keyDown(KeyChord::tab, control | option | capsLock);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(store->settings().searchChord, (KeyChord{KeyChord::tab, control | option}));
    EXPECT_EQ(searchChord->text(), "Ctrl+Alt+Tab");
    EXPECT_EQ(recording, (std::vector<bool>{true, false}));
    input->keyDown(KeyChord::tab, control | option);
    EXPECT_EQ(fired, 1) << "the grab is gone: the hot key fires again";
}

TEST_F(RecorderTest, AModifierAloneRecordsNothingAndWaits)
{
    click();
    input->flagsChanged(55, command);
    input->keyUp(0, command);
    EXPECT_TRUE(searchChord->isRecording());
}

TEST_F(RecorderTest, EscapeASecondClickOrLosingFocusStopsAndKeepsTheChord)
{
    click();
    input->keyDown(53, command);
    click();
    click();
    click();
    find<QWidget>("allowOneMismatch")->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(recording, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST_F(RecorderTest, DeleteAloneClearsWhereEmptyIsAllowedAndIsAKeyOtherwise)
{
    click();
    input->keyDown(RecorderControl::deleteKey, shift);
    EXPECT_EQ(store->settings().searchChord, (KeyChord{51, shift}));
    click();
    input->keyDown(RecorderControl::deleteKey, capsLock);
    EXPECT_EQ(store->settings().searchChord, std::nullopt);
    EXPECT_EQ(searchChord->text(), "None");
    searchChord->allowsEmpty = false;
    click();
    input->keyDown(RecorderControl::deleteKey, 0);
    EXPECT_EQ(store->settings().searchChord, (KeyChord{51, 0}));
    EXPECT_EQ(searchChord->text(), "Backspace");
}

TEST_F(RecorderTest, SpaceStartsARecording)
{
    QTest::keyClick(searchChord, Qt::Key_Space);
    input->keyDown(10, control | shift);
    EXPECT_EQ(store->settings().searchChord, (KeyChord{KeyChord::keyAboveTab, control | shift})) << "the key left of 1";
}

TEST_F(RecorderTest, AKeyboardHeldElsewhereStopsARecordingAtOnce)
{
    auto other = input->grabKeyboard([](const KeyEvent&) {});
    click();
    EXPECT_FALSE(store->isRecordingChord());
}

} // namespace
} // namespace vantrel
