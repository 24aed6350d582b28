// The virtual-time run loop that every controller test stands on.
#include "Runtime/ManualRunLoop.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace vantrel {
namespace {

struct ManualRunLoopTest : ::testing::Test {
    ManualRunLoop loop;
};

TEST_F(ManualRunLoopTest, PostsAndZeroDelayTimersRunLaterInOrder)
{
    std::vector<int> ran;
    loop.post([&] {
        ran.push_back(1);
        loop.post([&] { ran.push_back(4); });
    });
    loop.schedule(0ms, [&] { ran.push_back(2); });
    loop.post([&] { ran.push_back(3); });
    EXPECT_TRUE(ran.empty());
    loop.runPending();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(ManualRunLoopTest, PostsFromAnotherThreadRunOnTheLoopThread)
{
    std::thread::id ranOn;
    std::thread worker([&] { loop.post([&] { ranOn = std::this_thread::get_id(); }); });
    worker.join();
    EXPECT_TRUE(loop.isLoopThread());
    loop.runPending();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(ManualRunLoopTest, TimersFireInDueOrderUnlessInvalidated)
{
    std::vector<std::pair<int, Duration>> fired;
    auto start = loop.now();
    auto kept = loop.schedule(30ms, [&] { fired.emplace_back(2, loop.now() - start); });
    loop.schedule(10ms, [&] { fired.emplace_back(1, loop.now() - start); });
    auto cancelled = loop.schedule(30ms, [&] { fired.emplace_back(0, loop.now() - start); });
    loop.schedule(30ms, [&] { fired.emplace_back(3, loop.now() - start); });
    cancelled->invalidate();
    cancelled->invalidate();
    loop.advance(29ms);
    EXPECT_TRUE(kept->isValid());
    loop.advance(1ms);
    EXPECT_EQ(fired, (std::vector<std::pair<int, Duration>>{{1, 10ms}, {2, 30ms}, {3, 30ms}}));
    EXPECT_EQ(loop.now() - start, Duration(30ms));
    EXPECT_FALSE(kept->isValid());
}

TEST_F(ManualRunLoopTest, RepeatingTimerFollowsDelayThenInterval)
{
    std::vector<Duration> at;
    auto start = loop.now();
    std::shared_ptr<Timer> timer;
    timer = loop.scheduleRepeating(500ms, 30ms, [&] {
        at.push_back(loop.now() - start);
        if (at.size() == 3)
            timer->invalidate(); // from its own callback
    });
    loop.advance(2s);
    EXPECT_EQ(at, (std::vector<Duration>{500ms, 530ms, 560ms}));
    EXPECT_FALSE(timer->isValid());
}

TEST_F(ManualRunLoopTest, RunUntilIdleStopsAtTheLimit)
{
    int count = 0;
    loop.scheduleRepeating(1s, 1s, [&] { ++count; });
    EXPECT_FALSE(loop.runUntilIdle(10s));
    EXPECT_EQ(count, 10);
    ManualRunLoop other;
    other.schedule(5s, [] {});
    EXPECT_TRUE(other.runUntilIdle());
}

} // namespace
} // namespace vantrel
