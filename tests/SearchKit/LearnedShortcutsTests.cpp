// Learned shortcuts: recording rules, lookup order, and a file that survives
// corruption, missing folders and an interrupted save.
#include "SearchKit/LearnedShortcuts.h"

#include "Runtime/FileRead.h"
#include "Runtime/Log.h"
#include "Support/ScratchFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <tuple>

namespace vantrel {
namespace {

using Date = LearnedShortcuts::Date;
namespace fs = std::filesystem;

Date at(double seconds)
{
    return Date { seconds };
}

TEST(LearnedShortcutsRecord, QueriesAreTrimmedLowerCasedAndCountedInGraphemes)
{
    // The recorded query, a lookup, and whether it finds the target.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {" \tSa\u3000\u00A0", "  SA ", true}, {"sa\n", "sa", false}, // line breaks are not trimmed
        {"safa", "safa", false}, {" \t ", "", false}, // beyond the three-character limit; empty
        {"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7x", "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7X", true}, // three
        {"e\u0301e\u0301e\u0301e\u0301", "e\u0301e\u0301e\u0301e\u0301", false}, // four
        {"\u00C4B", "\u00E4b", true}}; // full Unicode lower-casing
    for (auto [query, lookup, found] : cases) {
        LearnedShortcuts shortcuts;
        shortcuts.record(query, "t", at(1));
        EXPECT_EQ(shortcuts.targets(lookup), found ? std::vector<std::string> {"t"} : std::vector<std::string> {}) << query;
    }
}

TEST(LearnedShortcutsRecord, MostRecentFirstWithoutDuplicatesUpToTheLimits)
{
    for (int limit : {0, -2}) {
        LearnedShortcuts disabled;
        disabled.maxQueryLength = limit;
        disabled.record("a", "x", at(1));
        EXPECT_TRUE(disabled.entries.empty()) << limit;
    }
    LearnedShortcuts shortcuts;
    shortcuts.record("sa", "X", at(1));
    shortcuts.record("sa", "Y", at(2));
    shortcuts.record("sa", "X", at(3));
    shortcuts.record("sa", "x", at(4)); // targets compare case-sensitively
    EXPECT_EQ(shortcuts.entries["sa"], (std::vector<LearnedShortcuts::Entry> {{"x", at(4)}, {"X", at(3)}, {"Y", at(2)}}));
    for (int k = 1; k <= 6; ++k)
        shortcuts.record("q", "t" + std::to_string(k), at(k));
    EXPECT_EQ(shortcuts.targets("q"), (std::vector<std::string> {"t6", "t5", "t4", "t3", "t2"}));
    for (int limit : {0, -1}) {
        shortcuts.maxTargetsPerQuery = limit;
        shortcuts.record("q", "t7", at(7));
        EXPECT_TRUE(shortcuts.targets("q").empty()) << limit;
    }
}

TEST(LearnedShortcutsTargets, NewestFirstForStoredQueriesOfAnyLength)
{
    LearnedShortcuts shortcuts;
    // As a file might hold them: not in time order, with a tie.
    shortcuts.entries["ab"] = {{"old", at(1)}, {"tieA", at(5)}, {"new", at(9)}, {"tieB", at(5)}};
    EXPECT_EQ(shortcuts.targets("AB"), (std::vector<std::string> {"new", "tieA", "tieB", "old"}));
    shortcuts.entries["safari"] = {{"s", at(1)}};
    EXPECT_EQ(shortcuts.targets(" Safari"), std::vector<std::string> {"s"});
    EXPECT_TRUE(shortcuts.targets("never").empty());
}

class LearnedShortcutsFile : public ::testing::Test {
protected:
    static LearnedShortcuts sample()
    {
        LearnedShortcuts shortcuts;
        shortcuts.maxQueryLength = 2;
        shortcuts.maxTargetsPerQuery = 4;
        shortcuts.entries["sa"] = {{"w:com.apple.Safari|Start Page", at(786000000.25)}, {"a:com.apple.Safari", at(-3.5)}};
        shortcuts.entries["\u00E4"] = {{"w:\u00C4pp|\U0001F98A", at(0)}};
        return shortcuts;
    }
    const test::ScratchFolder scratch;
    const fs::path file = scratch.path / "learned-shortcuts.json";
};

TEST_F(LearnedShortcutsFile, RoundTripsInTheDocumentedFormat)
{
    auto shortcuts = sample();
    shortcuts.maxTargetsPerQuery = 0; // a stored limit is taken as read, and so is an empty list
    shortcuts.entries["b"] = {};
    ASSERT_EQ(shortcuts.save(file), std::nullopt);
    EXPECT_EQ(LearnedShortcuts::load(file), shortcuts);

    EXPECT_EQ(nlohmann::json::parse(readRegularFile(file).bytes.value_or("")),
        nlohmann::json::parse(R"({"maxQueryLength": 2, "maxTargetsPerQuery": 0, "entries": {"b": [],
        "sa": [{"target": "w:com.apple.Safari|Start Page", "lastUsed": 786000000.25},
               {"target": "a:com.apple.Safari", "lastUsed": -3.5}],
        "\u00E4": [{"target": "w:\u00C4pp|\uD83E\uDD8A", "lastUsed": 0}]}})"));
}

