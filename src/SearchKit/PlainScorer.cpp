// The scorer step by step: split the query into lower-cased words, take the
// slow path where lower-casing changes the text's length, give every scalar
// its boundary bonus, and score each word with three full tables (H: best
// with the word's scalar matched exactly here; M: best with it matched here
// or before, later gaps charged; B: the bonus the run ending here carries),
// then walk back from the last cell for the positions.
#include "SearchKit/PlainScorer.h"

#include "SearchKit/TextUnicode.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace vantrel::PlainScorer {

namespace {

using Match = SearchScorer::Match;
using Table = std::vector<std::vector<double>>;

/// "Impossible": adding any small weight to it leaves it as it is.
constexpr double NEG = std::numeric_limits<double>::lowest();

bool isSubsequence(std::u32string_view word, std::u32string_view text)
{
    std::size_t matched = 0;
    for (std::size_t j = 0; j < text.size() && matched < word.size(); ++j)
        if (text[j] == word[matched])
            ++matched;
    return matched == word.size();
}

/// The positions from the filled tables, from the last text scalar back.
Positions walkBack(std::size_t m, std::size_t n, double c, const Table& H, const Table& M, const Table& B)
{
    Positions positions;
    positions.resize(m, 0);
    auto j = static_cast<long>(n) - 1;
    bool preferRun = false;
    for (auto i = static_cast<long>(m) - 1; i >= 0 && j >= 0; --i) {
        long found = -1;
        for (long k = j; k >= 0 && found < 0; --k)
            if (H[i][k] != NEG && (preferRun || H[i][k] == M[i][k]))
                found = k;
        if (found < 0)
            break; // this and every earlier position stay 0
        positions[i] = static_cast<int>(found);
        preferRun = i >= 1 && found >= 1 && M[i][found] == H[i - 1][found - 1] + std::max(B[i - 1][found - 1], c);
        j = found - 1;
    }
    return positions;
}

/// The best of the word with each scalar left out in turn, the earliest on ties.
std::optional<Match> bestDroppingOne(
    const SearchScorer::Weights& weights, std::u32string_view word, std::u32string_view text, std::span<const double> bonus)
{
    std::optional<Match> best;
    for (std::size_t k = 0; k < word.size(); ++k) {
        const std::u32string variant = std::u32string(word.substr(0, k)) + std::u32string(word.substr(k + 1));
        auto result = scoreWord(weights, variant, text, bonus);
        if (result && (!best || result->score > best->score))
            best = std::move(result);
    }
    return best;
}

/// Every word against the lower-cased text; none when one fails.
std::optional<Match> matchWords(const SearchScorer& scorer, const std::vector<std::u32string>& words,
    std::u32string_view lower, std::span<const double> bonus, bool allowOneMismatch)
{
    Match total;
    for (const auto& word : words) {
        auto result = scoreWord(scorer.weights, word, lower, bonus);
        double penalty = 0;
        if (!result && allowOneMismatch && word.size() >= 2) {
            result = bestDroppingOne(scorer.weights, word, lower, bonus);
            penalty = scorer.weights.mismatchPenalty;
        }
        if (!result)
            return std::nullopt;
        total.score += penalty + result->score;
        total.positions.insert(total.positions.end(), result->positions.begin(), result->positions.end());
    }
    std::sort(total.positions.begin(), total.positions.end());
    return total;
}

} // namespace

std::optional<Match> scoreWord(
    const SearchScorer::Weights& weights, std::u32string_view word, std::u32string_view text, std::span<const double> bonus)
{
    const std::size_t m = word.size(), n = text.size();
    if (m == 0 || m > n || !isSubsequence(word, text))
        return std::nullopt;
    if (m == n) {
        Match whole { std::numeric_limits<double>::max(), {} };
        for (std::size_t i = 0; i < m; ++i)
            whole.positions.push_back(static_cast<int>(i));
        return whole;
    }
    const double c = m > 2 ? weights.consecutive + weights.consecutiveGrowth * static_cast<double>(m - 2)
                           : weights.shortQueryConsecutive;
    Table H(m, std::vector<double>(n, NEG)), M = H, B(m, std::vector<double>(n, 0));
    for (std::size_t i = 0; i < m; ++i) {
        const double g = i == m - 1 ? weights.gapTrailing : weights.gapInner;
        double r = NEG;
        for (std::size_t j = 0; j < n; ++j) {
            if (text[j] == word[i]) {
                double s = NEG, carry = bonus[j];
                if (i == 0) {
                    s = bonus[j] + weights.gapLeading * static_cast<double>(j);
                } else if (j > 0) {
                    const double fresh = bonus[j] + M[i - 1][j - 1];
                    const double extend = H[i - 1][j - 1] + std::max(c, B[i - 1][j - 1]);
                    s = fresh < extend ? extend : fresh;
                    carry = fresh < extend ? B[i - 1][j - 1] : bonus[j];
                }
                H[i][j] = s;
                B[i][j] = carry;
                r = std::max(s, (j == 0 ? NEG : r) + g);
            } else {
                r = (j == 0 ? NEG : r) + g;
            }
            M[i][j] = r;
        }
    }
    return Match { M[m - 1][n - 1], walkBack(m, n, c, H, M, B) };
}

std::optional<Match> match(const SearchScorer& scorer, std::string_view query, std::string_view text)
{
    const SearchScorer::Query prepared = SearchScorer::prepare(query);
    if (prepared.words.empty())
        return Match {};
    const std::u32string raw = TextUnicode::scalars(TextUnicode::leadingScalars(text, SearchScorer::maxTextScalars));
    const std::u32string lower = TextUnicode::toLower(raw);
    if (lower.size() != raw.size()) {
        // Lower-casing changed the length: everything on the lower-cased
        // scalars, blanks not counted in the query's length, nothing left out.
        int length = 0;
        for (const auto& word : prepared.words)
            length += static_cast<int>(word.size());
        return matchWords(scorer, prepared.words, lower, scorer.boundaryBonus(lower, length), false);
    }
    return matchWords(
        scorer, prepared.words, lower, scorer.boundaryBonus(raw, prepared.length), scorer.allowOneMismatch);
}

} // namespace vantrel::PlainScorer
