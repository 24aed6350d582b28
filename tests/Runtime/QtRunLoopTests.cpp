// The Qt run loop keeps the RunLoop contract on a real event loop.
#include "Runtime/QtRunLoop.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace vantrel {
namespace {

TEST(QtRunLoop, PostsTimersAndCrossThreadPostsRunOnTheMainThread)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QtRunLoop loop;
    std::vector<std::string> events;
    bool postedInline = true;
    loop.post([&] { postedInline = false; });
    EXPECT_TRUE(postedInline);

    int repeats = 0;
    std::shared_ptr<Timer> repeating;
    repeating = loop.scheduleRepeating(5ms, 5ms, [&] {
        if (++repeats == 3) {
            repeating->invalidate();
            events.push_back("repeated");
        }
    });
    auto cancelled = loop.schedule(1ms, [&] { events.push_back("cancelled"); });
    cancelled->invalidate();
    std::thread::id posterRanOn;
    std::thread worker([&] {
        loop.post([&] {
            posterRanOn = std::this_thread::get_id();
            EXPECT_TRUE(loop.isLoopThread());
        });
    });
    worker.join();
    auto start = loop.now();
    loop.schedule(60ms, [&] {
        events.push_back("done");
        app.quit();
    });
    app.exec();
    EXPECT_GE(loop.now() - start, Duration(60ms));
    EXPECT_FALSE(postedInline);
    EXPECT_EQ(posterRanOn, std::this_thread::get_id());
    EXPECT_EQ(events, (std::vector<std::string>{"repeated", "done"}));
    EXPECT_FALSE(repeating->isValid());
}

} // namespace
} // namespace vantrel
