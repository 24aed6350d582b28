// `vantrelctl score` and `vantrelctl rank` as scripts see them: exact JSON,
// ill-formed input repaired, malformed batch lines reported in place.
#include "SearchKit/SearchRanker.h"
#include "SearchKit/TextUnicode.h"
#include "Support/ChildProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using vantrel::test::runCommand;

std::string quoted(const std::string& argument)
{
    std::string result = "'";
    for (char c : argument)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

/// Runs vantrelctl with `arguments` and `input` on standard input, which is
/// a file or, when `piped`, a pipe.
vantrel::test::CommandOutput vantrelctl(const std::vector<std::string>& arguments, const std::string& input = "",
    bool piped = false, const std::string& environment = "")
{
    const auto inputFile = std::filesystem::temp_directory_path() / ("vantrelctl-in-" + std::to_string(getpid()));
    std::ofstream(inputFile, std::ios::binary) << input;
    std::string command = environment + " " + (piped ? "cat " + inputFile.string() + " | " : "") + VANTRELCTL_PATH;
    for (const auto& argument : arguments)
        command += " " + quoted(argument);
    if (!piped)
        command += " < " + inputFile.string();
    auto output = runCommand(command);
    std::filesystem::remove(inputFile);
    return output;
}

std::vector<nlohmann::json> jsonLines(const std::string& text)
{
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

TEST(VantrelctlScore, PrintsScoreAndPositionsOrNull)
{
    auto result = vantrelctl({"score", "sa", "Safari Apple"});
    ASSERT_EQ(result.status, 0);
    const auto json = nlohmann::json::parse(result.text);
    EXPECT_NEAR(json.at("score").get<double>(), 3.55, 1e-3);
    EXPECT_EQ(json.at("positions"), nlohmann::json::parse("[0, 1]"));

    EXPECT_EQ(vantrelctl({"score", "xyz", "Safari"}).text, "null\n");
    EXPECT_EQ(vantrelctl({"score", "mail mail", "mail"}).text, "{\"score\": \"inf\", \"positions\": [0, 0, 1, 1, 2, 2, 3, 3]}\n");
    // Round-trip precision: the largest finite double survives.
    EXPECT_EQ(nlohmann::json::parse(vantrelctl({"score", "mail", "mail"}).text).at("score").get<double>(),
        1.7976931348623157e308);
    EXPECT_EQ(vantrelctl({"score", "ba", "xa b"}).text, "null\n");
    EXPECT_NE(vantrelctl({"score", "--allow-mismatch", "ba", "xa b"}).text, "null\n");
    EXPECT_EQ(vantrelctl({"score", "only-one"}).status, 2);
}

TEST(VantrelctlScore, BatchAnswersLineByLine)
{
    auto result = vantrelctl({"score", "--batch"},
        "{\"query\": \"fa\", \"text\": \"Safari Apple\", \"allowOneMismatch\": false}\n"
        "not json\n"
        "{\"query\": \"ba\", \"text\": \"xa b\", \"allowOneMismatch\": true}\n"
        "{\"query\": \"q\", \"text\": \"Safari\"}\n");
    EXPECT_EQ(result.status, 1);
    const auto lines = jsonLines(result.text);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].at("positions"), nlohmann::json::parse("[2, 7]"));
    EXPECT_TRUE(lines[1].contains("error"));
    EXPECT_EQ(lines[2].at("positions"), nlohmann::json::parse("[3]"));
    EXPECT_TRUE(lines[3].is_null());
}

TEST(VantrelctlRank, BestFirstWithRepairedText)
{
    auto result = vantrelctl({"rank", "mai"}, "Safari Apple\nMail \"Inbox\"\n\xFF mail\\ \xC3\nmail\n");
    ASSERT_EQ(result.status, 0);
    const auto lines = jsonLines(result.text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].at("text"), "mail");
    EXPECT_EQ(lines[1].at("text"), "Mail \"Inbox\"");
    EXPECT_EQ(lines[2].at("text"), "\uFFFD mail\\ \uFFFD");
    EXPECT_EQ(lines[2].at("positions"), nlohmann::json::parse("[2, 3, 4]"));
    EXPECT_GE(lines[0].at("score").get<double>(), lines[1].at("score").get<double>());

    auto plain = vantrelctl({"rank", "--plain", "ma"}, "Safari Apple\nMail Inbox\nmail\nGmail\n");
    EXPECT_EQ(plain.text, "mail\nMail Inbox\nGmail\n");
    EXPECT_EQ(vantrelctl({"rank", "--plain", "ma"}, "\xFF mail \xC3\xA9t\xC3\n").text, "\uFFFD mail \u00E9t\uFFFD\n");
    EXPECT_EQ(vantrelctl({"rank", "zzz"}, "Safari\n").text, "");
    EXPECT_EQ(vantrelctl({"rank", "--plain", "s"}, "").text, "");
}

