// Reading the window manager's state and its clients' properties from a real
// openbox: what each window says, what hostile clients cannot do, batching.
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Properties.h"
#include "Support/X11Session.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vantrel::test {
namespace {

class X11ClientsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VANTREL_REQUIRE_X11_SESSION(x11);
        session = x11;
        connection = X11Connection::open(loop, x11->display());
        ASSERT_NE(connection, nullptr);
    }

    std::optional<X11ClientInfo> read(xcb_window_t window)
    {
        const xcb_window_t ids[] = {window};
        auto reads = readClients(*connection, ids);
        return reads.at(0).info;
    }

    X11Session* session = nullptr;
    ManualRunLoop loop;
    std::shared_ptr<X11Connection> connection;
};

TEST_F(X11ClientsTest, ListsTheWindowsOfTwoProcessesWithPidsTitlesTypesAndDesktops)
{
    auto first = TestClient::start(session->display());
    auto second = TestClient::start(session->display());
    ASSERT_TRUE(first && second);
    auto editor = first->open("editor", "class=editor,Editor desktop=0 title=Résumé – draft");
    auto dialog = first->open("dialog", "type=dialog desktop=0 title=Save?");
    auto transient = first->open("transient", "transient=editor desktop=0 title=Find");
    auto palette = first->open("palette", "type=utility desktop=1 title=Palette");
    auto mail = second->open("mail", "class=mail,Mail desktop=1 pid=0 title=Inbox");
    auto sticky = second->open("sticky", "desktop=all title=Clock");
    auto hidden = second->open("hidden", "skip-taskbar=1 desktop=1 title=Tray");
    ASSERT_TRUE(editor && dialog && transient && palette && mail && sticky && hidden);

    auto root = readRootState(*connection);
    ASSERT_TRUE(root);
    EXPECT_NE(root->supportingWM, 0u);
    EXPECT_EQ(root->numberOfDesktops, 4u);
    EXPECT_EQ(root->currentDesktop, 0u);
    for (auto id : {*editor, *dialog, *transient, *palette, *mail, *sticky, *hidden})
        EXPECT_NE(std::find(root->clientsFrontFirst.begin(), root->clientsFrontFirst.end(), id), root->clientsFrontFirst.end());

    const std::vector<xcb_window_t> ids = {*editor, *dialog, *transient, *palette, *mail, *sticky, *hidden};
    const auto trips = connection->roundTrips();
    auto reads = readClients(*connection, ids);
    EXPECT_EQ(connection->roundTrips() - trips, 1u);
    ASSERT_EQ(reads.size(), ids.size());
    for (const auto& r : reads)
        ASSERT_TRUE(r.info.has_value());

    const auto& e = *reads[0].info;
    EXPECT_EQ(e.pid, first->pid());
    EXPECT_EQ(e.title, "Résumé – draft");
    EXPECT_EQ(e.instanceName, "editor");
    EXPECT_EQ(e.className, "Editor");
    EXPECT_TRUE(e.isStandard());
    EXPECT_EQ(e.desktop, 0u);
    EXPECT_EQ(e.width, 400u);
    EXPECT_EQ(e.height, 300u);

    EXPECT_TRUE(reads[1].info->isDialog());
    EXPECT_FALSE(reads[1].info->isStandard());
    EXPECT_TRUE(reads[2].info->isDialog()) << "a transient window without a type is a dialog";
    EXPECT_EQ(reads[3].info->type, X11WindowType::utility);
    EXPECT_EQ(reads[3].info->desktop, 1u);

    // No _NET_WM_PID: the X-Resource extension still knows the owner.
    EXPECT_EQ(reads[4].info->pid, second->pid());
    EXPECT_EQ(reads[4].info->title, "Inbox");
    EXPECT_EQ(reads[5].info->desktop, allDesktops);
    EXPECT_TRUE(reads[5].info->isOn(0));
    EXPECT_TRUE(reads[5].info->isOn(3));
    EXPECT_TRUE(reads[6].info->skipTaskbar);
    EXPECT_FALSE(reads[6].info->isStandard());
}

