// Reading a real openbox: the connection (events handed to the run loop,
// subscriptions, server time; its loss is in X11HostileTests), the window
// manager's state and its clients' properties (batching, what hostile clients
// cannot do; classification is BridgeOnX11's), and the desktop's client table,
// which must never hide a change whose event was delivered, nor a destruction,
// even with reads under way while the changes arrive.
#include "Platform/X11/X11Accessibility.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Desktop.h"
#include "Platform/X11/X11Properties.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <tuple>

namespace vantrel::test {
namespace {

/// A connection changing a probe property of its own window: each event
/// then carries the sequence number of the request that caused it.
class X11EventsTest : public X11ConnectionTest {
protected:
    /// Changes the probe `count` times in one go; true once the server has done it.
    bool write(std::uint32_t count)
    {
        for (std::uint32_t value = 1; value <= count; ++value)
            xcb_change_property(connection->raw(), XCB_PROP_MODE_REPLACE, connection->ownWindow(), probe(), XCB_ATOM_CARDINAL,
                                32, 1, &value);
        return connection->sync();
    }

    xcb_atom_t probe() { return connection->atom("_VANTREL_TEST_PROBE"); }
};

TEST_F(X11EventsTest, SubscribersHearEveryEventOnTheLoopInOrderUntilReset)
{
    std::vector<std::uint32_t> sequences;
    bool onLoopThread = true;
    auto subscription = connection->subscribe([&](const xcb_generic_event_t& event) {
        onLoopThread = onLoopThread && loop.isLoopThread();
        if (isPropertyChange(event, probe()))
            sequences.push_back(event.full_sequence);
    });
    int other = 0;
    auto second = connection->subscribe([&](const xcb_generic_event_t& event) { other += isPropertyChange(event, probe()); });

    // Many events come off the server at once: each reaches the loop in its place.
    ASSERT_TRUE(write(20));
    ASSERT_TRUE(pumpUntil(loop, [&] { return sequences.size() == 20; })) << sequences.size();
    EXPECT_EQ(std::ranges::adjacent_find(sequences, std::ranges::greater_equal{}), sequences.end());
    EXPECT_TRUE(onLoopThread);
    EXPECT_EQ(other, 20);

    second.reset();
    ASSERT_TRUE(write(1));
    ASSERT_TRUE(pumpUntil(loop, [&] { return sequences.size() == 21; }));
    EXPECT_EQ(other, 20) << "a reset subscription is not called again";
}

TEST_F(X11EventsTest, ServerTimeAdvances)
{
    const auto first = connection->serverTime();
    ASSERT_NE(first, static_cast<xcb_timestamp_t>(XCB_CURRENT_TIME));
    EXPECT_TRUE(eventually([&] { return connection->serverTime() > first; }));
}

/// A connection and one scripted client on the session.
class X11ClientsTest : public X11ConnectionTest {
protected:
    void prepare() override
    {
        client = TestClient::start(session->display());
        ASSERT_TRUE(client);
    }

    std::optional<X11ClientInfo> read(xcb_window_t window)
    {
        return readClients(*connection, std::vector<xcb_window_t>{window}).at(0).info;
    }

    std::unique_ptr<TestClient> client;
};

TEST_F(X11ClientsTest, OneBatchReadsWhatEachWindowSaysAndWhichWindowsVanished)
{
    auto editor = client->open("editor", "title=editor");
    auto gone = client->open("gone", "title=gone");
    ASSERT_TRUE(editor && gone);

    // Interns the atoms first; the desktops and the client list are read as the bridge's spaces show them.
    EXPECT_NE(readRootState(*connection).value_or(X11RootState{}).supportingWM, 0u);
    ASSERT_TRUE(client->command("destroy gone"));
    const auto trips = connection->roundTrips();
    auto reads = readClients(*connection, std::vector<xcb_window_t>{*editor, *gone});
    EXPECT_EQ(connection->roundTrips() - trips, 1u);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].info.value_or(X11ClientInfo{}).id, *editor);
    EXPECT_FALSE(reads[0].vanished);
    EXPECT_FALSE(reads[1].info.has_value());
    EXPECT_TRUE(reads[1].vanished);
}

