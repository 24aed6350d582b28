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

/// The four boundary bonuses with the short-query boost applied.
struct Boundaries {
    double wordStart;
    double afterDot;
    double afterSlash;
    double camelCase;
};

Boundaries boundaries(const Weights& weights, int queryLength)
{
    const double boost = queryLength < 3 ? weights.shortQueryBoundaryBoost : 1.0;
    return { boost * weights.wordStart, boost * weights.afterDot, boost * weights.afterSlash, boost * weights.camelCase };
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
    if (TextUnicode::isLowercase(p) && TextUnicode::isUppercase(q))
        return b.camelCase;
    return 0;
}

const std::array<std::uint8_t, 128>& asciiLowerTable()
{
    static const auto table = [] {
        std::array<std::uint8_t, 128> result {};
        for (char32_t c = 0; c < 128; ++c)
            result[c] = static_cast<std::uint8_t>(TextUnicode::asciiLower(c));
        return result;
    }();
    return table;
}

// The kernel reads texts through these three views, so that ASCII texts are
// scored straight from their bytes and only other texts are decoded.

/// ASCII text scored from its UTF-8 bytes; bonuses from the bytes as typed.
struct AsciiText {
    const std::uint8_t* bytes;
    std::size_t length;
    Boundaries b;
    const std::uint8_t* lowerTable = asciiLowerTable().data();

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

/// Scores one word against a text. The tables H (best score with word[i]
/// matched exactly at text[j]), M (best score with word[i] matched at or
/// before text[j], gaps after it charged) and B (the bonus carried by the run
/// ending at (i, j)) are filled column by column: column j needs only column
/// j-1, so the values live in three arrays of m entries, and the m rows of a
/// column are independent additions that the processor overlaps. Only the
/// walk-back flags are kept per cell. Columns before the first occurrence of
/// word[0] are all impossible and columns after the last occurrence of the
/// word's last scalar only extend the last row's trailing gap, so neither is
/// computed. When the flags of all columns would exceed flagBudgetBytes, the
/// columns are grouped into segments of about sqrt(24 n) columns; the first
/// pass keeps the three arrays at the start of each segment, and the walk-back
/// (whose column only ever decreases) recomputes one segment's flags at a time.
/// Memory is then O(m sqrt(n)) instead of O(m n), for one more pass of time.
/// Positions (if wanted) are appended to `positions` only on success.
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

    const double c = m > 2 ? weights.consecutive + weights.consecutiveGrowth * static_cast<double>(m - 2)
                           : weights.shortQueryConsecutive;
    const double gapLeading = weights.gapLeading;
    const double gapInner = weights.gapInner;
    const double gapTrailing = weights.gapTrailing;

    scratch.H.resize(m);
    scratch.M.resize(m);
    scratch.B.resize(m);
    double* H = scratch.H.data();
    double* M = scratch.M.data();
    double* B = scratch.B.data();
    const char32_t* w = word.data();

    auto reset = [&] {
        std::fill(H, H + m, NEG);
        std::fill(M, M + m, NEG);
        std::fill(B, B + m, 0.0);
    };

    auto column = [&](std::size_t j, std::uint8_t* flags) {
        const char32_t t = text.lower(j);
        double bonus = 0;
        bool haveBonus = false;
        // Descending i: row i reads row i-1's values of column j-1, which are
        // still in place.
        for (std::size_t i = m; i-- > 0;) {
            const double g = i + 1 == m ? gapTrailing : gapInner;
            if (t != w[i]) {
                M[i] += g;
                H[i] = NEG;
                B[i] = 0;
                continue;
            }
            if (!haveBonus) {
                bonus = text.bonus(j);
                haveBonus = true;
            }
            double s;
            double carry;
            double extend = NEG;
            if (i == 0) {
                s = bonus + gapLeading * static_cast<double>(j);
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
            const double r = std::max(s, M[i] + g);
            if (flags != nullptr) {
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
    };

    const std::size_t columns = last - first + 1;
    std::size_t segment = columns;
    if (positions != nullptr && m * columns > flagBudgetBytes.load(std::memory_order_relaxed)) {
        const auto balanced = static_cast<std::size_t>(std::sqrt(24.0 * static_cast<double>(columns)));
        segment = std::clamp<std::size_t>(balanced, 1, columns);
    }
    const std::size_t segments = (columns + segment - 1) / segment;
    const bool keepFlags = positions != nullptr && segments == 1;
    if (keepFlags)
        scratch.flags.resize(columns * m);
    if (positions != nullptr && segments > 1)
        scratch.checkpoints.resize(segments * 3 * m);

    auto saveCheckpoint = [&](std::size_t index) {
        double* out = scratch.checkpoints.data() + index * 3 * m;
        std::copy(H, H + m, out);
        std::copy(M, M + m, out + m);
        std::copy(B, B + m, out + 2 * m);
    };

    reset();
    for (std::size_t index = 0; index < segments; ++index) {
        if (positions != nullptr && segments > 1)
            saveCheckpoint(index);
        const std::size_t begin = first + index * segment;
        const std::size_t end = std::min(last + 1, begin + segment);
        for (std::size_t j = begin; j < end; ++j)
            column(j, keepFlags ? scratch.flags.data() + (j - first) * m : nullptr);
    }
    double result = M[m - 1];
    for (std::size_t j = last + 1; j < n; ++j)
        result += gapTrailing;

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

    const std::size_t base = positions->size();
    positions->resize(base + m, 0);
    auto j = static_cast<std::ptrdiff_t>(n) - 1;
    bool preferRun = false;
    for (std::size_t i = m; i-- > 0;) {
        if (j < 0)
            continue;
        std::ptrdiff_t found = -1;
        for (auto k = std::min(j, static_cast<std::ptrdiff_t>(last)); k >= static_cast<std::ptrdiff_t>(first); --k) {
            if (text.lower(static_cast<std::size_t>(k)) != w[i])
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
        (*positions)[base + i] = static_cast<int>(found);
        preferRun = i >= 1 && found >= 1 && (flagAt(i, static_cast<std::size_t>(found)) & cellExtendsRun) != 0;
        j = found - 1;
    }
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
            scratch.lower[i] = TextUnicode::asciiLower(c);
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
