// The connection: events handed to the run loop, subscriptions, server time
// (the loss of the server is in X11HostileTests, with the backends').
#include "Platform/X11/X11Connection.h"
#include "Support/X11Session.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

namespace vantrel::test {
namespace {

/// A connection watching the root's property changes, and another one that
/// changes a probe property there, as a window manager would.
class X11EventsTest : public X11ConnectionTest {
protected:
    void prepare() override
    {
        writer = X11Connection::open(writerLoop, session->display());
        ASSERT_TRUE(writer);
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

    ManualRunLoop writerLoop;
    std::shared_ptr<X11Connection> writer;
    xcb_atom_t probe = XCB_ATOM_NONE;
};

TEST_F(X11EventsTest, HandsEventsToTheRunLoopInOrderUntilUnsubscribed)
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

TEST_F(X11EventsTest, ArrivalHandlersSeeEveryEventBeforeTheLoopDoes)
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

TEST_F(X11EventsTest, ServerTimeAdvancesAtomsAreCachedAndDestructionDoesNotHang)
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

} // namespace
} // namespace vantrel::test