TEST_F(X11ClientsTest, TitlesAreReadAsTheirTypeSaysWithinTheirBoundAndRepaired)
{
    auto window = client->open("w", "title=plain");
    ASSERT_TRUE(window);

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
}

TEST_F(X11ClientsTest, PropertiesOfAWrongTypeFormatOrSizeSpoilNothingElse)
{
    auto window = client->open("w", "desktop=2 title=plain");
    ASSERT_TRUE(window);
    for (auto kind : {"desktop-wrong-type", "type-wrong-format", "pid-wrong-type", "class-no-nul", "state-wrong-type"})
        ASSERT_TRUE(client->command(std::string("hostile w ") + kind));
    auto after = read(*window);
    ASSERT_TRUE(after);
    EXPECT_FALSE(after->desktop.has_value()) << "a STRING desktop is no desktop";
    EXPECT_EQ(after->type, X11WindowType::normal);
    EXPECT_EQ(after->pid, client->pid()) << "X-Resource still answers";
    EXPECT_EQ(after->instanceName.size(), 1024u) << "WM_CLASS is read only up to its bound";
    EXPECT_FALSE(after->minimized) << "HIDDEN in a CARDINAL list does not count";
    EXPECT_EQ(std::tuple(after->title, after->width, after->height), std::tuple(std::string("plain"), 400u, 300u));
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
    const std::string cut(maxTitleBytes, 'x');
    EXPECT_EQ(readRootState(*connection).value_or(X11RootState{}).desktopNames,
              (std::vector<std::string>{cut, cut, cut, std::string(1378, 'y')}));
}

class X11ClientTableTest : public X11ClientsTest {
protected:
    void prepare() override
    {
        X11ClientsTest::prepare();
        desktop = X11Desktop::create(connection, loop);
    }

    std::optional<X11ClientInfo> listed(xcb_window_t window)
    {
        auto snapshot = desktop->snapshot();
        if (!snapshot)
            return std::nullopt;
        auto found = std::ranges::find(snapshot->clients, window, &X11ClientInfo::id);
        return found == snapshot->clients.end() ? std::nullopt : std::optional(*found);
    }

    /// Waits until the table lists every window, so what follows reads from it.
    bool warm(const std::vector<xcb_window_t>& windows)
    {
        return pumpUntil(loop, [&] {
            return std::all_of(windows.begin(), windows.end(), [&](xcb_window_t w) { return listed(w).has_value(); });
        });
    }

    /// Calls `handler` on the loop for every property change of `atom`.
    X11Connection::Subscription onProperty(std::string_view atom, std::function<void(xcb_window_t)> handler)
    {
        const auto wanted = connection->atom(atom);
        return connection->subscribe([wanted, handler](const xcb_generic_event_t& event) {
            if (isPropertyChange(event, wanted))
                handler(reinterpret_cast<const xcb_property_notify_event_t&>(event).window);
        });
    }

    std::shared_ptr<X11Desktop> desktop;
};

TEST_F(X11ClientTableTest, AReadInsideTheNotificationOfAChangeSeesTheChange)
{
    auto window = client->open("w", "desktop=0 title=before");
    ASSERT_TRUE(window && warm({*window}));

    // What the accessibility observer's callbacks read at delivery time.
    auto accessibility = std::make_shared<X11Accessibility>(desktop);
    std::vector<std::string> titles;
    std::shared_ptr<AXObserver> observer;
    auto read = [&](const AXElement& element, const std::string&) {
        AXValue value;
        if (accessibility->copyAttributeValue(element, "AXTitle", value) == AXErrors::success)
            titles.push_back(std::get<std::string>(value));
    };
    ASSERT_EQ(accessibility->createObserver(client->pid(), read, observer), AXErrors::success);
    ASSERT_EQ(observer->addNotification(accessibility->createApplication(client->pid()), "AXTitleChanged"), AXErrors::success);
    observer->attach(loop);

    // Each round reads the table warm from the round before.
    for (int round = 1; round <= 8; ++round) {
        titles.clear();
        const auto expected = "round " + std::to_string(round);
        ASSERT_TRUE(client->command("title w " + expected));
        ASSERT_TRUE(pumpUntil(loop, [&] { return !titles.empty(); })) << round;
        EXPECT_EQ(titles.front(), expected) << round;
    }

    // Desktops raise no notification of their own: a loop subscriber of the
    // property change stands for any reader woken by the event.
    std::vector<std::optional<std::uint32_t>> desktops;
    auto subscription = onProperty("_NET_WM_DESKTOP", [&](xcb_window_t changed) {
        if (changed == *window)
            desktops.push_back(desktop->client(*window).info.value_or(X11ClientInfo{}).desktop);
    });
    ASSERT_TRUE(client->command("desktop w 1"));
    ASSERT_TRUE(pumpUntil(loop, [&] { return !desktops.empty(); }));
    EXPECT_EQ(desktops.front(), 1u);
}