TEST_F(X11ClientsTest, TitleAndMinimizedStateFollowTheClient)
{
    auto client = TestClient::start(session->display());
    ASSERT_TRUE(client);
    auto window = client->open("w", "title=first");
    ASSERT_TRUE(window);
    EXPECT_FALSE(read(*window)->minimized);

    ASSERT_TRUE(client->command("wmname w caf\xc3\xa9 latin"));
    // WM_NAME is a STRING (ISO 8859-1): each of the two bytes is a character.
    EXPECT_EQ(read(*window)->title, "caf\xc3\x83\xc2\xa9 latin");

    ASSERT_TRUE(client->command("title w second"));
    EXPECT_EQ(read(*window)->title, "second");

    ASSERT_TRUE(client->command("minimize w"));
    ASSERT_TRUE(eventually([&] { return read(*window)->minimized; }));
}

TEST_F(X11ClientsTest, HostilePropertiesChangeNothingButWhatTheyShould)
{
    auto client = TestClient::start(session->display());
    ASSERT_TRUE(client);
    auto window = client->open("w", "desktop=2 title=plain");
    ASSERT_TRUE(window);
    const auto before = read(*window);
    ASSERT_TRUE(before);

    ASSERT_TRUE(client->command("hostile w huge-title 1000000"));
    auto huge = read(*window);
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->title, std::string(maxTitleBytes, 'x'));

    ASSERT_TRUE(client->command("hostile w invalid-utf8"));
    // Stray bytes, an overlong, a surrogate and a cut sequence become U+FFFD.
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(read(*window)->title, "ab" + r + r + "c" + r + r + "d" + r + r + r + "e" + r + r);

    ASSERT_TRUE(client->command("hostile w name-wrong-type"));
    EXPECT_EQ(read(*window)->title, "plain") << "a CARDINAL _NET_WM_NAME is ignored; WM_NAME remains";

    ASSERT_TRUE(client->command("hostile w desktop-wrong-type"));
    ASSERT_TRUE(client->command("hostile w type-wrong-format"));
    ASSERT_TRUE(client->command("hostile w pid-wrong-type"));
    ASSERT_TRUE(client->command("hostile w class-no-nul"));
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

TEST_F(X11ClientsTest, AWindowDestroyedBeforeTheReadIsReportedAsVanished)
{
    auto client = TestClient::start(session->display());
    ASSERT_TRUE(client);
    auto keep = client->open("keep", "title=keep");
    auto gone = client->open("gone", "title=gone");
    ASSERT_TRUE(keep && gone);
    ASSERT_TRUE(client->command("destroy gone"));
    const xcb_window_t ids[] = {*keep, *gone};
    auto reads = readClients(*connection, ids);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_TRUE(reads[0].info.has_value());
    EXPECT_FALSE(reads[0].vanished);
    EXPECT_FALSE(reads[1].info.has_value());
    EXPECT_TRUE(reads[1].vanished);
}

TEST_F(X11ClientsTest, ManyWindowsCostOneRoundTripAndKeepTheirOrder)
{
    auto client = TestClient::start(session->display());
    ASSERT_TRUE(client);
    std::vector<xcb_window_t> ids;
    for (int i = 0; i < 40; ++i) {
        auto id = client->open("w" + std::to_string(i), "desktop=" + std::to_string(i % 4) + " title=window " + std::to_string(i));
        ASSERT_TRUE(id);
        ids.push_back(*id);
    }
    auto root = readRootState(*connection);
    ASSERT_TRUE(root);
    // The most recently mapped window is on top of the stacking order.
    ASSERT_FALSE(root->clientsFrontFirst.empty());
    const auto trips = connection->roundTrips();
    auto reads = readClients(*connection, ids);
    EXPECT_EQ(connection->roundTrips() - trips, 1u);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(reads[i].info) << i;
        EXPECT_EQ(reads[i].info->id, ids[i]);
        EXPECT_EQ(reads[i].info->title, "window " + std::to_string(i));
        EXPECT_EQ(reads[i].info->desktop, static_cast<std::uint32_t>(i % 4));
    }
}

} // namespace
} // namespace vantrel::test
