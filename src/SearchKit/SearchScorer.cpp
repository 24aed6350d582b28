// The fuzzy scorer: boundary bonuses, the per-word dynamic programme and the
// walk-back that recovers matched positions.
#include "SearchKit/SearchScorer.h"

#include "SearchKit/TextUnicode.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>

namespace vantrel {

namespace {

using Weights = SearchScorer::Weights;
using Scratch = SearchScorer::Scratch;

/// "Impossible": adding any of the small weights to it leaves it unchanged.
constexpr double NEG = std::numeric_limits<double>::lowest();
/// The score of a word that is the whole text.
constexpr double exactMatchScore = std::numeric_limits<double>::max();

/// Walk-back needs three facts per table cell, not the cell's doubles:
/// H is possible, H equals M (the best so far ends here), and M equals the
/// run-extending value (the character before belongs to the same run).
enum : std::uint8_t { cellReachable = 1, cellEndsBest = 2, cellExtendsRun = 4 };

/// Most bytes of walk-back flags kept for one word; longer words against
/// longer texts recompute columns from checkpoints instead (see scoreWord).
constexpr std::size_t defaultFlagBudget = std::size_t { 16 } << 20;
std::atomic<std::size_t> flagBudgetBytes { defaultFlagBudget };

/// ASCII case facts, asked for on every character of every candidate; taken
/// from ICU once so that the fast path cannot drift from the general one.
struct CaseTables {
    std::array<std::uint8_t, 128> lower {};
    std::array<bool, 128> lowercase {};
    std::array<bool, 128> uppercase {};
};

const CaseTables& caseTables()
{
    static const CaseTables tables = [] {
        CaseTables result;
        for (char32_t c = 0; c < 128; ++c) {
            result.lower[c] = static_cast<std::uint8_t>(TextUnicode::asciiLower(c));
            result.lowercase[c] = TextUnicode::isLowercase(c);
            result.uppercase[c] = TextUnicode::isUppercase(c);
        }
        return result;
    }();
    return tables;
}

/// The four boundary bonuses with the short-query boost applied.
struct Boundaries {
    double wordStart;
    double afterDot;
    double afterSlash;
    double camelCase;
    const CaseTables* cases;
};

Boundaries boundaries(const Weights& weights, int queryLength)
{
    const double boost = queryLength < 3 ? weights.shortQueryBoundaryBoost : 1.0;
    return { boost * weights.wordStart, boost * weights.afterDot, boost * weights.afterSlash, boost * weights.camelCase,
        &caseTables() };
}

/// The bonus of scalar q preceded by p (positions after the first).
double boundaryBetween(const Boundaries& b, char32_t p, char32_t q)
{
    switch (p) {
    case U' ':
    case U'(':
    case U'-':
    case U'[':
    case U'_':
        return b.wordStart;
    case U'.':
        return b.afterDot;
    case U'/':
        return b.afterSlash;
    case 0x2013: // en dash
    case 0x2014: // em dash
    case 0x00B7: // middle dot
        return b.wordStart;
    default:
        break;
    }
    const bool camel = p < 128 && q < 128 ? b.cases->lowercase[p] && b.cases->uppercase[q]
                                          : TextUnicode::isLowercase(p) && TextUnicode::isUppercase(q);
    return camel ? b.camelCase : 0;
}

// The kernel reads texts through these three views, so that ASCII texts are
// scored straight from their bytes and only other texts are decoded.

/// ASCII text scored from its UTF-8 bytes; bonuses from the bytes as typed.
struct AsciiText {
    const std::uint8_t* bytes;
    std::size_t length;
    Boundaries b;
    const std::uint8_t* lowerTable = b.cases->lower.data();