TEST_F(X11ClientTableTest, AWindowIsGoneFromEveryReadOnceItsDestructionArrives)
{
    auto keep = client->open("keep", "title=keep");
    auto gone = client->open("gone", "title=gone");
    ASSERT_TRUE(keep && gone && warm({*keep, *gone}));

    // Read the moment the loop sees the destruction: the window manager may
    // not have updated its client list yet, and the table was warm.
    bool seen = false, stillListed = true, vanished = false;
    auto subscription = connection->subscribe([&](const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) != XCB_DESTROY_NOTIFY ||
            reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window != *gone)
            return;
        seen = true;
        stillListed = listed(*gone).has_value();
        vanished = desktop->client(*gone).vanished;
    });
    ASSERT_TRUE(client->command("destroy gone"));
    ASSERT_TRUE(pumpUntil(loop, [&] { return seen; }));
    EXPECT_FALSE(stillListed);
    EXPECT_TRUE(vanished);
    EXPECT_TRUE(listed(*keep));
}

TEST_F(X11ClientTableTest, ABurstOfChangesWithReadsUnderWayEndsWithTheLastValues)
{
    constexpr int windows = 12;
    constexpr int rounds = 40;
    std::vector<xcb_window_t> ids;
    for (int i = 0; i < windows; ++i) {
        auto id = client->open("w" + std::to_string(i), "title=start");
        ASSERT_TRUE(id);
        ids.push_back(*id);
    }
    ASSERT_TRUE(warm(ids));

    // The client sets WM_NAME last: one such change per title command.
    int namesSeen = 0;
    auto subscription = onProperty("WM_NAME", [&](xcb_window_t changed) {
        if (std::find(ids.begin(), ids.end(), changed) != ids.end())
            ++namesSeen;
    });

    // Reads that start before a change and end after it must not put back
    // what they saw: two readers keep reading while the client, fed every
    // command at once, changes the titles as fast as the server lets it.
    std::atomic<bool> stop{false};
    std::thread snapshots([&] {
        while (!stop.load())
            (void)desktop->snapshot();
    });
    std::thread batches([&] {
        while (!stop.load())
            (void)desktop->clients(ids);
    });
    // Each window's changes follow one another, so a read caused by one is
    // likely under way when the next arrives.
    for (int i = 0; i < windows; ++i)
        for (int round = 1; round <= rounds; ++round)
            client->process().writeLine("title w" + std::to_string(i) + " " + std::to_string(i) + "." +
                                        std::to_string(round));
    int answered = 0;
    while (answered < windows * rounds && client->process().readLine(std::chrono::seconds(10)) == "ok")
        ++answered;
    const bool allSeen = pumpUntil(loop, [&] { return namesSeen == windows * rounds; });
    stop = true;
    snapshots.join();
    batches.join();
    ASSERT_EQ(answered, windows * rounds);
    ASSERT_TRUE(allSeen) << namesSeen;

    for (int i = 0; i < windows; ++i) {
        const auto expected = std::to_string(i) + "." + std::to_string(rounds);
        EXPECT_EQ(listed(ids[i]).value_or(X11ClientInfo{}).title, expected) << i;
        EXPECT_EQ(desktop->client(ids[i]).info.value_or(X11ClientInfo{}).title, expected) << i;
    }
}

} // namespace
} // namespace vantrel::test
