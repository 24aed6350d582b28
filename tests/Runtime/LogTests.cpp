// Log formatting of os_log-style placeholders, captures and signposts.
#include "Runtime/Log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace vantrel {
namespace {

TEST(LogFormat, PlaceholdersTakeArgumentsInOrder)
{
    EXPECT_EQ(formatLogMessage("Focus %u on space %lu by %{public}s", {std::uint64_t{42}, std::uint64_t{7}, std::string("Mail")}),
              "Focus 42 on space 7 by Mail");
    EXPECT_EQ(formatLogMessage("pid %d key %hu %ld", {std::int64_t{-3}, std::uint64_t{48}, std::int64_t{-9000000000}}),
              "pid -3 key 48 -9000000000");
    EXPECT_EQ(formatLogMessage("ok=%{bool}d raw=%d", {true, false}), "ok=true raw=0");
    EXPECT_EQ(formatLogMessage("ok=%{bool}d", {std::int64_t{0}}), "ok=false");
    EXPECT_EQ(formatLogMessage("scale %{public}f", {1.5}), "scale 1.500000");
    EXPECT_EQ(formatLogMessage("mode 0x%x", {std::uint64_t{0x200}}), "mode 0x200");
    EXPECT_EQ(formatLogMessage("100%% done", {}), "100% done");
}

TEST(LogFormat, MissingAndSurplusArgumentsAreHarmless)
{
    EXPECT_EQ(formatLogMessage("a=%d b=%d", {std::int64_t{1}}), "a=1 b=<missing>");
    EXPECT_EQ(formatLogMessage("none", {std::int64_t{1}}), "none");
    EXPECT_EQ(formatLogMessage("trailing %", {}), "trailing %");
    EXPECT_EQ(formatLogMessage("open %{public", {std::string("x")}), "open %{public");
}

TEST(LogCapture, SeesEveryLevelFromEveryThreadWhileAlive)
{
    Logger log("switcher");
    log.debug("before %d", 0);
    LogCapture capture;
    log.debug("Session started with %ld windows", 3L);
    std::thread([] { Logger("tracker").error("App %d quarantined", 12); }).join();
    {
        LogCapture inner;
        log.info("inner");
        EXPECT_EQ(inner.messages(), (std::vector<std::string>{"inner"}));
    }
    EXPECT_EQ(capture.records(), (std::vector<LogRecord>{{LogLevel::debug, "switcher", "Session started with 3 windows"},
                                                         {LogLevel::error, "tracker", "App 12 quarantined"},
                                                         {LogLevel::info, "switcher", "inner"}}));
    EXPECT_TRUE(capture.contains("inner", "switcher"));
    EXPECT_FALSE(capture.contains("inner", "tracker"));
    EXPECT_EQ(capture.messages("tracker").size(), 1u);
}

TEST(Signposts, EndedIntervalsAreKeptOnceAndLogged)
{
    Signposts::reset();
    LogCapture capture;
    {
        SignpostInterval interval("rank", "search");
        SignpostInterval moved = std::move(interval);
        moved.end();
        moved.end();
    }
    EXPECT_EQ(Signposts::durations("rank").size(), 1u);
    EXPECT_TRUE(Signposts::durations("show").empty());
    EXPECT_THAT(capture.messages("search"), ::testing::ElementsAre(::testing::StartsWith("signpost rank: ")));
}

} // namespace
} // namespace vantrel