TEST(VantrelctlRank, PipedInputRanksAsAFileDoes)
{
    // A file is mapped, a pipe read in blocks; more than the first block's
    // megabyte makes the buffer grow, and the last line has no newline.
    std::string input;
    for (int i = 0; input.size() < (std::size_t {3} << 19); ++i)
        input += (i % 3 == 0 ? "Mail Inbox " : i % 3 == 1 ? "Terminal ssh " : "Safari Apple ") + std::to_string(i) + "\n";
    input += "Mail last";
    const auto fromFile = vantrelctl({"rank", "--plain", "mai"}, input);
    const auto fromPipe = vantrelctl({"rank", "--plain", "mai"}, input, true);
    ASSERT_EQ(fromFile.status, 0);
    ASSERT_EQ(fromPipe.status, 0);
    EXPECT_EQ(fromPipe.text, fromFile.text);
    EXPECT_NE(fromFile.text.find("Mail last\n"), std::string::npos);
    EXPECT_EQ(std::count(fromFile.text.begin(), fromFile.text.end(), '\n'), std::count(input.begin(), input.end(), 'M'));
}

TEST(VantrelctlRank, ManyLinesRankAsInOneRankingInMemoryNearTheInputs)
{
    // Half a million one-letter lines took some 200 bytes a line, all held
    // at once. (The sanitizers' quarantine would keep freed memory in use.)
    std::string letters;
    for (int i = 0; i < (1 << 19); ++i)
        letters += "a\n";
    EXPECT_EQ(vantrelctl({"rank", "--plain", "a"}, letters, false, "ASAN_OPTIONS=\"$ASAN_OPTIONS:quarantine_size_mb=0\"").text,
        letters);
    struct rusage usage {};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 80 << 10) << "KiB";

    // Ties across all of the input (equal texts, texts equal but for case,
    // texts beyond what plain collation covers) and lines that do not
    // match, over more lines than one ranking takes.
    const char* const kinds[] = {"a", "A", "b a", "\u00E1a", "ab", "", "xyz", "A b", "za", "a\u0301", "-a-"};
    std::vector<std::string> lines;
    std::string input;
    for (std::size_t i = 0; i < 280000; ++i) {
        lines.push_back(kinds[(i * 7 + i / 5) % std::size(kinds)] + (i % 13 == 0 ? " " + std::to_string(i) : ""));
        input += lines.back() + "\n";
    }
    auto self = [](const std::string& line) -> const std::string& { return line; };
    const auto expected = vantrel::SearchRanker::rank(lines, "a", vantrel::SearchScorer(), self, self);
    std::string plain;
    for (const auto& entry : expected) {
        vantrel::TextUnicode::appendSanitizedUtf8(entry.item, plain);
        plain += "\n";
    }
    EXPECT_EQ(vantrelctl({"rank", "--plain", "a"}, input).text, plain);
    // Scores and positions, every 997th line.
    const std::string json = vantrelctl({"rank", "a"}, input).text;
    std::size_t start = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const std::size_t end = json.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        if (k % 997 == 0) {
            const auto line = nlohmann::json::parse(json.substr(start, end - start));
            EXPECT_EQ(line.at("score").get<double>(), expected[k].match.score) << k;
            EXPECT_EQ(line.at("positions").get<std::vector<int>>(), expected[k].match.positions) << k;
        }
        start = end + 1;
    }
    EXPECT_EQ(start, json.size());
}

TEST(VantrelctlFront, SearchesAloneAndHandsOtherCommandsOn)
{
    // The search commands need nothing beside the program; the others are
    // run by vantrelctl-desktop, and without it the program says so.
    const auto directory = std::filesystem::temp_directory_path() / ("vantrelctl-alone-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    const auto alone = directory / "vantrelctl";
    std::filesystem::copy_file(VANTRELCTL_PATH, alone, std::filesystem::copy_options::overwrite_existing);
    auto run = [&](const std::string& arguments) { return runCommand(alone.string() + " " + arguments + " 2>&1 < /dev/null"); };
    const auto score = run("score ter Terminal");
    EXPECT_EQ(score.status, 0);
    EXPECT_EQ(nlohmann::json::parse(score.text)["positions"], nlohmann::json({0, 1, 2}));
    const auto windows = run("windows --backend sim");
    EXPECT_EQ(windows.status, 2);
    EXPECT_NE(windows.text.find("cannot run " + (directory / "vantrelctl-desktop").string()), std::string::npos)
        << windows.text;
    std::filesystem::remove_all(directory);

    // Beside it, the same commands run there, help included.
    const auto help = vantrelctl({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.text.find("windows"), std::string::npos);
    EXPECT_NE(help.text.find("rank"), std::string::npos);
}

} // namespace