    std::size_t size() const { return length; }
    char32_t lower(std::size_t j) const { return lowerTable[bytes[j]]; }
    double bonus(std::size_t j) const { return j == 0 ? b.afterSlash : boundaryBetween(b, bytes[j - 1], bytes[j]); }
};

/// Decoded text: lower-cased scalars for matching, `raw` ones for bonuses.
struct ScalarText {
    const char32_t* raw;
    const char32_t* lowered;
    std::size_t length;
    Boundaries b;

    std::size_t size() const { return length; }
    char32_t lower(std::size_t j) const { return lowered[j]; }
    double bonus(std::size_t j) const { return j == 0 ? b.afterSlash : boundaryBetween(b, raw[j - 1], raw[j]); }
};

/// Lower-cased text with bonuses given by the caller.
struct GivenBonusText {
    const char32_t* lowered;
    const double* bonuses;
    std::size_t length;

    std::size_t size() const { return length; }
    char32_t lower(std::size_t j) const { return lowered[j]; }
    double bonus(std::size_t j) const { return bonuses[j]; }
};

/// Recovers the positions of one word from the walk-back flags, walking from
/// the last text character back. Rows are scanned from their first possible
/// column `first` up; below it every cell is impossible.
template <class Text, class FlagAt>
void walkBack(std::u32string_view word, const Text& text, std::size_t first, std::size_t last, FlagAt&& flagAt,
    std::vector<int>& positions)
{
    const std::size_t m = word.size();
    const std::size_t base = positions.size();
    positions.resize(base + m, 0);
    auto j = static_cast<std::ptrdiff_t>(text.size()) - 1;
    bool preferRun = false;
    for (std::size_t i = m; i-- > 0;) {
        if (j < 0)
            continue;
        std::ptrdiff_t found = -1;
        for (auto k = std::min(j, static_cast<std::ptrdiff_t>(last)); k >= static_cast<std::ptrdiff_t>(first); --k) {
            if (text.lower(static_cast<std::size_t>(k)) != word[i])
                continue;
            const std::uint8_t f = flagAt(i, static_cast<std::size_t>(k));
            if ((f & cellReachable) != 0 && (preferRun || (f & cellEndsBest) != 0)) {
                found = k;
                break;
            }
        }
        if (found < 0) {
            j = -1;
            continue;
        }
        positions[base + i] = static_cast<int>(found);
        preferRun = i >= 1 && found >= 1 && (flagAt(i, static_cast<std::size_t>(found)) & cellExtendsRun) != 0;
        j = found - 1;
    }
}

/// What every variant of the table pass needs to know about one word.
struct WordPass {
    std::u32string_view word;
    std::size_t first; // first column where word[0] occurs
    std::size_t last;  // last column where the word's last scalar occurs
    double c;          // the consecutive bonus for this word length
};

/// One column of the tables: H (best score with word[i] matched exactly at
/// text[j]), M (best score with word[i] matched at or before text[j], gaps
/// after it charged) and B (the bonus carried by the run ending at (i, j)).
/// Column j needs only column j-1, so the three tables are three arrays of
/// rows updated in place, last row first (row i reads row i-1's previous
/// column). Walk-back flags are written for match cells when `flags` is set.
template <class Text, class Array, class RowCount>
inline void tableColumn(const Weights& weights, const Text& text, std::size_t j, const char32_t* w, const double* gap,
    RowCount rows, double c, double bonus, Array& H, Array& M, Array& B, std::uint8_t* flags, std::size_t m)
{
    const char32_t t = text.lower(j);
    for (std::size_t k = 0; k < rows; ++k) {
        const std::size_t i = rows - 1 - k;
        if (t != w[i]) {
            M[i] += gap[i];
            H[i] = NEG;
            B[i] = 0;
            continue;
        }
        double s;
        double carry;
        double extend = NEG;
        if (i == 0) {
            s = bonus + weights.gapLeading * static_cast<double>(j);
            carry = bonus;
        } else {
            const double fresh = bonus + M[i - 1];
            extend = H[i - 1] + std::max(c, B[i - 1]);
            if (fresh < extend) {
                s = extend;
                carry = B[i - 1];
            } else {
                s = fresh;
                carry = bonus;
            }
        }
        const double r = std::max(s, M[i] + gap[i]);
        if (flags != nullptr && i < m) {
            std::uint8_t f = 0;
            if (s != NEG)
                f |= s == r ? cellReachable | cellEndsBest : cellReachable;
            if (i > 0 && j > 0 && r == extend)
                f |= cellExtendsRun;
            flags[i] = f;
        }
        H[i] = s;
        B[i] = carry;
        M[i] = r;
    }
}

/// The table pass for words of at most R scalars, with the rows in local
/// arrays the compiler keeps in registers. Rows beyond the word never match
/// and stay impossible. Columns whose character is not in the word only
/// extend every row's gap, so they skip the per-row tests.
template <std::size_t R, class Text>
double smallWordPass(const Weights& weights, const WordPass& pass, const Text& text, std::uint8_t* flags)
{
    constexpr char32_t noScalar = 0xFFFFFFFF;
    const std::size_t m = pass.word.size();
    char32_t w[R];
    double gap[R];
    std::uint64_t ascii[2] = { 0, 0 };
    bool wide = false;
    for (std::size_t i = 0; i < R; ++i) {
        w[i] = i < m ? pass.word[i] : noScalar;
        gap[i] = i + 1 == m ? weights.gapTrailing : weights.gapInner;
        if (i < m && w[i] < 128)
            ascii[w[i] >> 6] |= std::uint64_t { 1 } << (w[i] & 63);
        else if (i < m)
            wide = true;
    }
    double H[R], M[R], B[R];
    for (std::size_t i = 0; i < R; ++i) {
        H[i] = NEG;
        M[i] = NEG;
        B[i] = 0;
    }
    for (std::size_t j = pass.first; j <= pass.last; ++j) {
        const char32_t t = text.lower(j);
        const bool inWord = t < 128 ? ((ascii[t >> 6] >> (t & 63)) & 1) != 0 : wide;
        if (!inWord) {
#pragma GCC unroll 8
            for (std::size_t i = 0; i < R; ++i) {
                M[i] += gap[i];
                H[i] = NEG;
                B[i] = 0;
            }
            continue;
        }
        tableColumn(weights, text, j, w, gap, std::integral_constant<std::size_t, R> {}, pass.c, text.bonus(j), H, M, B,
            flags != nullptr ? flags + (j - pass.first) * m : nullptr, m);
    }
    double result = M[0];
    for (std::size_t i = 1; i < R; ++i)
        if (i + 1 == m)
            result = M[i];
    return result;
}

/// Scores one word against a text; appends its positions (if wanted) only on
/// success. Columns before the first occurrence of word[0] are all impossible
/// and columns after the last occurrence of the word's last scalar only
/// extend the last row's trailing gap, so neither goes through the tables.
/// Only the walk-back flags are kept per cell (one byte). When the flags of
/// all columns would exceed flagBudgetBytes, the columns are grouped into
/// segments of about sqrt(24 n); the first pass keeps the three row arrays at
/// the start of each segment, and the walk-back (whose column only ever
/// decreases) recomputes one segment's flags at a time: memory O(m sqrt(n))
/// instead of O(m n), for one more pass of time.
template <class Text>
std::optional<double> scoreWord(
    const Weights& weights, std::u32string_view word, const Text& text, Scratch& scratch, std::vector<int>* positions)
{
    const std::size_t m = word.size();
    const std::size_t n = text.size();
    if (m == 0 || m > n)
        return std::nullopt;

    // The linear subsequence test: a text that cannot match costs no table.
    std::size_t first = 0;
    std::size_t matched = 0;
    for (std::size_t j = 0; j < n; ++j) {
        if (text.lower(j) == word[matched]) {
            if (matched == 0)
                first = j;
            if (++matched == m)
                break;
        }
    }
    if (matched < m)
        return std::nullopt;

    if (m == n) {
        if (positions != nullptr)
            for (std::size_t i = 0; i < m; ++i)
                positions->push_back(static_cast<int>(i));
        return exactMatchScore;
    }

    std::size_t last = n - 1;
    while (text.lower(last) != word[m - 1])
        --last;

    const WordPass pass { word, first, last,
        m > 2 ? weights.consecutive + weights.consecutiveGrowth * static_cast<double>(m - 2)
              : weights.shortQueryConsecutive };
    const std::size_t columns = last - first + 1;
    const bool overBudget = positions != nullptr && m * columns > flagBudgetBytes.load(std::memory_order_relaxed);

    auto finish = [&](double lastRow) {
        for (std::size_t j = last + 1; j < n; ++j)
            lastRow += weights.gapTrailing;
        return lastRow;
    };

    if (m <= 8 && !overBudget) {
        std::uint8_t* flags = nullptr;
        if (positions != nullptr) {
            scratch.flags.resize(columns * m);
            flags = scratch.flags.data();
        }
        const double result = finish(m <= 4 ? smallWordPass<4>(weights, pass, text, flags)
                                            : smallWordPass<8>(weights, pass, text, flags));
        if (positions != nullptr)
            walkBack(word, text, first, last,
                [&](std::size_t i, std::size_t k) { return scratch.flags[(k - first) * m + i]; }, *positions);
        return result;
    }

    // Long words: rows in scratch arrays, optionally segmented.
    scratch.H.assign(m, NEG);
    scratch.M.assign(m, NEG);
    scratch.B.assign(m, 0.0);
    scratch.gaps.assign(m, weights.gapInner);
    scratch.gaps[m - 1] = weights.gapTrailing;
    double* H = scratch.H.data();
    double* M = scratch.M.data();
    double* B = scratch.B.data();
    const double* gap = scratch.gaps.data();
    auto column = [&](std::size_t j, std::uint8_t* flags) {
        tableColumn(weights, text, j, word.data(), gap, m, pass.c, text.bonus(j), H, M, B, flags, m);
    };

    std::size_t segment = columns;
    if (overBudget) {
        const auto balanced = static_cast<std::size_t>(std::sqrt(24.0 * static_cast<double>(columns)));
        segment = std::clamp<std::size_t>(balanced, 1, columns);
    }
    const std::size_t segments = (columns + segment - 1) / segment;
    const bool keepFlags = positions != nullptr && segments == 1;
    if (keepFlags)
        scratch.flags.resize(columns * m);
    if (segments > 1)
        scratch.checkpoints.resize(segments * 3 * m);

    for (std::size_t index = 0; index < segments; ++index) {
        if (segments > 1) {
            double* out = scratch.checkpoints.data() + index * 3 * m;
            std::copy(H, H + m, out);
            std::copy(M, M + m, out + m);
            std::copy(B, B + m, out + 2 * m);
        }
        const std::size_t begin = first + index * segment;
        const std::size_t end = std::min(last + 1, begin + segment);
        for (std::size_t j = begin; j < end; ++j)
            column(j, keepFlags ? scratch.flags.data() + (j - first) * m : nullptr);
    }
    const double result = finish(M[m - 1]);
    if (positions == nullptr)
        return result;

    std::size_t loaded = keepFlags ? 0 : segments;
    auto flagAt = [&](std::size_t i, std::size_t k) -> std::uint8_t {
        const std::size_t index = (k - first) / segment;
        if (index != loaded) {
            const double* in = scratch.checkpoints.data() + index * 3 * m;
            std::copy(in, in + m, H);
            std::copy(in + m, in + 2 * m, M);
            std::copy(in + 2 * m, in + 3 * m, B);
            scratch.flags.resize(segment * m);
            const std::size_t begin = first + index * segment;
            const std::size_t end = std::min(last + 1, begin + segment);
            for (std::size_t j = begin; j < end; ++j)
                column(j, scratch.flags.data() + (j - begin) * m);
            loaded = index;
        }
        return scratch.flags[((k - first) - index * segment) * m + i];
    };
    walkBack(word, text, first, last, flagAt, *positions);
    return result;
}

/// The word with each scalar left out in turn; the best score wins, the
/// earliest left-out index on ties.
template <class Text>
std::optional<double> bestDropping(
    const Weights& weights, std::u32string_view word, const Text& text, Scratch& scratch, std::vector<int>* positions)
{
    std::optional<double> best;
    for (std::size_t k = 0; k < word.size(); ++k) {
        scratch.variant.assign(word.substr(0, k));
        scratch.variant.append(word.substr(k + 1));
        scratch.variantPositions.clear();
        auto result = scoreWord(weights, scratch.variant, text, scratch,
            positions != nullptr ? &scratch.variantPositions : nullptr);
        if (result && (!best || *result > *best)) {
            best = result;
            scratch.bestPositions.swap(scratch.variantPositions);
        }
    }
    if (best && positions != nullptr)
        positions->insert(positions->end(), scratch.bestPositions.begin(), scratch.bestPositions.end());
    return best;
}

template <class Text>
std::optional<double> matchWords(const SearchScorer& scorer, const std::vector<std::u32string>& words, const Text& text,
    Scratch& scratch, std::vector<int>* positions, bool allowOneMismatch)
{
    double total = 0;
    for (const auto& word : words) {
        if (auto result = scoreWord(scorer.weights, word, text, scratch, positions)) {
            total += *result;
            continue;
        }
        if (allowOneMismatch && word.size() >= 2) {
            auto result = bestDropping(scorer.weights, word, text, scratch, positions);
            if (!result)
                return std::nullopt;
            total += scorer.weights.mismatchPenalty + *result;
            continue;
        }
        return std::nullopt;
    }
    return total;
}

int wordsLength(const std::vector<std::u32string>& words)
{
    std::size_t length = 0;
    for (const auto& word : words)
        length += word.size();
    return static_cast<int>(length);
}

/// The common path of match() and score(): `positions` null for score only.
std::optional<double> run(const SearchScorer& scorer, const SearchScorer::Query& query, std::string_view text,
    Scratch& scratch, std::vector<int>* positions)
{
    if (query.words.empty())
        return 0.0;
    const Boundaries b = boundaries(scorer.weights, query.length);
    if (TextUnicode::isAscii(text)) {
        // ASCII lower-cases scalar by scalar without changing length.
        const AsciiText view { reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), b };
        return matchWords(scorer, query.words, view, scratch, positions, scorer.allowOneMismatch);
    }
    scratch.raw.clear();
    TextUnicode::appendScalars(text, scratch.raw);
    scratch.lower.resize(scratch.raw.size());
    bool contextual = false;
    for (std::size_t i = 0; i < scratch.raw.size(); ++i) {
        const char32_t c = scratch.raw[i];
        if (c < 128) {
            scratch.lower[i] = b.cases->lower[c];
        } else if (!TextUnicode::changesWhenLowercased(c)) {
            scratch.lower[i] = c;
        } else {
            // Letters with case need the whole-string mapping (final sigma
            // depends on its neighbours; some letters grow).
            contextual = true;
            break;
        }
    }
    if (contextual) {
        scratch.lower = TextUnicode::toLower(scratch.raw);
        if (scratch.lower.size() != scratch.raw.size()) {
            // The slow path: everything on the lower-cased scalars.
            const ScalarText view { scratch.lower.data(), scratch.lower.data(), scratch.lower.size(),
                boundaries(scorer.weights, wordsLength(query.words)) };
            return matchWords(scorer, query.words, view, scratch, positions, false);
        }
    }
    const ScalarText view { scratch.raw.data(), scratch.lower.data(), scratch.raw.size(), b };
    return matchWords(scorer, query.words, view, scratch, positions, scorer.allowOneMismatch);
}

} // namespace

