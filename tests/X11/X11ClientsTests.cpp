// Reading the window manager's state and its clients' properties from a real
// openbox: batching, what hostile clients cannot do. How windows are classified
// is checked where the bridge lists them (BridgeOnX11).
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Properties.h"
#include "Support/X11Session.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vantrel::test {
namespace {

class X11ClientsTest : public X11ConnectionTest {
protected:

    std::optional<X11ClientInfo> read(xcb_window_t window)
    {
        const xcb_window_t ids[] = {window};
        auto reads = readClients(*connection, ids);
        return reads.at(0).info;
    }
};

TEST_F(X11ClientsTest, OneBatchReadsWhatEachWindowSaysAndWhichWindowsVanished)
{
    auto client = TestClient::start(session->display());
    ASSERT_TRUE(client);
    auto editor = client->open("editor", "class=editor,Editor desktop=0 title=Résumé – draft");
    auto tray = client->open("tray", "skip-taskbar=1 desktop=1 title=Tray");
    auto gone = client->open("gone", "title=gone");
    ASSERT_TRUE(editor && tray && gone);
    const std::vector<xcb_window_t> ids = {*editor, *tray, *gone};

    auto root = readRootState(*connection);
    ASSERT_TRUE(root);
    EXPECT_NE(root->supportingWM, 0u);
    EXPECT_EQ(root->numberOfDesktops, 4u);
    EXPECT_EQ(root->currentDesktop, 0u);
    for (auto id : ids)
        EXPECT_NE(std::find(root->clientsFrontFirst.begin(), root->clientsFrontFirst.end(), id), root->clientsFrontFirst.end());

    ASSERT_TRUE(client->command("destroy gone"));
    const auto trips = connection->roundTrips();
    auto reads = readClients(*connection, ids);
    EXPECT_EQ(connection->roundTrips() - trips, 1u);
    ASSERT_EQ(reads.size(), ids.size());
    for (std::size_t i = 0; i + 1 < ids.size(); ++i) {
        ASSERT_TRUE(reads[i].info.has_value()) << i;
        EXPECT_EQ(reads[i].info->id, ids[i]);
        EXPECT_FALSE(reads[i].vanished);
    }
    EXPECT_FALSE(reads.back().info.has_value());
    EXPECT_TRUE(reads.back().vanished);

    const auto& e = *reads[0].info;
    EXPECT_EQ(e.pid, client->pid());
    EXPECT_EQ(e.title, "Résumé – draft");
    EXPECT_EQ(e.instanceName, "editor");
    EXPECT_EQ(e.className, "Editor");
    EXPECT_TRUE(e.isStandard());
    EXPECT_EQ(e.desktop, 0u);
    EXPECT_EQ(e.width, 400u);
    EXPECT_EQ(e.height, 300u);
    // Dialogs, transients, utilities, windows on every desktop and owners
    // without _NET_WM_PID are classified as the bridge lists them (BridgeOnX11).
    EXPECT_TRUE(reads[1].info->skipTaskbar);
    EXPECT_EQ(reads[1].info->desktop, 1u);
    EXPECT_FALSE(reads[1].info->isStandard());
}

TEST_F(X11ClientsTest, LatinTitlesAndHostilePropertiesChangeNothingButWhatTheyShould)
{
    auto client = TestClient::start(session->display());
    ASSERT_TRUE(client);
    auto window = client->open("w", "desktop=2 title=plain");
    ASSERT_TRUE(window);
    const auto before = read(*window);
    ASSERT_TRUE(before);

    ASSERT_TRUE(client->command("wmname w caf\xc3\xa9 latin"));
    // WM_NAME is a STRING (ISO 8859-1): each of the two bytes is a character.
    EXPECT_EQ(read(*window)->title, "caf\xc3\x83\xc2\xa9 latin");

    ASSERT_TRUE(client->command("hostile w huge-title 1000000"));
    EXPECT_EQ(read(*window)->title, std::string(maxTitleBytes, 'x'));
    // A character the read limit cuts in two is left out, not replaced.
    ASSERT_TRUE(client->command("hostile w padded-title 4093 \xF0\x9F\x98\x80\xF0\x9F\x98\x80"));
    EXPECT_EQ(read(*window)->title, std::string(maxTitleBytes - 3, 'x'));

    ASSERT_TRUE(client->command("hostile w invalid-utf8"));
    // Stray bytes, an overlong, a surrogate and a sequence that ends too soon
    // become U+FFFD, one for each maximal ill-formed part.
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(read(*window)->title, "ab" + r + r + "c" + r + r + "d" + r + r + r + "e" + r);

    ASSERT_TRUE(client->command("title w plain"));
    ASSERT_TRUE(client->command("hostile w name-wrong-type"));
    EXPECT_EQ(read(*window)->title, "plain") << "a CARDINAL _NET_WM_NAME is ignored; WM_NAME remains";

    for (auto kind : {"desktop-wrong-type", "type-wrong-format", "pid-wrong-type", "class-no-nul"})
        ASSERT_TRUE(client->command(std::string("hostile w ") + kind));
    auto after = read(*window);
    ASSERT_TRUE(after);
    EXPECT_FALSE(after->desktop.has_value()) << "a STRING desktop is no desktop";
    EXPECT_EQ(after->type, X11WindowType::normal);
    EXPECT_EQ(after->pid, client->pid()) << "X-Resource still answers";
    EXPECT_EQ(after->instanceName.size(), 1024u) << "WM_CLASS is read only up to its bound";
    EXPECT_EQ(after->width, before->width);
    EXPECT_EQ(after->minimized, before->minimized);

    ASSERT_TRUE(client->command("hostile w state-wrong-type"));
    EXPECT_FALSE(read(*window)->minimized) << "HIDDEN in a CARDINAL list does not count";
}

TEST_F(X11ClientsTest, DesktopNamesCutByTheReadLimitEndAtTheirLastWholeCharacter)
{
    auto write = [&](const std::string& value) {
        xcb_change_property(connection->raw(), XCB_PROP_MODE_REPLACE, connection->root(),
                            connection->atom("_NET_DESKTOP_NAMES"), connection->atom("UTF8_STRING"), 8,
                            static_cast<std::uint32_t>(value.size()), value.data());
        return connection->sync();
    };
    std::string before;
    for (const auto& name : readRootState(*connection).value_or(X11RootState{}).desktopNames)
        before += name + '\0';
    std::shared_ptr<void> restore(nullptr, [&](void*) { write(before); });
    // Three long names and a fourth whose emoji the 16 KiB read cuts after three bytes.
    const std::string longName = std::string(5000, 'x') + '\0';
    ASSERT_TRUE(write(longName + longName + longName + std::string(1378, 'y') + "\xF0\x9F\x98\x80"));
    auto names = readRootState(*connection).value_or(X11RootState{}).desktopNames;
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], std::string(maxTitleBytes, 'x'));
    EXPECT_EQ(names[3], std::string(1378, 'y'));
}

} // namespace
} // namespace vantrel::test
