// Serial queues: order, sync, delayed and cancelled jobs.
#include "Runtime/ManualRunLoop.h"
#include "Runtime/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <numeric>

using namespace std::chrono_literals;

namespace vantrel {
namespace {

TEST(ThreadSerialQueue, RunsJobsInOrderOffTheCallingThread)
{
    ThreadSerialQueue queue("test");
    std::vector<int> ran;
    std::thread::id worker;
    for (int i = 0; i < 100; ++i)
        queue.async([&, i] {
            ran.push_back(i);
            worker = std::this_thread::get_id();
        });
    queue.sync([] {});
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ran, expected);
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST(ThreadSerialQueue, SyncFromTheQueueItselfRunsInline)
{
    ThreadSerialQueue queue("test");
    bool inner = false, current = false;
    queue.sync([&] {
        current = queue.isCurrent();
        queue.sync([&] { inner = true; });
    });
    EXPECT_TRUE(inner);
    EXPECT_TRUE(current);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(ThreadSerialQueue, DelayedJobWaitsAndCanBeCancelled)
{
    ThreadSerialQueue queue("test");
    std::promise<TimePoint> ran;
    auto start = queue.now();
    std::atomic<bool> cancelledRan{false};
    auto cancelled = queue.asyncAfter(20ms, [&] { cancelledRan = true; });
    queue.asyncAfter(30ms, [&] { ran.set_value(queue.now()); });
    cancelled->invalidate();
    auto when = ran.get_future().get();
    EXPECT_GE(when - start, Duration(30ms));
    EXPECT_FALSE(cancelledRan);
}

struct ManualSerialQueueTest : ::testing::Test {
    ManualRunLoop loop;
    ManualSerialQueue queue{loop};
};

TEST_F(ManualSerialQueueTest, JobsRunWithTheLoopInSubmissionOrder)
{
    std::vector<std::string> ran;
    queue.async([&] {
        ran.push_back("q1");
        EXPECT_TRUE(queue.isCurrent());
    });
    loop.post([&] { ran.push_back("main"); });
    queue.async([&] { ran.push_back("q2"); });
    loop.runPending();
    EXPECT_EQ(ran, (std::vector<std::string>{"q1", "main", "q2"}));
}

TEST_F(ManualSerialQueueTest, SyncDrainsPendingJobsFirst)
{
    std::vector<std::string> ran;
    queue.async([&] { ran.push_back("1"); });
    queue.async([&] { ran.push_back("2"); });
    queue.sync([&] { ran.push_back("3"); });
    EXPECT_EQ(ran, (std::vector<std::string>{"1", "2", "3"}));
    loop.runPending(); // the loop's turns for 1 and 2 find nothing left
    EXPECT_EQ(ran.size(), 3u);
}

TEST_F(ManualSerialQueueTest, DelayedJobsFollowVirtualTime)
{
    int ran = 0;
    queue.asyncAfter(50ms, [&] { ++ran; });
    auto cancelled = queue.asyncAfter(50ms, [&] { ran += 10; });
    cancelled->invalidate();
    loop.advance(49ms);
    EXPECT_EQ(ran, 0);
    loop.advance(1ms);
    EXPECT_EQ(ran, 1);
}

TEST_F(ManualSerialQueueTest, JobsOfADestroyedQueueNeverRun)
{
    int ran = 0;
    {
        ManualSerialQueue gone(loop);
        gone.async([&] { ++ran; });
        gone.asyncAfter(10ms, [&] { ++ran; });
    }
    loop.advance(1s);
    EXPECT_EQ(ran, 0);
}

} // namespace
} // namespace vantrel
