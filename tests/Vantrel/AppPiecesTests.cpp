// The application's own pieces on their own: the tray menu's actions, the instance socket, the updater dialog.
#include "Commerce/Updater.h"
#include "Vantrel/AppIcons.h"
#include "Vantrel/AppMenu.h"
#include "Vantrel/SingleInstance.h"
#include "Vantrel/TrayIcon.h"

#include "Support/QtTestApplication.h"
#include "Support/ScratchFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <filesystem>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantrel {
namespace {

using test::ensureQtApplication;

/// Runs `work` on another thread while the Qt loop serves this one.
template <class T>
T whileServing(std::function<T()> work)
{
    auto result = std::async(std::launch::async, std::move(work));
    QElapsedTimer timer;
    timer.start();
    while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready && timer.elapsed() < 5000)
        QCoreApplication::processEvents();
    return result.get();
}

TEST(TrayIconTest, aWarningChangesTheIconAndItsEndRestoresIt)
{
    ensureQtApplication();
    auto image = [](const QIcon& icon) { return icon.pixmap(22).toImage(); };
    TrayIcon tray;
    ASSERT_NE(image(AppIcons::icon(true)), image(AppIcons::icon(false)));
    tray.setWarning(true);
    EXPECT_EQ(image(tray.icon()), image(AppIcons::icon(true)));
    tray.setWarning(false);
    EXPECT_EQ(image(tray.icon()), image(AppIcons::icon(false)));
}

TEST(TrayMenu, rowsBecomeActionsWithTheirEnabledStatesAndShortcuts)
{
    ensureQtApplication();
    TrayIcon tray;
    MenuState state;
    state.version = "0.1";
    state.desktopReady = true;
    state.secureInputCulprit = 42;
    state.culpritName = "KeePassXC";
    tray.setMenu(buildMenu(state));

    std::vector<std::string> rows;
    for (QAction* action : tray.menu().actions()) {
        if (action->isSeparator()) {
            rows.push_back("---");
            continue;
        }
        std::string row = action->text().toStdString();
        if (!action->isEnabled())
            row += " (disabled)";
        if (!action->shortcut().isEmpty())
            row += " [" + action->shortcut().toString(QKeySequence::PortableText).toStdString() + "]";
        rows.push_back(row);
    }
    EXPECT_THAT(rows, ::testing::ElementsAre("Vantrel 0.1 (disabled)", "---", "⚠️ Secure Input is on in KeePassXC (disabled)",
                                             "Fast Search is unavailable; ⌃Space search still works (disabled)",
                                             "Quit KeePassXC", "---", "Check for Updates…", "Settings… [Ctrl+,]", "---",
                                             "Quit Vantrel [Ctrl+Q]"));

    std::vector<MenuAction> chosen;
    tray.onAction = [&](MenuAction action) { chosen.push_back(action); };
    tray.menu().actions().back()->trigger();
    // Delivered from the event loop, so a handler may rebuild the menu.
    EXPECT_TRUE(chosen.empty());
    QCoreApplication::processEvents();
    EXPECT_THAT(chosen, ::testing::ElementsAre(MenuAction::quit));
}

class InstanceSocket : public ::testing::Test {
protected:
    void SetUp() override { ensureQtApplication(); }

    const test::ScratchFolder scratch;
    const std::filesystem::path path = instanceSocketPath(":5.0", scratch.path.c_str());
};

TEST_F(InstanceSocket, isNamedPerDisplayUnderTheRuntimeFolder)
{
    EXPECT_EQ(path, scratch.path / "vantrel-:5.socket") << "screen 0 of display 5 is display 5";
    EXPECT_EQ(instanceSocketPath("host/x:1", scratch.path.c_str()), scratch.path / "vantrel-host_x:1.socket");
    EXPECT_NE(instanceSocketPath(":0", "relative/dir").parent_path(), std::filesystem::path("relative/dir"));
}

// Requests reaching the running instance are the end-to-end tests' own.
TEST_F(InstanceSocket, aSecondServerOnTheSameDisplayStepsBack)
{
    EXPECT_FALSE(sendToRunningInstance(path, InstanceRequest::settings)) << "nobody listens yet";
    InstanceServer server;
    std::string error;
    ASSERT_TRUE(server.listen(path, &error)) << error;
    InstanceServer second;
    EXPECT_FALSE(whileServing<bool>([&] { return second.listen(path, &error); }));
}

TEST_F(InstanceSocket, aSocketLeftByACrashIsTakenOver)
{
    // A bound socket file that nobody accepts on any more.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    InstanceServer server;
    std::string error;
    EXPECT_TRUE(server.listen(path, &error)) << error;
    bool asked = false;
    server.onRequest = [&](InstanceRequest) { asked = true; };
    EXPECT_TRUE(whileServing<bool>([&] { return sendToRunningInstance(path, InstanceRequest::settings); }));
    EXPECT_TRUE(asked);
}

TEST(UpdaterDialog, namesTheVersionAndThePackageManagerAndIsReused)
{
    ensureQtApplication();
    Updater updater("0.1");
    updater.checkForUpdates();
    auto* dialog = updater.dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->text().toStdString(), "Vantrel 0.1");
    EXPECT_EQ(dialog->informativeText().toStdString(), Updater::packageManagerSentence);
    dialog->close();
    updater.checkForUpdates();
    EXPECT_EQ(updater.dialog(), dialog);
    EXPECT_TRUE(dialog->isVisible());
}

} // namespace
} // namespace vantrel