TEST(LearnedShortcutsDates, CountFromTwoThousandOne)
{
    // 2001-01-01 00:00:00 UTC is Unix time 978307200.
    EXPECT_EQ(Date::from(std::chrono::system_clock::from_time_t(978307200)), at(0));
    EXPECT_EQ(Date::from(std::chrono::system_clock::from_time_t(978307200 + 86400)), at(86400));
    EXPECT_GT(Date::now(), at(7.5e8)); // after 2024
}

TEST_F(LearnedShortcutsFile, AnythingMalformedLoadsEmpty)
{
    const LearnedShortcuts empty;
    EXPECT_EQ(LearnedShortcuts::load(scratch.path / "missing.json"), empty);
    ASSERT_EQ(sample().save(file), std::nullopt);
    const std::string complete = readRegularFile(file).bytes.value_or("");

    const std::vector<std::string> broken {
        "",
        "not json",
        complete.substr(0, complete.size() / 2), // a partial file
        "[]",
        R"({"entries": {}, "maxQueryLength": 3})",
        R"({"entries": {}, "maxTargetsPerQuery": 5})",
        R"({"maxQueryLength": 3, "maxTargetsPerQuery": 5})",
        R"({"entries": [], "maxQueryLength": 3, "maxTargetsPerQuery": 5})",
        R"({"entries": {}, "maxQueryLength": 3.5, "maxTargetsPerQuery": 5})",
        R"({"entries": {}, "maxQueryLength": "3", "maxTargetsPerQuery": 5})",
        R"({"entries": {}, "maxQueryLength": 99999999999, "maxTargetsPerQuery": 5})",
        R"({"entries": {"a": [{"target": "x"}]}, "maxQueryLength": 3, "maxTargetsPerQuery": 5})",
        R"({"entries": {"a": [{"lastUsed": 1}]}, "maxQueryLength": 3, "maxTargetsPerQuery": 5})",
        R"({"entries": {"a": [{"target": 1, "lastUsed": 1}]}, "maxQueryLength": 3, "maxTargetsPerQuery": 5})",
        R"({"entries": {"a": [{"target": "x", "lastUsed": "now"}]}, "maxQueryLength": 3, "maxTargetsPerQuery": 5})",
        R"({"entries": {"a": {"target": "x", "lastUsed": 1}}, "maxQueryLength": 3, "maxTargetsPerQuery": 5})",
        "{\"entries\": {\"a\": [{\"target\": \"\xFF\", \"lastUsed\": 1}]}, \"maxQueryLength\": 3, \"maxTargetsPerQuery\": 5}",
    };
    for (const auto& text : broken) {
        std::ofstream(file, std::ios::binary) << text;
        EXPECT_EQ(LearnedShortcuts::load(file), empty) << text;
    }
    // A sound document padded past the size limit is refused, not read in part.
    std::ofstream(file, std::ios::binary) << complete + std::string(maxFileBytes, ' ');
    LogCapture log;
    EXPECT_EQ(LearnedShortcuts::load(file), empty);
    EXPECT_TRUE(log.contains("Cannot read learned shortcuts " + file.string() + " (larger than 16 MiB); starting empty"));
}

TEST_F(LearnedShortcutsFile, InterruptedSaveFailsAndLeavesThePreviousFile)
{
    ASSERT_EQ(sample().save(file), std::nullopt);
    auto changed = sample();
    changed.record("zz", "new", at(10));
    {
        const test::InterruptedSaves interrupted;
        EXPECT_NE(changed.save(file), std::nullopt);
    }
    EXPECT_EQ(LearnedShortcuts::load(file), sample());
}

TEST_F(LearnedShortcutsFile, IllFormedTargetsAreRepairedNotABlockToSaving)
{
    LearnedShortcuts shortcuts;
    shortcuts.record("t", "w:term|\xFF title", at(1));
    ASSERT_EQ(shortcuts.save(file), std::nullopt);
    EXPECT_EQ(LearnedShortcuts::load(file).targets("t"), std::vector<std::string> {"w:term|\uFFFD title"});
}

} // namespace
} // namespace vantrel
