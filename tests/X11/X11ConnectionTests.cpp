// The connection: the test session itself, events handed to the run loop,
// subscriptions, server time and the loss of the server.
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Connection.h"
#include "Platform/X11/X11Probe.h"
#include "Support/X11Session.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <mutex>

namespace vantrel::test {
namespace {

TEST(X11Session, StartsAnAnsweringWindowManagerAndStopsItsProcesses)
{
    X11Session::Failure failure;
    auto session = X11Session::start(&failure);
    if (!session && failure.missing)
        GTEST_SKIP() << failure.reason;
    ASSERT_NE(session, nullptr) << failure.reason;
    auto name = probeWindowManager(session->display());
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(*name, "Openbox");

    const pid_t server = session->serverPid();
    const pid_t wm = session->windowManagerPid();
    const std::string display = session->display();
    session.reset();
    // Both were reaped by their parent (us), so their pids are gone.
    EXPECT_NE(::kill(server, 0), 0);
    EXPECT_NE(::kill(wm, 0), 0);
    EXPECT_FALSE(probeWindowManager(display).has_value());
}

/// A connection watching the root's property changes, and another one that
/// changes a probe property there, as a window manager would.
class X11ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VANTREL_REQUIRE_X11_SESSION(x11);
        connection = X11Connection::open(loop, x11->display());
        writer = X11Connection::open(writerLoop, x11->display());
        ASSERT_TRUE(connection && writer);
        const std::uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_change_window_attributes(connection->raw(), connection->root(), XCB_CW_EVENT_MASK, mask);
        ASSERT_TRUE(connection->sync());
        probe = connection->atom("_VANTREL_TEST_PROBE");
    }

    void write(std::uint32_t value)
    {
        xcb_change_property(writer->raw(), XCB_PROP_MODE_REPLACE, writer->root(), probe, XCB_ATOM_CARDINAL, 32, 1, &value);
    }

    bool isProbe(const xcb_generic_event_t& event) const
    {
        return (event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
               reinterpret_cast<const xcb_property_notify_event_t&>(event).atom == probe;
    }

    ManualRunLoop loop, writerLoop;
    std::shared_ptr<X11Connection> connection, writer;
    xcb_atom_t probe = XCB_ATOM_NONE;
};

TEST_F(X11ConnectionTest, HandsEventsToTheRunLoopInOrderUntilUnsubscribed)
{
    std::vector<std::uint32_t> seen;
    bool onLoopThread = true;
    auto subscription = connection->subscribe([&](const xcb_generic_event_t& event) {
        onLoopThread = onLoopThread && loop.isLoopThread();
        if (!isProbe(event) || reinterpret_cast<const xcb_property_notify_event_t&>(event).state != XCB_PROPERTY_NEW_VALUE)
            return;
        XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection->raw(), xcb_get_property(connection->raw(), 0, connection->root(), probe, XCB_ATOM_CARDINAL, 0, 1), nullptr));
        seen.push_back(reply && xcb_get_property_value_length(reply.get()) == 4
                           ? *static_cast<std::uint32_t*>(xcb_get_property_value(reply.get()))
                           : 0);
    });
    // A second subscriber sees the same stream.
    int other = 0;
    auto second = connection->subscribe([&](const xcb_generic_event_t& event) { other += isProbe(event); });

    for (std::uint32_t value = 1; value <= 3; ++value) {
        write(value);
        ASSERT_TRUE(writer->sync());
        ASSERT_TRUE(pumpUntil(loop, [&] { return seen.size() == value; }));
    }
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_TRUE(onLoopThread);
    EXPECT_EQ(other, 3);

    second.reset();
    write(4);
    ASSERT_TRUE(writer->sync());
    ASSERT_TRUE(pumpUntil(loop, [&] { return seen.size() == 4; }));
    EXPECT_EQ(other, 3) << "a reset subscription is not called again";
}

