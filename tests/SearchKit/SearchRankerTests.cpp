// Ranking: best first, exact matches on top, ties by case-insensitive locale
// order and then input order, rejected candidates dropped, and the threaded
// ranking identical to the single-threaded one.
#include "EveryKernel.h"
#include "SearchKit/SearchRanker.h"
#include "SearchKit/TextUnicode.h"

#include <gtest/gtest.h>
#include <unicode/ucol.h>
#include <unicode/uniset.h>
#include <unicode/usetiter.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vantrel {
namespace {

using test::EveryKernel, test::randomLines;

struct Window {
    int id = 0;
    std::string appName;
    std::string title;
    bool operator==(const Window&) const = default;
};

const auto searchText = [](const Window& w) { return w.title.empty() ? w.appName : w.appName + " " + w.title; };
const auto appName = [](const Window& w) { return w.appName; };
const auto fullName = [](const Window& w) { return w.appName + " " + w.title; };
const auto self = [](const std::string& line) -> const std::string& { return line; };

std::vector<int> rankedIDs(const std::vector<Window>& windows, std::string_view query)
{
    std::vector<int> ids;
    for (const auto& entry : SearchRanker::rank(windows, query, SearchScorer(), searchText, fullName))
        ids.push_back(entry.item.id);
    return ids;
}

TEST(SearchRanker, BestScoreFirstWithoutRejectedCandidates)
{
    EXPECT_TRUE(rankedIDs({}, "").empty());
    const std::vector<Window> windows {{1, "Safari", "Apple"}, {2, "Mail", "Inbox"}, {3, "Music", "Mix"}};
    EXPECT_EQ(rankedIDs(windows, "xyz"), std::vector<int> {});
    EXPECT_EQ(rankedIDs(windows, "app"), std::vector<int> {1});
    auto ranked = SearchRanker::rank(windows, "mi", SearchScorer(), searchText, fullName);
    EXPECT_EQ(ranked, (std::vector<SearchRanker::Ranked<Window>> {{windows[1], *SearchScorer().match("mi", "Mail Inbox")},
                          {windows[2], *SearchScorer().match("mi", "Music Mix")}}));
}

TEST(SearchRanker, ManyScoresOfEitherSignAndInfinityComeBestFirst)
{
    // Enough candidates, and distinct scores, to be sorted by the scores'
    // bits: near and far matches score above and below zero, two exact
    // words infinity. Each line once, and each three times (a third as
    // many scores as candidates, sorted by the scores themselves), the
    // copies of a line in input order.
    for (const int copies : {1, 3}) {
        std::vector<Window> windows;
        auto add = [&](const std::string& text) {
            for (int c = 0; c < copies; ++c)
                windows.push_back({static_cast<int>(windows.size()), text, ""});
        };
        add("a");
        for (std::size_t i = 0; i < 2100; ++i)
            add(std::string(i, 'x') + " a" + std::string(i % 7, 'y'));
        add("A");
        const auto ranked = SearchRanker::rank(windows, "a a", SearchScorer(), searchText, fullName);
        ASSERT_EQ(ranked.size(), windows.size()); // negative scores are kept
        EXPECT_EQ(ranked[0].item.appName, "a");
        EXPECT_EQ(ranked[copies].item.appName, "A");
        EXPECT_EQ(ranked[copies].match.score, std::numeric_limits<double>::infinity());
        EXPECT_LT(ranked.back().match.score, 0);
        for (std::size_t k = 1; k < ranked.size(); ++k) {
            const auto& before = ranked[k - 1];
            const auto& after = ranked[k];
            ASSERT_GE(before.match.score, after.match.score) << k;
            if (before.match.score == after.match.score && before.item.appName == after.item.appName) {
                ASSERT_LT(before.item.id, after.item.id) << k;
            }
        }
    }
}

TEST(SearchRanker, EqualScoresFollowTheTiebreakIgnoringCase)
{
    const std::vector<Window> windows {{1, "mail", "Inbox"}, {2, "Mail", "Archive"}};
    // Both application names are exact matches of "mail": equal scores.
    auto ranked = SearchRanker::rank(windows, "mail", SearchScorer(), appName, fullName);
    ASSERT_EQ(ranked.size(), 2u);
    EXPECT_EQ(ranked[0].item.id, 2);
    EXPECT_EQ(ranked[0].match.score, ranked[1].match.score);
}

TEST(SearchRanker, EmptyQueryOrdersAlphabeticallyThenByInput)
{
    const std::vector<Window> windows {
        {1, "zed", ""}, {2, "Beta", ""}, {3, "alpha", ""}, {4, "beta", ""}, {5, "BETA", ""}, {6, "Alpha", "b"}};
    // Case is ignored: the three betas compare the same and keep input order.
    EXPECT_EQ(rankedIDs(windows, ""), (std::vector<int> {3, 6, 2, 4, 5, 1}));
    EXPECT_EQ(rankedIDs(windows, "   "), (std::vector<int> {3, 6, 2, 4, 5, 1}));
    for (const auto& entry : SearchRanker::rank(windows, "", SearchScorer(), searchText, appName))
        EXPECT_EQ(entry.match, SearchScorer::Match {});
}

std::vector<std::string> rankedTexts(const std::vector<std::string>& lines, std::string_view query)
{
    std::vector<std::string> result;
    for (const auto& entry : SearchRanker::rank(lines, query, SearchScorer(), self, self))
        result.push_back(entry.item);
    return result;
}

std::vector<std::string> collatorOrder(std::vector<std::string> lines)
{
    std::stable_sort(lines.begin(), lines.end(),
        [](const std::string& a, const std::string& b) { return TextUnicode::compareLocalized(a, b) < 0; });
    return lines;
}

// Tie keys are made sixteen bytes at a time: in one register with AVX-512
// and AVX2, as two words elsewhere, and byte by byte past an ignorable one.
TEST_P(EveryKernel, TiesFollowTheCollatorExactly)
{
    // The tie pass sorts by per-character primary weights and has the
    // collator confirm the result; the order must be the collator's.
    auto lines = randomLines(9, {"a", "A", "b", "B", "e", "\u00E9", "\u00C9", " ", "-", "_", ".", "1", "10", "2", "\u2014",
        "\u00D7", "\U0001F98A", "e\u0301", "\u00DF", "ss", "\xFF", "z", "\u03A3", "\u03C3", "l", "L", "\u00B7", "\u0627",
        "\u0653", "\u0622", "\uAC00", "\u1100", "\u30AB", "\u30FC", "\u0E40", "\u0E01", "\uFE0F"}, 3000, 6);
    EXPECT_EQ(rankedTexts(lines, ""), collatorOrder(lines));
    // ASCII alone takes the path without the collator.
    std::erase_if(lines, [](const std::string& line) { return !TextUnicode::isAscii(line); });
    EXPECT_EQ(rankedTexts(lines, ""), collatorOrder(lines));
    // Letters whose keys the collator need not confirm (Cyrillic, Greek,
    // CJK, Hangul, Arabic, kana): the keys alone order most neighbours.
    const auto certain = randomLines(11, {"\u0430", "\u0431", "\u0416", "\u03B1", "\u03A9", "\u4E2D", "\u6587", "\uAC00",
        "\u0628", "\u30AB", " ", "a", "Z"}, 3000, 12);
    EXPECT_EQ(rankedTexts(certain, ""), collatorOrder(certain));
    // Letters alone (keys made sixteen bytes at a time), of every length
    // around sixteen, each ending in "b" before the same in "a".
    std::vector<std::string> letters {"z"};
    for (std::size_t length = 0; length < 20; ++length) {
        const std::string head = std::string("abcdefghijklmnopqrst").substr(0, length);
        const std::string capitals = std::string("ABCDEFGHIJKLMNOPQRST").substr(0, length) + "A";
        letters.insert(letters.end(), {head + "b", capitals, head + "a"});
    }
    EXPECT_EQ(rankedTexts(letters, ""), collatorOrder(letters));
}

TEST_P(EveryKernel, TiesSharingLongBeginningsFollowTheCollator)
{
    // Tied texts of one application and folder differ only after a long
    // shared beginning, sometimes inside a character of several bytes (the
    // dashes share two), past a character beyond ASCII, or after many equal
    // characters; some are the beginning alone, or differ only in case.
    const std::vector<std::string> pieces {"a", "A", "b", "-", " ", "\u2014", "\u2013", "\u00D7", "\u4E00", "\x01", "1",
        "10", ".", "aaaaaaaaaaaaaaaaaa"};
    for (const std::string prefix : {"Terminal ~/src/project/", "", "\u2014 \u2014"}) {
        auto lines = randomLines(23, pieces, 2000, 5);
        for (auto& line : lines)
            line.insert(0, prefix);
        lines.push_back(prefix);
        EXPECT_EQ(rankedTexts(lines, ""), collatorOrder(lines)) << prefix;
        // The beginning in capitals on every third line: the lines then
        // share little of it byte for byte, and case must still be ignored.
        for (std::size_t k = 0; k < lines.size(); k += 3)
            std::transform(lines[k].begin(), lines[k].begin() + static_cast<std::ptrdiff_t>(prefix.size()), lines[k].begin(),
                [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
        EXPECT_EQ(rankedTexts(lines, ""), collatorOrder(lines)) << prefix;
    }
}

TEST(SearchRanker, TiesOfEveryRunLengthFollowTheCollator)
{
    // One letter over texts mostly beyond Latin ties them in runs of many
    // lengths, from pairs to about a hundred; runs are ordered by the collator
    // directly or by keys according to their length, and either way the
    // order must be score, then collator, then input.
    const auto lines = randomLines(31, {"\u0430", "\u0436", "\u4E2D", "\u6587", "\uAC00", "\u0628", "\u03B1", "\u2014",
        "\U0001F98A", " ", "a", "B", "x", "l\u00B7", "e\u0301"}, 4000, 7);
    std::vector<std::pair<double, std::size_t>> expected;
    const SearchScorer scorer;
    for (std::size_t k = 0; k < lines.size(); ++k)
        if (const auto score = scorer.score("a", lines[k]))
            expected.emplace_back(*score, k);
    std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first > b.first;
        return TextUnicode::compareLocalized(lines[a.second], lines[b.second]) < 0;
    });
    std::map<std::size_t, int> runLengths;
    for (std::size_t k = 0; k < expected.size();) {
        std::size_t end = k + 1;
        while (end < expected.size() && expected[end].first == expected[k].first)
            ++end;
        ++runLengths[end - k];
        k = end;
    }
    // (The test needs runs of many lengths.)
    ASSERT_GE(runLengths.size(), 20u);
    ASSERT_GT(runLengths.rbegin()->first, 50u);
    std::vector<std::string> ranked, want;
    for (const auto& entry : SearchRanker::rank(lines, "a", scorer, self, self))
        ranked.push_back(entry.item);
    for (const auto& [score, k] : expected)
        want.push_back(lines[k]);
    EXPECT_EQ(ranked, want);
}

TEST(SearchRanker, PlainTiesNeedNoCollatorWhereTheRulesAreRoot)
{
    const TextUnicode::PlainCollation* plain = TextUnicode::plainCollation();
    ASSERT_TRUE(plain || TextUnicode::collationLocale() != "root");
    if (plain == nullptr)
        GTEST_SKIP() << "collation of " << TextUnicode::collationLocale() << " is tailored";
    // What window titles are made of is covered; accents, combining marks,
    // contractions, expansions and ill-formed text are left to the collator.
    EXPECT_TRUE(plain->covers("Terminal ~/src \u2014 zsh \u2014 80\u00D724 \u2013 \u4E00 \u03A3\u03C2"));
    // Also amid a long text, and in its last few bytes after a covered letter.
    for (const std::string text : { "caf\u00E9", "a \u00B7 b", "cafe\u0301", "l\u00B7a", "\uAC00", "\uFB01", "\u212B", "\xFF", "\U0001F600" })
        for (const std::string& within : { text, "Terminal ~/src/project " + text + " zsh", "Terminal ~/src/project \u2014 " + text })
            EXPECT_FALSE(plain->covers(within)) << within;
    EXPECT_FALSE(plain->covers(std::string_view("x\u0431", 2))); // cut inside a letter

    // No contraction or context-dependent mapping of the root rules is made
    // of covered characters only, so that per character weights never miss
    // one in a covered text.
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCollator, decltype(&ucol_close)> root(ucol_open("", &status), ucol_close);
    icu::UnicodeSet contractions;
    ucol_getContractionsAndExpansions(root.get(), contractions.toUSet(), nullptr, true, &status);
    ASSERT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    int sequences = 0;
    for (icu::UnicodeSetIterator it(contractions); it.nextRange();) {
        if (!it.isString() || it.getString().countChar32() < 2)
            continue;
        std::string sequence;
        it.getString().toUTF8String(sequence);
        ++sequences;
        EXPECT_FALSE(plain->covers(sequence)) << sequence;
        // Nor does one begin with two characters whose keys are certain.
        EXPECT_FALSE(TextUnicode::keyIsCertain(static_cast<char32_t>(it.getString().char32At(0)))
            && TextUnicode::keyIsCertain(static_cast<char32_t>(it.getString().char32At(it.getString().moveIndex32(0, 1)))))
            << sequence;
    }
    EXPECT_GT(sequences, 100);

    // Every ASCII character, and characters either side of the line, with
    // letters, digits and separators (which carry their own weights) far
    // more likely than the rest. Pairs that both texts cover must compare
    // exactly as the collator does.
    std::mt19937 random(17);
    const std::vector<std::string> common { "a", "A", "b", "B", "z", "Z", "0", "9", " ", "-", ".", "_", "/", "~", "(",
        "[", "l", "L", "\u2014", "\u2013", "\u00D7", "\u00B7", "\u0387", "\u00E9", "\u0301", "\u00DF", "\u03A3",
        "\u03C3", "\u03C2", "\u0430", "\u0410", "\u0E01", "\u0E40", "\u4E00", "\uAC00", "\u200B", "\uFF21",
        "\u2126", "\u03A9", "\uFB01", "\u00A0", "\u2019", "\u201C", "\u2022", "\u00E6" };
    auto randomText = [&] {
        std::string text;
        for (int k = random() % 7; k > 0; --k) {
            if (random() % 4 == 0)
                text.push_back(static_cast<char>(random() % 128));
            else
                text += common[random() % common.size()];
        }
        return text;
    };
    auto sign = [](int order) { return (order > 0) - (order < 0); };
    int judged = 0;
    for (int i = 0; i < 40000; ++i) {
        const std::string a = randomText();
        const std::string b = random() % 3 == 0 ? a + randomText() : randomText();
        if (!plain->covers(a) || !plain->covers(b))
            continue;
        ++judged;
        ASSERT_EQ(sign(plain->compare(a, b)), sign(TextUnicode::compareLocalized(a, b))) << '"' << a << "\" vs \"" << b << '"';
    }
    EXPECT_GT(judged, 5000);

    // A character that looks plain on its own but differs from a letter
    // beyond the primary level (a stroke, a slash) would compare equal to it.
    for (char32_t c = 0x80; c < 0x3000; ++c) {
        const std::string text = TextUnicode::utf8(std::u32string(1, c));
        if (!plain->covers(text))
            continue;
        for (const char* letter : { "a", "d", "e", "i", "l", "n", "o", "s", "u", "z", "0", "-", " " })
            ASSERT_EQ(sign(plain->compare(text, letter)), sign(TextUnicode::compareLocalized(text, letter)))
                << "U+" << std::hex << static_cast<std::uint32_t>(c) << " vs \"" << letter << '"';
    }
}

TEST(SearchRanker, ContractionsOverruleCharacterWeights)
{
    // In the root rules "l\u00B7" is one collation element, the letter with
    // the middle dot as a small difference; character by character the dot
    // is punctuation and would sort "l\u00B7b" before "la".
    const std::vector<std::string> lines {"l\u00B7b", "la", "lb", "l\u00B7a"};
    std::string dotted, plain;
    ASSERT_TRUE(TextUnicode::appendApproximateCollationKey(lines[0], dotted));
    ASSERT_TRUE(TextUnicode::appendApproximateCollationKey(lines[1], plain));
    if (TextUnicode::collationLocale() == "root") {
        EXPECT_GT(TextUnicode::compareLocalized(lines[0], lines[1]), 0);
        EXPECT_LT(dotted, plain); // the keys mislead here
    }
    EXPECT_EQ(rankedTexts(lines, ""), collatorOrder(lines));
}

TEST(SearchRanker, ApproximateKeysJoinTheKeysOfEachCharacter)
{
    // Characters beyond ASCII, beyond the Basic Multilingual Plane, with
    // more weights than most (U+FDFA spells a phrase) and ill-formed bytes
    // (as U+FFFD), each seen again later from the cache; and a run of ASCII
    // letters, digits and spaces.
    const std::vector<std::string> pieces {"a", "Zo 4 b", "\u0436", "\u03A3", "\u4E2D", "\u0639", "\U0001F600", "\uFDFA", "\xFF", "\uFFFD", " ", "\u0301"};
    auto key = [](std::string_view text) {
        std::string bytes;
        EXPECT_TRUE(TextUnicode::appendApproximateCollationKey(text, bytes));
        return bytes;
    };
    std::string joined, text;
    for (int round = 0; round < 2; ++round) {
        for (const std::string& piece : pieces) {
            joined += key(piece);
            text += piece;
        }
    }
    const std::string whole = key(text);
    EXPECT_EQ(whole, joined);
    // A limited key is the whole key's beginning, appended after what was
    // there; where it stopped, the rest of the key goes on.
    for (std::size_t limit = 0; limit <= whole.size() + 1; ++limit) {
        std::string limited = "x";
        TextUnicode::KeyResume resume;
        TextUnicode::appendApproximateCollationKey(text, limited, limit, &resume);
        EXPECT_EQ(limited, "x" + whole.substr(0, limit)) << limit;
        const std::string rest = key(std::string_view(text).substr(resume.offset));
        EXPECT_EQ(limited.substr(1) + rest.substr(std::min(resume.skip, rest.size())), whole) << limit;
        // The same key written into room of only the limit and four bytes:
        // a character with more weights than fit is cut at the room's end.
        std::string room(limit + 4, '\0');
        TextUnicode::KeyResume roomResume;
        const std::optional<std::size_t> written = TextUnicode::writeApproximateCollationKey(text, room, limit, &roomResume);
        ASSERT_TRUE(written) << limit;
        EXPECT_EQ(room.substr(0, *written), whole.substr(0, limit)) << limit;
        EXPECT_EQ(std::pair(roomResume.offset, roomResume.skip), std::pair(resume.offset, resume.skip)) << limit;
        // Room for less, or no limit at all, is refused.
        EXPECT_FALSE(TextUnicode::writeApproximateCollationKey(text, std::span(room).first(limit + 3), limit)) << limit;
    }
    std::array<char, 64> room;
    EXPECT_FALSE(TextUnicode::writeApproximateCollationKey(text, room, std::string::npos));
    // (A text cut inside a sequence is ill-formed there.)
    EXPECT_EQ(key("\xFF"), key("\uFFFD"));
    EXPECT_EQ(key(std::string_view("\u0431", 1)), key("\uFFFD"));
    // Letters beyond ASCII get keys that order them as the collator does.
    EXPECT_LT(key("\u0431"), key("\u0436"));
    EXPECT_FALSE(key("\u0431").empty());
    EXPECT_GT(key("\uFDFA").size(), 8u);
    // Under the root rules a key is certain up to the character before one
    // that a contraction may join to it (seen past a limit too), and to
    // its end where there is none.
    if (TextUnicode::plainCollation() == nullptr)
        return;
    const std::string a = key("a"), al = key("al");
    std::string appended;
    std::size_t certain = 0;
    for (const std::size_t limit : { std::string::npos, al.size() }) {
        TextUnicode::appendApproximateCollationKey("al\u00B7b", appended, limit, nullptr, &certain);
        EXPECT_EQ(certain, a.size()) << limit;
    }
    TextUnicode::appendApproximateCollationKey("a\u0436\uAC00\U0001F600", appended, std::string::npos, nullptr, &certain);
    EXPECT_EQ(certain, std::string::npos);
}

TEST(SearchRanker, RankingFromInsideARankingLeavesBothIntact)
{
    // A tiebreak that ranks in turn, on the same thread, while the outer
    // ranking still holds its matches: each needs working memory of its own.
    const std::vector<Window> windows {{1, "Mail", "b"}, {2, "Mail", "a"}, {3, "Maps", "c"}, {4, "Mail", "a"}};
    const auto expected = SearchRanker::rank(windows, "ma", SearchScorer(), searchText, fullName);
    int calls = 0, intact = 0;
    auto rankingTiebreak = [&](const Window& w) {
        ++calls;
        intact += SearchRanker::rank(windows, "ma", SearchScorer(), searchText, fullName) == expected;
        return fullName(w);
    };
    EXPECT_EQ(SearchRanker::rank(windows, "ma", SearchScorer(), searchText, rankingTiebreak), expected);
    EXPECT_GT(calls, 0);
    EXPECT_EQ(intact, calls);
}

TEST(SearchRanker, ThreadedRankingIsIdentical)
{
    // Many ties (few distinct words) so that the collation pass matters.
    const auto lines = randomLines(5, {"Safari ", "safari ", "Terminal ", "Mail ", "Code ", "Inbox ", "ssh ", "main.cpp ",
        "Start ", "Page ", "notes ", "Notes ", "x "}, 12000, 4);
    for (std::string_view query : {"sa", "ma in", "", "tmn"}) {
        // Threaded first: the buffers it reuses must not hold the single ranking's answer.
        auto threaded = SearchRanker::rankParallel(lines, query, SearchScorer(), self, self, 2);
        auto single = SearchRanker::rank(lines, query, SearchScorer(), self, self);
        EXPECT_TRUE(single == threaded) << query;
        // Without positions: the same items and scores in the same order.
        auto scoresOnly = SearchRanker::rankParallel(lines, query, SearchScorer(), self, self, 2, false);
        for (auto& entry : single)
            entry.match.positions.clear();
        EXPECT_TRUE(scoresOnly == single) << query;
    }
    // A ranking on another thread at the same time, and rankings from inside
    // a ranking (its tiebreak, once on each thread it runs on), find the
    // threads kept for rankings busy: each starts its own, and asking for
    // threads ahead leaves them alone.
    const auto expected = SearchRanker::rank(lines, "sa", SearchScorer(), self, self);
    std::mutex mutex;
    std::set<std::thread::id> nestedOn;
    int intact = 0;
    auto nesting = [&](const std::string& line) -> const std::string& {
        {
            std::lock_guard lock(mutex);
            if (!nestedOn.insert(std::this_thread::get_id()).second)
                return line;
        }
        SearchRanker::prepareThreads(4);
        const bool same = SearchRanker::rankParallel(lines, "sa", SearchScorer(), self, self, 2) == expected;
        std::lock_guard lock(mutex);
        intact += same;
        return line;
    };
    std::thread other([&] {
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(SearchRanker::rankParallel(lines, "sa", SearchScorer(), self, self, 3) == expected);
    });
    EXPECT_TRUE(SearchRanker::rankParallel(lines, "sa", SearchScorer(), self, nesting, 2) == expected);
    other.join();
    EXPECT_EQ(nestedOn.size(), 2u);
    EXPECT_EQ(intact, 2);
}

} // namespace
} // namespace vantrel
