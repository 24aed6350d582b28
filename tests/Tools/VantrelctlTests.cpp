// vantrelctl run as scripts and users run it: the search commands' exact
// JSON, ill-formed input repaired and malformed batch lines reported in place,
// and the desktop commands on the simulated sample desktop.
#include "SearchKit/SearchRanker.h"
#include "SearchKit/TextUnicode.h"
#include "Support/ChildProcess.h"
#include "Support/ScratchFiles.h"
#include "SystemBridge/PrivateSymbols.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

/// Runs vantrelctl to its end with `arguments` (none holds a single quote)
/// and `input` on standard input, which is a file or, when `piped`, a pipe:
/// what it printed (standard error too) and its exit code.
test::CommandOutput vantrelctl(const std::vector<std::string>& arguments, const std::string& input = "",
    bool piped = false, const std::string& environment = "")
{
    const auto inputFile = std::filesystem::temp_directory_path() / ("vantrelctl-in-" + std::to_string(getpid()));
    std::ofstream(inputFile, std::ios::binary) << input;
    std::string command = environment + " " + (piped ? "cat " + inputFile.string() + " | " : "") + VANTRELCTL_PATH;
    for (const auto& argument : arguments)
        command += " '" + argument + "'";
    if (!piped)
        command += " < " + inputFile.string();
    auto output = test::runCommand(command + " 2>&1");
    std::filesystem::remove(inputFile);
    return output;
}

/// The lines of `text` parsed as JSON, or only every `stride`-th (null between).
std::vector<json> jsonLines(const std::string& text, std::size_t stride = 1)
{
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(lines.size() % stride == 0 ? json::parse(line) : json());
    return lines;
}

TEST(VantrelctlScore, PrintsScoreAndPositionsOrNull)
{
    EXPECT_NEAR(json::parse(vantrelctl({"score", "sa", "Safari Apple"}).text).at("score").get<double>(), 3.55, 1e-3);
    EXPECT_EQ(vantrelctl({"score", "mail mail", "mail"}).text, "{\"score\": \"inf\", \"positions\": [0, 0, 1, 1, 2, 2, 3, 3]}\n");
    // Round-trip precision: the largest finite double survives.
    EXPECT_EQ(json::parse(vantrelctl({"score", "mail", "mail"}).text).at("score").get<double>(),
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
    EXPECT_EQ(lines[0].at("positions"), json::parse("[2, 7]"));
    EXPECT_TRUE(lines[1].contains("error"));
    EXPECT_EQ(lines[2].at("positions"), json::parse("[3]"));
    EXPECT_TRUE(lines[3].is_null());
}

TEST(VantrelctlRank, BestFirstWithRepairedText)
{
    auto result = vantrelctl({"rank", "mai"}, "Safari Apple\nMail\x01 \"Inbox\"\t\n\xFF mail\\ \xC3\nmail\n");
    ASSERT_EQ(result.status, 0);
    const auto lines = jsonLines(result.text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].at("text"), "mail");
    EXPECT_EQ(lines[1].at("text"), "Mail\x01 \"Inbox\"\t");
    EXPECT_EQ(lines[2].at("text"), "\uFFFD mail\\ \uFFFD");
    EXPECT_EQ(lines[2].at("positions"), json::parse("[2, 3, 4]"));

    EXPECT_EQ(vantrelctl({"rank", "--plain", "ma"}, "Safari Apple\nMail Inbox\nmail\nGmail\n").text, "mail\nMail Inbox\nGmail\n");
    EXPECT_EQ(vantrelctl({"rank", "--plain", "ma"}, "\xFF mail \xC3\xA9t\xC3\n").text, "\uFFFD mail \u00E9t\uFFFD\n");
    EXPECT_EQ(vantrelctl({"rank", "zzz"}, "Safari\n").text, "");
    EXPECT_EQ(vantrelctl({"rank", "--plain", "s"}, "").text, "");
}

TEST(VantrelctlRank, PipedInputIsReadWhole)
{
    // A pipe is read in blocks: more than the first block's megabyte makes
    // the buffer grow, and the last line has no newline.
    std::string lines;
    for (int i = 0; i < (1 << 14); ++i)
        lines += "Mail Inbox: a title long enough that a few lines make more than a megabyte\n";
    lines.pop_back();
    EXPECT_EQ(vantrelctl({"rank", "--plain", "mai"}, lines, true).text, lines + "\n");
}

TEST(VantrelctlRank, ManyLinesTakeMemoryNearTheirSize)
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
}