TEST_F(X11ConnectionTest, ArrivalHandlersSeeEveryEventBeforeTheLoopDoes)
{
    // Arrival handlers run on the event thread; sequence numbers name events.
    std::mutex mutex;
    std::vector<std::uint32_t> arrived;
    bool offLoopThread = true;
    auto arrival = connection->subscribeOnArrival([&](const xcb_generic_event_t& event) {
        if (!isProbe(event))
            return;
        std::lock_guard lock(mutex);
        offLoopThread = offLoopThread && !loop.isLoopThread();
        arrived.push_back(event.full_sequence);
    });
    int delivered = 0, deliveredUnannounced = 0;
    auto subscription = connection->subscribe([&](const xcb_generic_event_t& event) {
        if (!isProbe(event))
            return;
        ++delivered;
        std::lock_guard lock(mutex);
        if (std::find(arrived.begin(), arrived.end(), event.full_sequence) == arrived.end())
            ++deliveredUnannounced;
    });

    for (std::uint32_t value = 1; value <= 20; ++value)
        write(value);
    ASSERT_TRUE(writer->sync());
    ASSERT_TRUE(pumpUntil(loop, [&] { return delivered == 20; })) << delivered;
    EXPECT_EQ(deliveredUnannounced, 0);
    std::lock_guard lock(mutex);
    EXPECT_EQ(arrived.size(), 20u);
    EXPECT_TRUE(offLoopThread);
}

TEST_F(X11ConnectionTest, ServerTimeAdvancesAtomsAreCachedAndDestructionDoesNotHang)
{
    const auto first = connection->serverTime();
    ASSERT_NE(first, static_cast<xcb_timestamp_t>(XCB_CURRENT_TIME));
    auto later = first;
    ASSERT_TRUE(eventually([&] {
        later = connection->serverTime();
        return later > first;
    }));
    // Atoms are cached: the same answer, no new round trip.
    const auto atom = connection->atom("_NET_ACTIVE_WINDOW");
    const auto trips = connection->roundTrips();
    EXPECT_EQ(connection->atom("_NET_ACTIVE_WINDOW"), atom);
    EXPECT_EQ(connection->roundTrips(), trips);
    EXPECT_EQ(connection->atomName(atom), "_NET_ACTIVE_WINDOW");
    connection.reset(); // joins the event thread
}

TEST(X11Connection, NoServerMeansNoConnection)
{
    ManualRunLoop loop;
    EXPECT_EQ(X11Connection::open(loop, ":65000"), nullptr);
    EXPECT_FALSE(probeWindowManager(":65000").has_value());
}

TEST(X11Connection, LosingTheServerIsReportedOnceAndEveryReadAnswersNothing)
{
    // Its own server: the shared one must survive for the other tests.
    X11Session::Failure failure;
    auto session = X11Session::start(&failure);
    if (!session && failure.missing)
        GTEST_SKIP() << failure.reason;
    ASSERT_NE(session, nullptr) << failure.reason;
    auto client = TestClient::start(session->display());
    ASSERT_NE(client, nullptr);
    auto window = client->open("w", "title=still here");
    ASSERT_TRUE(window);

    ManualRunLoop loop;
    auto connection = X11Connection::open(loop, session->display());
    ASSERT_NE(connection, nullptr);
    int lost = 0;
    auto subscription = connection->onLost([&] { ++lost; });
    ASSERT_TRUE(readRootState(*connection).has_value());

    session->killServer();
    ASSERT_TRUE(pumpUntil(loop, [&] { return lost > 0; }));
    EXPECT_FALSE(connection->isOpen());
    EXPECT_FALSE(connection->sync());
    EXPECT_FALSE(readRootState(*connection).has_value());
    const xcb_window_t ids[] = {*window};
    auto reads = readClients(*connection, ids);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_FALSE(reads[0].info.has_value());
    EXPECT_FALSE(reads[0].vanished) << "a lost server is not a vanished window";
    EXPECT_EQ(connection->atom("_VANTREL_NEVER_INTERNED"), static_cast<xcb_atom_t>(XCB_ATOM_NONE));

    // A late subscriber still hears of the loss, once; the first is not told again.
    int late = 0;
    auto lateSubscription = connection->onLost([&] { ++late; });
    ASSERT_TRUE(pumpUntil(loop, [&] { return late == 1; }));
    loop.runPending();
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(late, 1);
}

} // namespace
} // namespace vantrel::test