SearchScorer::SearchScorer(Weights weights, bool allowOneMismatch)
    : weights(weights)
    , allowOneMismatch(allowOneMismatch)
{
}

SearchScorer::Query SearchScorer::prepare(std::string_view query)
{
    Query prepared;
    prepared.length = static_cast<int>(TextUnicode::scalars(query).size());
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find(' ', start);
        if (end == std::string_view::npos)
            end = query.size();
        if (end > start)
            prepared.words.push_back(TextUnicode::toLower(TextUnicode::scalars(query.substr(start, end - start))));
        start = end + 1;
    }
    return prepared;
}

std::optional<SearchScorer::Match> SearchScorer::match(const Query& query, std::string_view text, Scratch& scratch) const
{
    scratch.positions.clear();
    auto total = run(*this, query, text, scratch, &scratch.positions);
    if (!total)
        return std::nullopt;
    std::sort(scratch.positions.begin(), scratch.positions.end());
    return Match { *total, scratch.positions };
}

std::optional<double> SearchScorer::score(const Query& query, std::string_view text, Scratch& scratch) const
{
    return run(*this, query, text, scratch, nullptr);
}

std::optional<SearchScorer::Match> SearchScorer::match(std::string_view query, std::string_view text) const
{
    Scratch scratch;
    return match(prepare(query), text, scratch);
}