TEST(VantrelctlRank, ManyLinesRankAsInOneRanking)
{
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
    const auto expected = SearchRanker::rank(lines, "a", SearchScorer(), self, self);
    std::string plain;
    for (const auto& entry : expected) {
        TextUnicode::appendSanitizedUtf8(entry.item, plain);
        plain += "\n";
    }
    EXPECT_EQ(vantrelctl({"rank", "--plain", "a"}, input).text, plain);
    // Scores and positions, every 997th line.
    const std::string output = vantrelctl({"rank", "a"}, input).text;
    const auto ranked = jsonLines(output, 997);
    ASSERT_EQ(ranked.size(), expected.size());
    EXPECT_TRUE(output.ends_with('\n'));
    for (std::size_t k = 0; k < expected.size(); k += 997) {
        EXPECT_EQ(ranked[k].at("score").get<double>(), expected[k].match.score) << k;
        EXPECT_EQ(ranked[k].at("positions").get<std::vector<int>>(), expected[k].match.positions) << k;
    }
}

TEST(VantrelctlFront, SearchesAloneAndHandsOtherCommandsOn)
{
    // The search commands need nothing beside the program; the others are
    // run by vantrelctl-desktop, and without it the program says so.
    const test::ScratchFolder scratch;
    const auto alone = scratch.path / "vantrelctl";
    std::filesystem::copy_file(VANTRELCTL_PATH, alone);
    auto run = [&](const std::string& arguments) { return test::runCommand(alone.string() + " " + arguments + " 2>&1 < /dev/null"); };
    const auto score = run("score ter Terminal");
    EXPECT_EQ(score.status, 0);
    EXPECT_EQ(json::parse(score.text)["positions"], json({0, 1, 2}));
    const auto windows = run("windows --backend sim");
    EXPECT_EQ(windows.status, 2);
    EXPECT_NE(windows.text.find("cannot run " + (scratch.path / "vantrelctl-desktop").string()), std::string::npos)
        << windows.text;
}

