// Launch at login: the XDG autostart entry written, read back and removed, and
// the toggle showing the file's real state, also after a failure.
#include "SettingsUITestSupport.h"

#include "Platform/X11/DesktopEntries.h"
#include "Runtime/AtomicFile.h"
#include "Runtime/FileRead.h"

#include <QCheckBox>
#include <QLabel>
#include <QTest>

namespace vantrel {
namespace {

struct LaunchAtLoginTest : test::SettingsFixture {
    std::filesystem::path entry() const { return folder.path / "autostart" / "vantrel.desktop"; }
    QCheckBox* toggle() { return find<QCheckBox>("launchAtLogin"); }
    void clickToggle()
    {
        view->selectTab(SettingsTexts::TabID::general);
        QTest::mouseClick(toggle(), Qt::LeftButton, {}, QPoint(4, 4));
    }
};

TEST_F(LaunchAtLoginTest, TogglingWritesADesktopEntryThatStartsTheProgramAndRemovesIt)
{
    open();
    clickToggle();
    auto text = readRegularFile(entry()).bytes;
    ASSERT_TRUE(text);
    EXPECT_EQ(DesktopEntries::parse("vantrel", *text).value_or(DesktopEntry{}).name, "Vantrel"); // none when hidden
    EXPECT_NE(text->find("\nExec=/opt/vantrel/bin/vantrel\n"), std::string::npos) << *text;
    EXPECT_FALSE(find<QLabel>("launchAtLoginError")->isVisible());
    clickToggle();
    EXPECT_FALSE(std::filesystem::exists(entry()));
    EXPECT_EQ(changes, 0); // not a setting

    // Programs in awkward places are quoted and read back.
    for (const char* program : {"/opt/my apps/vantrel", "/opt/100%/van\"trel", "/opt/a\\b/vantrel"}) {
        LaunchAtLogin awkward(entry(), program);
        ASSERT_FALSE(awkward.setEnabled(true)) << program;
        EXPECT_TRUE(awkward.isEnabled()) << program << "\n" << *readRegularFile(entry()).bytes;
    }
}

TEST_F(LaunchAtLoginTest, AFolderThatCannotBeWrittenLeavesTheToggleOffAndSaysWhyInOneLine)
{
    // A file where the folder should be fails for root too.
    ASSERT_FALSE(writeFileAtomically(folder.path / "autostart", "not a folder"));
    open();
    clickToggle();
    EXPECT_FALSE(toggle()->isChecked());
    auto* reason = find<QLabel>("launchAtLoginError");
    EXPECT_TRUE(reason->isVisible());
    EXPECT_NE(reason->text().indexOf("autostart"), -1) << reason->text().toStdString();
    EXPECT_EQ(reason->text().indexOf('\n'), -1);
    EXPECT_FALSE(reason->wordWrap());
}

TEST_F(LaunchAtLoginTest, OpeningShowsWhatTheFileSays)
{
    const std::string ours = LaunchAtLogin::entryText("/opt/vantrel/bin/vantrel");
    for (const auto& [text, on] : std::initializer_list<std::pair<std::string, bool>>{
             {ours, true}, {ours + "Hidden=true\n", false}, {LaunchAtLogin::entryText("/usr/bin/other"), false},
             {"[Other Group]\nExec=/opt/vantrel/bin/vantrel\n", false}}) {
        ASSERT_FALSE(writeFileAtomically(entry(), text));
        view.reset();
        open();
        EXPECT_EQ(toggle()->isChecked(), on) << text;
    }
}

} // namespace
} // namespace vantrel