std::optional<double> SearchScorer::score(std::string_view query, std::string_view text) const
{
    Scratch scratch;
    return score(prepare(query), text, scratch);
}

std::vector<double> SearchScorer::boundaryBonus(std::u32string_view text, int queryLength) const
{
    const Boundaries b = boundaries(weights, queryLength);
    std::vector<double> bonus(text.size());
    for (std::size_t j = 0; j < text.size(); ++j)
        bonus[j] = j == 0 ? b.afterSlash : boundaryBetween(b, text[j - 1], text[j]);
    return bonus;
}

std::optional<SearchScorer::Match> SearchScorer::score(
    std::u32string_view word, std::u32string_view text, std::span<const double> bonus) const
{
    if (bonus.size() < text.size())
        return std::nullopt;
    Scratch scratch;
    const GivenBonusText view { text.data(), bonus.data(), text.size() };
    std::vector<int> positions;
    auto result = scoreWord(weights, word, view, scratch, &positions);
    if (!result)
        return std::nullopt;
    return Match { *result, std::move(positions) };
}

std::optional<SearchScorer::Match> SearchScorer::bestDroppingOneCharacter(
    std::u32string_view word, std::u32string_view text, std::span<const double> bonus) const
{
    if (bonus.size() < text.size())
        return std::nullopt;
    Scratch scratch;
    const GivenBonusText view { text.data(), bonus.data(), text.size() };
    std::vector<int> positions;
    auto result = bestDropping(weights, word, view, scratch, &positions);
    if (!result)
        return std::nullopt;
    return Match { *result, std::move(positions) };
}

std::optional<SearchScorer::Match> SearchScorer::slowPath(
    const std::vector<std::u32string>& groups, std::u32string_view haystack) const
{
    if (groups.empty())
        return Match {};
    const std::u32string lowered = TextUnicode::toLower(haystack);
    const ScalarText view { lowered.data(), lowered.data(), lowered.size(), boundaries(weights, wordsLength(groups)) };
    Scratch scratch;
    std::vector<int> positions;
    auto total = matchWords(*this, groups, view, scratch, &positions, false);
    if (!total)
        return std::nullopt;
    std::sort(positions.begin(), positions.end());
    return Match { *total, std::move(positions) };
}

namespace SearchScorerTesting {
void setFlagBudget(std::size_t bytes)
{
    flagBudgetBytes.store(bytes == 0 ? defaultFlagBudget : bytes, std::memory_order_relaxed);
}
} // namespace SearchScorerTesting

} // namespace vantrel