TEST(VantrelctlFront, HelpNamesSearchAndDesktopCommands)
{
    const auto help = vantrelctl({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.text.find("windows"), std::string::npos);
    EXPECT_NE(help.text.find("rank"), std::string::npos);
}

TEST(VantrelctlSymbols, PrintsFourteenRowsInTableOrder)
{
    auto run = vantrelctl({"symbols", "--backend", "sim"});
    ASSERT_EQ(run.status, 0) << run.text;
    std::istringstream lines(run.text);
    std::vector<std::string> names;
    for (std::string name, resolved; lines >> name >> resolved;) {
        names.push_back(name);
        EXPECT_EQ(resolved, "true") << name;
    }
    EXPECT_EQ(names, std::vector<std::string>(PrivateSymbols::knownNames.begin(), PrivateSymbols::knownNames.end()));
}

TEST(VantrelctlSpaces, PrintsTheSampleDesktopAsOneObject)
{
    auto run = vantrelctl({"spaces", "--backend", "sim"});
    ASSERT_EQ(run.status, 0) << run.text;
    auto result = json::parse(run.text);
    ASSERT_EQ(result["displays"].size(), 2u);
    const auto& first = result["displays"][0];
    EXPECT_TRUE(first["displayUUID"].is_string());
    EXPECT_EQ(first["currentSpaceID"], 1);
    EXPECT_EQ(first["spaces"][2], json::parse(R"({"id": 7, "managedID": 7, "uuid": "A1F4C0DE-0007-4000-8000-000000000007",
        "type": 4})"));
    EXPECT_EQ(result["visibleSpaceIDs"], json::array({1, 12}));
    EXPECT_EQ(result["activeSpaceID"], 1);
}

// Every command chooses its backend through the same code: one command stands for all.
TEST(VantrelctlBackends, UnknownBackendsAndStrayArgumentsAreErrors)
{
    auto unknown = vantrelctl({"windows", "--backend", "wayland"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.text.find("unknown backend 'wayland'"), std::string::npos) << unknown.text;
    EXPECT_NE(vantrelctl({"symbols", "--backend", "sim", "extra"}).status, 0);
}

TEST(VantrelctlBackends, WithoutAnXServerTheX11CommandsNameTheDisplay)
{
    for (const char* command : {"windows", "keys"}) {
        const auto failed = vantrelctl({command}, "", false, "DISPLAY=:65000");
        EXPECT_NE(failed.status, 0);
        EXPECT_NE(failed.text.find("cannot open the X display ':65000'"), std::string::npos) << failed.text;
    }
}

TEST(VantrelctlWindows, PrintsTheStoresWindowsAndSpacesAsOneObject)
{
    auto run = vantrelctl({"windows", "--backend", "sim"});
    ASSERT_EQ(run.status, 0) << run.text;
    auto result = json::parse(run.text);
    // The sample's regular applications only (its accessory clock is not tracked):
    // the frontmost application's window first, as focused before the start,
    // then the rest in snapshot order.
    std::vector<unsigned> ids;
    for (const auto& window : result["windows"])
        ids.push_back(window["id"].get<unsigned>());
    EXPECT_EQ(ids, (std::vector<unsigned>{201, 204, 203, 202}));
    EXPECT_EQ(result["windows"][1], json::parse(R"({"id": 204, "pid": 102, "bundleID": "org.example.Browser",
        "appName": "Browser", "title": "Video", "isMinimized": false, "isAppHidden": false, "spaceIDs": [7]})"));
    EXPECT_EQ(result["visibleSpaceIDs"], json::array({1, 12}));
    EXPECT_EQ(result["fullscreenSpaceIDs"], json::array({7}));
    EXPECT_EQ(result["spaceNumbers"]["12"], 4);
}

TEST(VantrelctlWindows, WatchingEndsCleanlyOnInterruptAndTermination)
{
    for (int signal : {SIGINT, SIGTERM}) {
        auto process = test::ChildProcess::spawn(
            {.argv = {VANTRELCTL_PATH, "windows", "--backend", "sim", "--watch"}, .environment = {}, .pipeStdout = true});
        ASSERT_NE(process, nullptr);
        ASSERT_TRUE(process->readLine(10s).has_value());
        // Quiet desktop: no second line.
        EXPECT_FALSE(process->readLine(300ms).has_value());
        EXPECT_TRUE(process->isRunning());
        ASSERT_EQ(::kill(process->pid(), signal), 0);
        auto status = process->waitForExit(10s);
        ASSERT_TRUE(status.has_value()) << "still running after signal " << signal;
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status << " after signal " << signal;
    }
}

TEST(VantrelctlPanelShot, WritesEveryRenderItsHelpNamesAsAPng)
{
    auto help = vantrelctl({"panel-shot", "--help"});
    ASSERT_EQ(help.status, 0) << help.text;
    std::vector<std::string> stems;
    std::istringstream lines(help.text);
    for (std::string line; std::getline(lines, line);)
        if (auto brace = line.find("-{light,dark}-{1.0,1.5}.png"); line.starts_with("  ") && brace != std::string::npos)
            stems.push_back(line.substr(2, brace - 2));
    ASSERT_GE(stems.size(), 3u) << help.text;

    const test::ScratchFolder scratch;
    const std::string dir = scratch.path.string();
    auto run = vantrelctl({"panel-shot", "--out", dir + "/out"});
    ASSERT_EQ(run.status, 0) << run.text;
    for (const auto& stem : stems)
        for (const char* variant : {"-light-1.0.png", "-dark-1.0.png", "-light-1.5.png", "-dark-1.5.png"}) {
            std::ifstream file(dir + "/out/" + stem + variant, std::ios::binary);
            std::string header(4, '\0');
            ASSERT_TRUE(file.read(header.data(), 4)) << stem << variant;
            EXPECT_EQ(header, "\x89PNG") << stem << variant;
        }
}

TEST(VantrelctlSwitchSim, DrivesBothControllersThroughTheSimulatedKeyboard)
{
    auto run = vantrelctl({"switch-sim", "--delay", "0", "--pause", "Mail", "press", "release", "press", "close", "2", "action",
        "close", "release", "flags", "none", "search", "type", "vim", "return", "fast", ">", "front", "103", "press"});
    ASSERT_EQ(run.status, 0) << run.text;
    // The rows a closed window leaves keep the selection on the same window.
    std::vector<std::string> wanted = {"panel: select 2 #3 Mail — Inbox", "panel: update 7 rows", "> #3 Mail — Inbox",
                                       "close #3 Mail — Inbox", "focus #3 Mail — Inbox",
                                       "search: update, 1 rows", "focus #4 Terminal — vim notes.md",
                                       "search: select 1 #3 Mail — Inbox", "focus #3 Mail — Inbox",
                                       "the frontmost program gets key 48"};
    std::size_t at = 0;
    for (const auto& line : wanted) {
        at = run.text.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << run.text;
    }
}

} // namespace
} // namespace vantrel
