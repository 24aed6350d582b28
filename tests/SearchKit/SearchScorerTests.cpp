// The scorer's contract: exact scores built from the named weights, positions,
// the walk-back's tie rules, the one-mismatch retry, the slow path, and the
// kernels of every instruction set checked against the plain scorer.
#include "EveryKernel.h"
#include "Runtime/Utf8Repair.h"
#include "SearchKit/PlainScorer.h"
#include "SearchKit/SearchScorer.h"
#include "SearchKit/TextUnicode.h"

#include <gtest/gtest.h>

#include <random>

namespace vantrel {
namespace {

using test::EveryKernel, test::randomLines;
const SearchScorer::Weights w;

INSTANTIATE_TEST_SUITE_P(Kernels, EveryKernel,
    testing::Values(SearchKernel::avx512, SearchKernel::avx2, SearchKernel::scalar), [](const auto& info) {
        std::string name(kernelName(info.param));
        std::erase(name, '-');
        return name;
    });

// One text scored with the default weights unless the row gives a scorer:
// the exact score as a sum of the named weights, the positions, and where
// given the score to three places.
struct Exact {
    std::string_view name, query, text;
    double score;
    std::vector<int> positions;
    std::optional<double> rounded = {};
    SearchScorer scorer = {};
};

const double c3 = w.consecutive + w.consecutiveGrowth, c4 = w.consecutive + 2 * w.consecutiveGrowth;
const SearchScorer::Weights strongSlash {.afterSlash = 3};
// U+0130 lower-cases to "i" + U+0307, so the text grows by one scalar.
const std::string istanbul = "\u0130stanbulCity";

const Exact exact[] {
    // Queries under three scalars earn boosted boundaries.
    {"ShortQueryCountsTheFirstBoundaryTwice", "sa", "Safari Apple",
        2 * w.afterSlash + 2 * w.afterSlash + 10 * w.gapTrailing, {0, 1}, 3.55},
    {"WordStartBeatsARun", "fa", "Safari Apple",
        2 * w.gapLeading + 4 * w.gapInner + 2 * w.wordStart + 4 * w.gapTrailing, {2, 7}, 1.53},
    {"ShortQueryCamelCase", "gh", "GitHub", 2 * w.afterSlash + 2 * w.gapInner + 2 * w.camelCase + 2 * w.gapTrailing,
        {0, 3}, 3.17},
    // Longer queries use the consecutive growth.
    {"RunGrowsInLongerWords", "inb", "Mail Inbox", w.wordStart + 5 * w.gapLeading + 2 * c3 + 2 * w.gapTrailing,
        {5, 6, 7}, 3.065},
    {"WordsAddUp", "term ssh", "Terminal ssh host",
        (w.afterSlash + 3 * c4 + 13 * w.gapTrailing) + (w.wordStart + 9 * w.gapLeading + 2 * c3 + 5 * w.gapTrailing),
        {0, 1, 2, 3, 9, 10, 11}, 7.765},
    // A boundary bonus larger than the run's is earned again by every
    // character of the run after it; without a boundary the run earns the
    // consecutive bonus only.
    {"StrongSlashBonusCarriesAlongTheRun", "foo", "x/foo", 3 + 2 * strongSlash.gapLeading + 3 + 3, {2, 3, 4}, {},
        SearchScorer(strongSlash, false)},
    {"RunWithoutBoundaryEarnsTheConsecutiveBonus", "foo", "xxfoo",
        2 * strongSlash.gapLeading + 2 * (strongSlash.consecutive + strongSlash.consecutiveGrowth), {2, 3, 4}, {},
        SearchScorer(strongSlash, false)},
    {"BoostedSlashBonusCarries", "fo", "x/foo", 2 * w.afterSlash + 2 * w.gapLeading + 2 * w.afterSlash + w.gapTrailing,
        {2, 3}},
    // With every gap and the short run bonus at zero both placements of "b"
    // tie, and the walk-back keeps the latest qualifying cell.
    {"TiedPlacementsKeepTheLaterEnd", "ab", "abab", 0, {2, 3}, {},
        SearchScorer({.afterSlash = 0, .gapLeading = 0, .gapTrailing = 0, .gapInner = 0, .shortQueryConsecutive = 0},
            false)},
    // Once a character was reached by extending a run, the walk-back stays in
    // the run even though the earlier "a" at 0 is the row's best ending.
    {"WalkBackStaysInTheRun", "ab", "a.ab", 2 * w.afterDot + 2 * w.gapLeading + 2 * w.afterDot, {2, 3}},
    // "ba" is not a subsequence of "xa b"; leaving out "a" finds the word-start
    // "b", which beats leaving out "b" (an unboosted inner "a").
    {"MismatchLeavesOutTheCharacterThatScoresLess", "ba", "xa b",
        w.mismatchPenalty + 2 * w.wordStart + 3 * w.gapLeading, {3}, {}, SearchScorer({}, true)},
    // Bonuses on the lower-cased text: no camel-case bonus for "C", and the
    // boost counts word scalars only.
    {"LengthChangingTextScoresItsLowerCasedScalars", "ic", istanbul,
        2 * w.afterSlash + 8 * w.gapInner + 3 * w.gapTrailing, {0, 9}},
    // An emoji is one scalar; the "F" after the blank is at 2.
    {"EmojiIsOneScalar", "ff", "\U0001F98A FireFox",
        2 * w.wordStart + 2 * w.gapLeading + 3 * w.gapInner + 2 * w.camelCase + 2 * w.gapTrailing, {2, 6}},
};

using SearchScorerExact = testing::TestWithParam<Exact>;

TEST_P(SearchScorerExact, ScoreAndPositions)
{
    const Exact& row = GetParam();
    const auto match = row.scorer.match(row.query, row.text).value();
    EXPECT_NEAR(match.score, row.score, 1e-9);
    EXPECT_EQ(match.positions, row.positions);
    if (row.rounded) {
        EXPECT_NEAR(*row.scorer.score(row.query, row.text), *row.rounded, 1e-3);
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, SearchScorerExact, testing::ValuesIn(exact),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SearchScorerBoundaries, SeparatorsAndCaseChanges)
{
    const SearchScorer scorer;
    const auto bonus = scorer.boundaryBonus(U"a b(c-d[e_f.g/h\u2013i\u2014j\u00B7kL)m:n,o1P", 3);
    const double s = w.wordStart;
    const std::vector<double> expected {w.afterSlash, 0, s, 0, s, 0, s, 0, s, 0, s, 0, w.afterDot, 0, w.afterSlash, 0,
        s, 0, s, 0, s, w.camelCase, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bonus, expected);
    // Nothing for an empty text (queries under three scalars are the exact table's).
    EXPECT_TRUE(scorer.boundaryBonus(U"", 1).empty());
    // Case properties beyond ASCII: é then É is a camel-case change.
    EXPECT_EQ(scorer.boundaryBonus(U"\u00E9\u00C9", 5)[1], w.camelCase);
}

TEST(SearchScorerUnicode, PositionsCountScalars)
{
    // A combining mark is a scalar of its own and no letter: decomposed "é"
    // matches "e", precomposed does not (no normalisation).
    EXPECT_EQ(SearchScorer().match("cafe", "Cafe\u0301 Menu").value().positions, (std::vector<int> {0, 1, 2, 3}));
    EXPECT_FALSE(SearchScorer().match("cafe", "Caf\u00E9"));
    EXPECT_EQ(SearchScorer().match("me", "Cafe\u0301 Menu")->positions, (std::vector<int> {6, 7}));
    // Whole-string lower-casing: the final capital sigma becomes "ς".
    EXPECT_TRUE(SearchScorer().match("\u039F\u0394\u039F\u03A3", "\u039F\u0394\u039F\u03A3 x"));
    EXPECT_FALSE(SearchScorer().match("\u03BF\u03B4\u03BF\u03C3", "\u039F\u0394\u039F\u03A3 x"));
    // Ill-formed UTF-8 counts as one U+FFFD per maximal subpart.
    EXPECT_EQ(SearchScorer().match("b", "a\xFF\xC3(b")->positions, std::vector<int> {4});
    EXPECT_EQ(SearchScorer().match("\xFF", "a\xFF b").value().positions, std::vector<int> {1});
}

TEST(SearchScorerPositions, BehaveAsAVectorInPlaceAndOnTheHeap)
{
    // Each edit made to Positions and to a std::vector alike, from a list
    // held in place and from one on the heap, across the move between them.
    for (const std::vector<int>& start : {std::vector<int> {1, 2}, std::vector<int>(9, 3)}) {
        Positions positions(start.begin(), start.end());
        std::vector<int> model = start;
        const std::vector<int> more {5, 6, 7};
        positions.insert(positions.begin() + 1, more.begin(), more.end());
        model.insert(model.begin() + 1, more.begin(), more.end());
        positions.resize(model.size() + 4, 8);
        model.resize(model.size() + 4, 8);
        ASSERT_EQ(positions, model);
        Positions copy {4};
        copy = positions;
        Positions moved = std::move(positions); // the source is left empty and usable
        ASSERT_TRUE(positions.empty());
        positions.push_back(9);
        positions = std::move(moved);
        EXPECT_EQ(positions, model);
        EXPECT_EQ(copy, model);
        copy = Positions(model.begin(), model.end()); // replacing a list on the heap
        positions.assign(2, 1);
        EXPECT_EQ(positions, (std::vector<int> {1, 1}));
        positions = copy;
        EXPECT_EQ(positions, model);
    }
    EXPECT_NE((Positions {0, 1}), (Positions {0, 1, 2}));
    EXPECT_NE((Positions {0, 1}), (std::vector<int> {1, 0}));
}

std::string randomText(std::mt19937& random, std::string_view alphabet, std::size_t maxLength)
{
    std::uniform_int_distribution<std::size_t> length(0, maxLength), pick(0, alphabet.size() - 1);
    std::string text(length(random), ' ');
    for (char& c : text)
        c = alphabet[pick(random)];
    return text;
}

void expectSameAsReference(const SearchScorer& scorer, const std::string& query, const std::string& text)
{
    auto actual = scorer.match(query, text);
    // Exact: the kernel must do the same additions in the same order.
    ASSERT_EQ(actual, PlainScorer::match(scorer, query, text)) << '"' << query << "\" in \"" << text << '"';
    if (actual) {
        EXPECT_EQ(scorer.score(query, text), actual->score);
    }
}

void agreeOnRandomTexts(const SearchScorer& scorer, unsigned seed, int rounds, std::string_view queryAlphabet,
    std::size_t queryLength, std::string_view textAlphabet, std::size_t textLength)
{
    std::mt19937 random(seed);
    for (int round = 0; round < rounds; ++round) {
        const std::string text = randomText(random, textAlphabet, textLength);
        expectSameAsReference(scorer, randomText(random, queryAlphabet, queryLength), text);
    }
}

// Keeps the walk-back flags to `bytes` while it lives.
struct FlagBudget {
    explicit FlagBudget(std::size_t bytes) { SearchScorerTesting::setFlagBudget(bytes); }
    ~FlagBudget() { SearchScorerTesting::setFlagBudget(0); }
};

TEST_P(EveryKernel, AgreesWithThePlainScorer)
{
    for (bool lenient : {false, true})
        agreeOnRandomTexts(SearchScorer({}, lenient), 7 + lenient, 3000, "abAB x", 6, "aabbAB -._/xX", 24);
    // Long texts whose few matching columns fall on both sides of every
    // 64-column block edge.
    agreeOnRandomTexts(SearchScorer(), 19, 1500, "abcb", 5, "abcBxxxxxxxxxxxxxxxx-", 200);
    // Words beyond eight scalars take the general row arrays.
    agreeOnRandomTexts(SearchScorer(), 13, 1500, "abab", 12, "aabbAB -/", 40);
    // Exactly representable weights make many scores tie, so the walk-back's
    // tie rules decide the positions.
    const SearchScorer::Weights even {1, 0.5, 0.5, 0.25, 1, -0.125, -0.125, -0.25, 2, 0.5, 0.25, -1};
    agreeOnRandomTexts(SearchScorer(even, true), 11, 3000, "ab ab", 5, "aabAB /", 20);
    // A trailing gap exactly halfway between two doubles near the score
    // (1.8, whose last mantissa bit is set): rounding to even then makes
    // the additions alternate between two steps.
    SearchScorer::Weights halfway;
    halfway.gapTrailing = -0x3p-53;
    for (const char* text : {"axxxxxxxxxxx", "a-xxxxxxxxxxxxxxx", "axaxxxxxxxxxxxxxxxx"})
        expectSameAsReference(SearchScorer(halfway, false), "a", text);
    // A budget of a few bytes forces the recomputation from checkpoints.
    for (std::size_t budget : {1, 7, 64}) {
        const FlagBudget small(budget);
        agreeOnRandomTexts(SearchScorer(), 3 + budget, 500, "abcab", 8, "aabbcC -/", 60);
    }
}

// Every text through one batch under its index, each match checked against
// the oracle text by text: same texts, in the order they came, same scores
// and positions; with positions left out, the same texts and scores.
void expectBatchAgrees(const SearchScorer& scorer, const std::string& query, const std::vector<std::string>& texts,
    SearchScorer::Scratch& scratch)
{
    const auto prepared = SearchScorer::prepare(query);
    for (bool positions : {true, false}) {
        SearchScorer::Matches out;
        SearchScorer::Batch batch(scorer, prepared, scratch, out, positions);
        for (std::size_t k = 0; k < texts.size(); ++k)
            batch.add(static_cast<std::uint32_t>(k), texts[k]);
        batch.finish();
        std::size_t next = 0;
        for (std::size_t k = 0; k < texts.size(); ++k) {
            const auto expected = PlainScorer::match(scorer, query, texts[k]);
            if (!expected)
                continue;
            const std::string where = '"' + query + "\" in \"" + texts[k] + '"';
            ASSERT_LT(next, out.ids.size()) << where;
            ASSERT_EQ(out.ids[next], k) << where;
            ASSERT_EQ(out.scores[next], expected->score) << where;
            if (positions) {
                const auto begin = out.positions.begin() + (next == 0 ? 0 : out.ends[next - 1]);
                ASSERT_EQ(Positions(begin, out.positions.begin() + out.ends[next]), expected->positions) << where;
            }
            ++next;
        }
        EXPECT_EQ(next, out.ids.size()) << query;
        if (!positions) {
            EXPECT_TRUE(out.positions.empty());
            EXPECT_TRUE(out.ends.empty());
        }
    }
}

// Eight texts to a pass with AVX-512, every text alone elsewhere.
TEST_P(EveryKernel, BatchAgreesWithThePlainScorerTextByText)
{
    std::mt19937 random(23);
    SearchScorer::Scratch scratch; // one for all: nothing may carry over
    // Texts of every length across the 64-column blocks and past the
    // longest that share a pass, ASCII or with scalars beyond it; each
    // batch mixes them, so texts scored alone come between shared ones.
    // Capitals that lower-case to one letter beyond ASCII (É, Д, Σ) are
    // narrowed too; the Kelvin sign (to "k") and U+0130 (to two scalars)
    // are not.
    const std::vector<std::string> extras {"\u2014", "\u00E9", "\u00D7", "\u00C9", "\u0414", "\u03A3", "\u212A", "\u0130"};
    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> texts;
        for (int k = 0; k < 37; ++k) {
            std::string text = randomText(random, "aabbAB -._/xX", k % 5 == 0 ? 300 : 90);
            if (random() % 3 == 0)
                text.insert(random() % (text.size() + 1), extras[random() % extras.size()]);
            texts.push_back(std::move(text));
        }
        texts.insert(texts.end(), {"ab", "AB"});
        const std::string query = randomText(random, "abAB x", round % 4 == 0 ? 11 : 6);
        expectBatchAgrees(SearchScorer({}, round % 2 == 1), query, texts, scratch);
    }
    // Window texts as applications title them: names, paths, dashes, sizes,
    // scripts beyond Latin, emoji with modifiers and flags.
    const auto corpus = randomLines(5, {"Terminal ", "Mail ", "Firefox ", "kitty ", "Code ", " \u2014 ", " - ", " | ",
        "~/src/", "/", "_", "main", "README.md", "config.json", "SwitcherPanel", "Controller.cpp", "80\u00D724", " (Git: main)",
        "Inbox (3 unread)", "x@example.org", "#team-chat", "\u041e\u0442\u0447\u0451\u0442 ",
        "\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b", "\u03a3\u03b7\u03bc\u03b5\u03b9\u03ce\u03c3\u03b5\u03b9\u03c2 ",
        "\u6587\u6863", "\u30d7\u30ed\u30b8\u30a7\u30af\u30c8", "\u0627\u0644\u0645\u0633\u062a\u0646\u062f\u0627\u062a",
        "\U0001F4C1 ", "\U0001F44D\U0001F3FD", "\U0001F1E9\U0001F1EA", "\xFF", "\x80\x80 ", "\xE2\x80"}, 1400, 9);
    for (const char* query : {"ter", "g", "sw pa", "rdme", "Mail", "mail mail", "a b c d e", ""})
        expectBatchAgrees(SearchScorer(), query, corpus, scratch);
    expectBatchAgrees(SearchScorer({}, true), "trmx", corpus, scratch);
    for (const char* query : {"e", "fi", "k", "ik", "\u043e\u0442\u0447", "\u03c3"})
        expectBatchAgrees(SearchScorer({}, true), query, corpus, scratch);
    // Every scalar that lower-casing changes, asked of ICU. Words beyond
    // ASCII are looked for on the bytes too, each letter in any form that
    // lower-cases to it: a scalar that lower-cases to one other scalar is
    // found by it. Texts whose bytes lack a query letter are rejected before
    // narrowing, unless a scalar lower-cases into it.
    std::vector<std::string> intoAscii;
    int lowered = 0;
    for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
        if ((c >= 0xD800 && c < 0xE000) || !TextUnicode::changesWhenLowercased(c))
            continue;
        const std::string scalar = TextUnicode::utf8(std::u32string_view(&c, 1));
        const std::u32string lower = TextUnicode::toLower(std::u32string_view(&c, 1));
        if (lower.size() == 1 && lower[0] >= 128) {
            ++lowered;
            // In a text too short for the sixteen-byte search, and in one long enough.
            for (const std::string before : {"\u0416 x", "\u0416\u0416\u0416\u0416\u0416\u0416\u0416 x"}) {
                const std::string text = before + scalar + "y";
                ASSERT_TRUE(SearchScorer().match("x" + TextUnicode::utf8(lower) + "y", text)) << text;
            }
        }
        std::string letters = "x";
        for (const char32_t l : lower)
            letters += l < 128 ? std::string(1, static_cast<char>(l)) : "";
        if (letters.size() == 1)
            continue;
        // Far in, before the ASCII letters, where those are found first.
        intoAscii.push_back("\u0416\u0416\u0416\u0416\u0416\u0416\u0416\u0416\u0416\u0416" + scalar + " " + letters);
        intoAscii.push_back("\u0416\u0416\u0416 x" + scalar + "\u0416\u0416\u0416");
        EXPECT_TRUE(PlainScorer::match(SearchScorer(), letters, intoAscii.back())) << letters;
        expectBatchAgrees(SearchScorer(), letters, {intoAscii.back()}, scratch);
    }
    EXPECT_GT(lowered, 1000);
    ASSERT_GE(intoAscii.size(), 2u);
    for (const char* query : {"i", "k", "xk", "x i", "\u0307", "i\u0307"})
        expectBatchAgrees(SearchScorer(), query, intoAscii, scratch);
    // Words beyond ASCII are looked for sixteen bytes at a time, by each
    // form's last byte: their letters in either case on both sides of every
    // sixteen-byte edge and in the last, overlapping, sixteen; bytes that
    // end another letter (U+047E ends as "о" does) or a form's lead
    // alone; texts too short for a load.
    std::vector<std::string> edges;
    for (std::size_t lead = 0; lead < 40; ++lead)
        for (const char* between : {"", "x", "ѾÐ", "xyzxyzxyzxyzxyzxyzx"})
            for (const char* tail : {"", "x", "Ѿ Т"}) {
                const std::string pad(lead, lead % 3 == 0 ? ' ' : 'x');
                edges.push_back(pad + (lead % 2 == 0 ? "О" : "о") + between + "т" + tail);
                edges.push_back(pad + "Ѿ" + between + "Т" + tail);
            }
    for (const char* query : {"от", "т", "оxт", "оо"})
        expectBatchAgrees(SearchScorer(), query, edges, scratch);
    // A word that is the whole text, once or twice over.
    const std::vector<std::string> whole {"mail", "Mail Inbox", "MAIL", "x mail", "ma", "m", "mail"};
    for (const char* query : {"mail", "mail mail", "ma m"})
        expectBatchAgrees(SearchScorer(), query, whole, scratch);
}

// 64 bytes at a time with AVX-512, sixteen elsewhere.
TEST_P(EveryKernel, AsciiScansSeeEveryByte)
{
    // A byte beyond ASCII anywhere: in the blocks scanned 64, sixteen or
    // eight at a time, or among the bytes left over after them.
    for (std::size_t length : {7, 12, 16, 37, 63, 64, 65, 130}) {
        const std::string text(length, 'a');
        EXPECT_TRUE(TextUnicode::isAscii(text));
        for (std::size_t k = 0; k < text.size(); ++k) {
            std::string probe = text;
            probe[k] = '\x80';
            EXPECT_FALSE(TextUnicode::isAscii(probe)) << length << " " << k;
        }
    }
    // Only letters beyond ASCII count. Answers are kept per block of 256
    // scalars, so a letter after one from another block, and one beyond
    // U+FFFF, must still be looked up.
    EXPECT_FALSE(TextUnicode::anyBeyondAsciiChangesWhenLowercased("ABC \u00E9\u2014\xC3"));
    EXPECT_TRUE(TextUnicode::anyBeyondAsciiChangesWhenLowercased("\u00E9\u2014\u00C9"));
    EXPECT_TRUE(TextUnicode::anyBeyondAsciiChangesWhenLowercased("\u00E9 \u212A"));
    EXPECT_TRUE(TextUnicode::anyBeyondAsciiChangesWhenLowercased("x\U00010400"));
    EXPECT_FALSE(TextUnicode::anyBeyondAsciiChangesWhenLowercased("x\U00010428"));
}

TEST_P(EveryKernel, DecodingAgreesWithOneScalarAtATime)
{
    // Decoding takes ASCII sixteen or 64 bytes at a time: a run of every
    // length up to past two blocks, then a scalar beyond ASCII or bytes
    // that are none (a lone byte, a sequence cut short or overlong, a
    // surrogate, a lead before another lead), must come out as the
    // one-scalar-at-a-time decoding does.
    const std::string letters = "aZ@[`{AzMm09 -_/.";
    // Narrowing gives a byte per scalar the same way; the class 0xFF (for É) stops it.
    auto classify = [](char32_t c) -> std::uint8_t { return c == 0xC9 ? 0xFF : 0x80 | (c & 0x3F); };
    // Each scalar is lower-cased on its own (É to é) but for the two whose
    // lower case is no scalar taken alone: U+0130 grows, and the capital
    // sigma lower-cases by the letters around it.
    // Counting without decoding takes well-formed text, and refuses U+0130
    // and the Kelvin sign, wherever the text ends.
    auto expectCounted = [](std::string_view text) {
        const bool wellFormed = TextUnicode::utf8(TextUnicode::scalars(text)) == text;
        const bool lowering = text.find("\u0130") != text.npos || text.find("\u212A") != text.npos;
        const auto expected = wellFormed && !lowering ? std::optional(TextUnicode::scalars(text).size()) : std::nullopt;
        ASSERT_EQ(TextUnicode::countScalarsNoneLoweringIntoAscii(text), expected) << text;
    };
    for (const char* after : {"", "\u2014", "\u00C9x", "\u03A3x", "\u0130", "\u212A", "\xFF", "\U0001F98A", "\xE2\x80",
             "\xE0\x80\x80", "\xED\xA0\x80", "\xD0\xC0"}) {
        for (std::size_t run = 0; run <= 140; ++run) {
            std::string text;
            for (std::size_t k = 0; k < run; ++k)
                text += letters[(k * 7 + run) % letters.size()];
            expectCounted(after + text);
            text += after;
            expectCounted(text);
            text += "Tail OF Text";
            expectCounted(text);
            const std::u32string expected = TextUnicode::scalars(text);
            std::u32string raw(text.size(), U'\0'), lower(text.size(), U'\0');
            bool changes = true;
            raw.resize(TextUnicode::decodeLowered(text, raw.data(), lower.data(), changes));
            lower.resize(raw.size());
            ASSERT_EQ(raw, expected) << text;
            const bool whole = std::string(after) == "\u03A3x" || std::string(after) == "\u0130";
            EXPECT_EQ(changes, whole) << text;
            for (std::size_t k = 0; k < expected.size() && !whole; ++k)
                ASSERT_EQ(lower[k], TextUnicode::toLower(std::u32string_view(&expected[k], 1))[0]) << text << " at " << k;

            std::vector<std::uint8_t> narrow(text.size());
            const std::ptrdiff_t count = TextUnicode::narrowScalars(text, narrow.data(), classify);
            if (std::string(after) == "\u00C9x") {
                EXPECT_EQ(count, -1) << text;
                continue;
            }
            ASSERT_EQ(count, static_cast<std::ptrdiff_t>(expected.size())) << text;
            for (std::size_t k = 0; k < expected.size(); ++k)
                ASSERT_EQ(narrow[k], expected[k] < 128 ? expected[k] : classify(expected[k])) << text << " at " << k;
        }
    }
    // A text that ends inside a sequence ends there, whatever bytes follow.
    for (const std::string_view text : {std::string_view("x\xC3\xA9", 2), std::string_view("x\xE4\xB8\xAD", 3)}) {
        std::array<std::uint8_t, 3> narrow {};
        EXPECT_EQ(TextUnicode::narrowScalars(text, narrow.data(), classify), 2) << text;
        EXPECT_EQ(narrow[1], classify(TextUnicode::replacementCharacter)) << text;
    }
}

TEST_P(EveryKernel, RepairCopiesOnlyWellFormedBytesWhole)
{
    // Output is copied whole, and scalars counted without decoding, only
    // where it is well-formed: every sequence
    // of up to four bytes where UTF-8's rules change, repaired as Runtime
    // does. Short texts are read eight bytes at a time: the sequence comes
    // after ASCII that ends inside or at the end of a scanned block, or
    // after other scalars so that it ends a word of eight bytes, and at the
    // text's end or before more ASCII (after such a word, a word of it and
    // the continuation bytes that a cut-short sequence would need). Longer
    // ones are read 32 bytes at a time: the sequence also comes first,
    // across the first two blocks (after ASCII or after scalars of two and
    // three bytes), and last, in a block that overlaps the one before it or
    // ends exactly at a block's end.
    const std::uint8_t edges[] = {
        0x00, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5};
    auto repeated = [](std::string_view piece, std::size_t times) {
        std::string out;
        for (std::size_t k = 0; k < times; ++k)
            out += piece;
        return out;
    };
    const std::string after(40, 'y');
    std::size_t sequence = 0;
    for (std::size_t a = 0; a < std::size(edges); ++a)
        for (std::size_t b = 0; b <= std::size(edges); ++b)
            for (std::size_t c = 0; c <= std::size(edges); ++c)
                // (Only a lead of four bytes makes a fourth byte matter.)
                for (std::size_t d = edges[a] >= 0xF0 ? 0 : std::size(edges); d <= std::size(edges); ++d, ++sequence) {
                    std::string bytes;
                    for (const std::size_t k : {a, b, c, d})
                        if (k < std::size(edges))
                            bytes += static_cast<char>(edges[k]);
                    const bool wordEnd = sequence % 3 == 2;
                    std::string text
                        = wordEnd ? (bytes.size() % 2 == 0 ? "" : "\u20AC") : std::string(sequence % 2 == 0 ? 3 : 16, 'x');
                    while (wordEnd && text.size() + bytes.size() < 8)
                        text += "\u00E9";
                    text += bytes;
                    if (sequence % 4 < 2)
                        text += wordEnd ? "yyyyyyyy" + std::string(1 + sequence / 3 % 3, '\x80') : "y";
                    const std::size_t across = 29 + sequence % 3;
                    const std::string texts[] = {
                        text,
                        bytes + after,
                        std::string(across, 'x') + bytes + after,
                        repeated("\u00E9", 15) + bytes + after,
                        "x" + repeated("\u4E2D", 10) + bytes + after,
                        std::string(40, 'x') + bytes,
                        std::string(64 - bytes.size(), 'x') + bytes,
                    };
                    for (const std::string& each : texts) {
                        std::string sanitized;
                        TextUnicode::appendSanitizedUtf8(each, sanitized);
                        ASSERT_EQ(sanitized, repairedUtf8(each)) << a << " " << b << " " << c << " " << d << " in " << each.size();
                        // Counted as the bytes are judged, sixteen or (with AVX2) 32 at a time.
                        const auto counted = sanitized == each ? std::optional(TextUnicode::scalars(each).size()) : std::nullopt;
                        ASSERT_EQ(TextUnicode::countScalarsNoneLoweringIntoAscii(each), counted)
                            << a << " " << b << " " << c << " " << d << " in " << each.size();
                    }
                }
}

TEST(SearchScorerLimits, OnlyTheFirstScalarsOfLongQueriesAndTextsTakePart)
{
    const SearchScorer scorer;
    const std::size_t textLimit = SearchScorer::maxTextScalars, queryLimit = SearchScorer::maxQueryScalars;
    // A text of the limit's length is scored whole; a longer one as its
    // beginning, trailing gap included, and nothing beyond is found.
    const std::string text = std::string(textLimit - 2, 'x') + "ab";
    const auto whole = scorer.match("ab", text).value();
    EXPECT_EQ(whole.positions, (std::vector<int>{int(textLimit) - 2, int(textLimit) - 1}));
    const std::string longer = text + "q" + std::string(100000, 'y');
    EXPECT_EQ(scorer.match("ab", longer), whole);
    EXPECT_FALSE(scorer.match("q", longer));
    // The limit counts scalars, not bytes.
    std::string accented;
    for (std::size_t k = 0; k + 1 < textLimit; ++k)
        accented += "\u00E9";
    EXPECT_EQ(scorer.match("q", accented + "q\u00E9")->positions, (std::vector<int>{int(textLimit) - 1}));
    EXPECT_FALSE(scorer.match("q", accented + "\u00E9q"));

    // A query is taken up to its limit: what follows cannot make it fail.
    const std::string query(queryLimit, 'a');
    const auto cut = scorer.match(query, query + "b").value();
    EXPECT_EQ(scorer.match(query + " zzz", query + "b"), cut);
    EXPECT_EQ(SearchScorer::prepare(query + "zzz"), SearchScorer::prepare(query));
}

} // namespace
} // namespace vantrel
