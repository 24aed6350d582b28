// What the scorer's kernels share: the weights as bonuses, the views of a
// text, the column bits, the recurrence of a matched cell and the
// walk-back. Each instruction set's file includes this before it switches
// its target on, so everything here is built for the baseline wherever it
// is used.
#pragma once

#include "SearchKit/SearchKernel.h"
#include "SearchKit/SearchScorer.h"
#include "SearchKit/TextUnicode.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::scorer {

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
extern std::atomic<std::size_t> flagBudgetBytes;

/// What an ASCII character before a scalar makes of it: the index into
/// Boundaries::afterSeparator (0: no separator, the case change decides).
inline constexpr std::array<std::uint8_t, 128> separatorKinds = [] {
    std::array<std::uint8_t, 128> kinds {};
    for (char c : { ' ', '(', '-', '[', '_' })
        kinds[static_cast<std::size_t>(c)] = 1;
    kinds['.'] = 2;
    kinds['/'] = 3;
    return kinds;
}();

/// ASCII case facts, asked for on every character of every candidate; taken
/// from ICU once so that the fast path cannot drift from the general one.
struct CaseTables {
    /// Indexed by byte: ASCII lower-cased, the bytes of narrowed scalars
    /// (see narrowClass) as they are.
    std::array<std::uint8_t, 256> lower {};
    std::array<bool, 128> lowercase {};
    /// Indexed by byte: false beyond ASCII.
    std::array<bool, 256> uppercase {};
    /// Every UTF-8 byte lower-cased when ASCII; bytes of longer sequences
    /// become 0xFF, which equals no ASCII scalar.
    std::array<std::uint8_t, 256> foldedByte {};
    /// For each lower-cased ASCII scalar, the bytes that lower-case to it
    /// (`formCount` of them, the first repeated when there is one).
    std::array<std::array<std::uint8_t, 2>, 128> forms {};
    std::array<std::uint8_t, 128> formCount {};
    /// Whether no scalar has more than two forms, so that two byte
    /// comparisons find every column of a query scalar.
    bool twoFormsAtMost = true;
    /// What a scalar, ASCII or narrowed, makes of the one after it: its
    /// separator kind (see separatorKinds), or lowerBeforeCase for a
    /// lower-case letter, after which an upper-case one is a camel-case
    /// boundary.
    std::array<std::uint8_t, 256> before {};
};

constexpr std::uint8_t lowerBeforeCase = 4;

/// A narrowed text has one byte per scalar: ASCII as it is, and every other
/// scalar as narrowBase plus what it makes of the bonus of the scalar after
/// it. Such a byte equals no ASCII scalar, as the scalar itself does not as
/// long as lower-casing leaves it unchanged; so it never matches an ASCII
/// word, and its own bonus is never asked for.
enum : std::uint8_t { narrowBase = 0x80, narrowDash = 1, narrowLower = 2, notNarrow = 0xFF };

/// The dashes and the dot beyond ASCII that start a word after them.
constexpr bool isWordDash(char32_t c)
{
    return c == 0x2013 || c == 0x2014 || c == 0x00B7; // en dash, em dash, middle dot
}

inline const CaseTables& caseTables()
{
    static const CaseTables tables = [] {
        CaseTables result;
        for (char32_t c = 0; c < 128; ++c) {
            result.lower[c] = static_cast<std::uint8_t>(TextUnicode::asciiLower(c));
            result.lowercase[c] = TextUnicode::isLowercase(c);
            result.uppercase[c] = TextUnicode::isUppercase(c);
        }
        for (std::size_t byte = 0; byte < 256; ++byte)
            result.foldedByte[byte] = byte < 128 ? result.lower[byte] : 0xFF;
        for (std::size_t c = 0; c < 128; ++c)
            result.before[c] = separatorKinds[c] != 0 ? separatorKinds[c] : result.lowercase[c] ? lowerBeforeCase : 0;
        for (std::uint8_t bits = 0; bits < 4; ++bits) {
            const std::uint8_t byte = narrowBase | bits;
            result.lower[byte] = byte;
            result.before[byte] = (bits & narrowDash) != 0 ? separatorKinds[' '] : (bits & narrowLower) != 0 ? lowerBeforeCase : 0;
        }
        for (std::uint8_t byte = 0; byte < 128; ++byte) {
            const std::uint8_t target = result.lower[byte];
            if (target >= 128)
                continue;
            auto& count = result.formCount[target];
            auto& forms = result.forms[target];
            if (count == 0)
                forms = { byte, byte };
            else if (count == 1)
                forms[1] = byte;
            else
                result.twoFormsAtMost = false;
            count = static_cast<std::uint8_t>(std::min(count + 1, 2));
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
    /// Indexed by separatorKinds: none, word start, dot, slash.
    std::array<double, 4> afterSeparator;
    /// The bonus between two ASCII scalars p and q, indexed by
    /// 2 * before[p] + (q is upper case): a table look-up instead of the
    /// branches of boundaryBetween, whose outcomes are as good as random.
    std::array<double, 10> betweenAscii;

    double ascii(std::uint8_t p, std::uint8_t q) const
    {
        return betweenAscii[2 * std::size_t { cases->before[p] } + std::size_t { cases->uppercase[q] }];
    }
};

inline Boundaries boundaries(const Weights& weights, int queryLength)
{
    const double boost = queryLength < 3 ? weights.shortQueryBoundaryBoost : 1.0;
    const double wordStart = boost * weights.wordStart;
    const double afterDot = boost * weights.afterDot;
    const double afterSlash = boost * weights.afterSlash;
    const double camelCase = boost * weights.camelCase;
    return { wordStart, afterDot, afterSlash, camelCase, &caseTables(), { 0.0, wordStart, afterDot, afterSlash },
        { 0.0, 0.0, wordStart, wordStart, afterDot, afterDot, afterSlash, afterSlash, 0.0, camelCase } };
}

/// The bonus of scalar q preceded by p (positions after the first): a
/// separator decides alone, otherwise a lower-to-upper case change.
inline double boundaryBetween(const Boundaries& b, char32_t p, char32_t q)
{
    if (p < 128) {
        if (const std::uint8_t kind = separatorKinds[p]; kind != 0)
            return b.afterSeparator[kind];
        if (!b.cases->lowercase[p])
            return 0;
        return (q < 128 ? b.cases->uppercase[q] : TextUnicode::isUppercase(q)) ? b.camelCase : 0;
    }
    if (isWordDash(p))
        return b.wordStart;
    return TextUnicode::isLowercase(p) && TextUnicode::isUppercase(q) ? b.camelCase : 0;
}

/// x's sign and power of two: its mantissa cleared (0 for zero and
/// subnormals).
inline double signedBinade(double x)
{
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) & 0xFFF0000000000000);
}

/// x with `gap` added `count` times in turn, as the recurrence charges the
/// columns after a word's last match. Inside one binade (one sign and power
/// of two 2^e) the doubles are the multiples of u = 2^(e-52), so each
/// addition rounds to the same step d, gap rounded to a multiple of u, as
/// long as its exact sum stays inside the binade and gap is not exactly
/// halfway between two multiples (rounding to even would then depend on the
/// value). The result is then x + count * d, where count * d is exact (a
/// multiple of u below 2^e): one chain of four operations instead of
/// `count` dependent additions. Anything less certain adds one by one.
inline double addedInTurn(double x, double gap, std::size_t count)
{
    if (count > 1) {
        const double binade = signedBinade(x);
        const double moved = x + gap;
        const double step = moved - x; // exact when it counts: moved lies between x and after
        const double after = x + static_cast<double>(count) * step;
        // Every sum stays inside: above the binade's lowest magnitude (an
        // exact sum just below it rounds on the finer grid of the binade
        // below) and below the next power of two.
        const bool inside = binade != 0 && signedBinade(after) == binade && after != binade;
        if (inside && std::fabs(gap - step) != std::fabs(binade) * 0x1p-53)
            return after;
    }
    for (; count > 0; --count)
        x += gap;
    return x;
}

// The kernel reads texts through these three views, so that ASCII texts are
// scored straight from their bytes, most others from a byte per scalar, and
// only the rest are decoded.

/// ASCII text scored from its UTF-8 bytes, or a narrowed text from its
/// bytes (see narrowClass); bonuses from the bytes as typed.
struct AsciiText {
    const std::uint8_t* bytes;
    std::size_t length;
    Boundaries b;
    const std::uint8_t* lowerTable = b.cases->lower.data();

    std::size_t size() const { return length; }
    char32_t lower(std::size_t j) const { return lowerTable[bytes[j]]; }
    double bonus(std::size_t j) const { return j == 0 ? b.afterSlash : b.ascii(bytes[j - 1], bytes[j]); }
};

/// Decoded text: lower-cased scalars for matching, `raw` ones for bonuses.
struct ScalarText {
    const char32_t* raw;
    const char32_t* lowered;
    std::size_t length;
    Boundaries b;

    std::size_t size() const { return length; }
    char32_t lower(std::size_t j) const { return lowered[j]; }
    double bonus(std::size_t j) const
    {
        if (j == 0)
            return b.afterSlash;
        const char32_t p = raw[j - 1];
        const char32_t q = raw[j];
        if ((p | q) >= 128)
            return boundaryBetween(b, p, q);
        return b.ascii(static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(q));
    }
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
/// the last text character back over `count` candidate columns: column(e)
/// is the e-th in ascending order and flagAt(i, e) row i's flags there. A
/// column may be left out of the candidates only where no row's character
/// occurs. Positions not found stay 0.
template <class Text, class Column, class FlagAt>
void walkBack(std::u32string_view word, const Text& text, std::size_t count, Column&& column, FlagAt&& flagAt,
    std::vector<int>& positions)
{
    const std::size_t m = word.size();
    const std::size_t base = positions.size();
    positions.resize(base + m, 0);
    auto e = static_cast<std::ptrdiff_t>(count) - 1; // the candidates left of the last position found
    bool preferRun = false;
    for (std::size_t i = m; i-- > 0;) {
        std::ptrdiff_t found = -1;
        for (; e >= 0; --e) {
            if (text.lower(column(e)) != word[i])
                continue;
            const std::uint8_t f = flagAt(i, e);
            if ((f & cellReachable) != 0 && (preferRun || (f & cellEndsBest) != 0)) {
                found = e;
                break;
            }
        }
        if (found < 0)
            break;
        const std::size_t k = column(found);
        positions[base + i] = static_cast<int>(k);
        preferRun = i >= 1 && k >= 1 && (flagAt(i, found) & cellExtendsRun) != 0;
        e = found - 1;
    }
}

/// What every variant of the table pass needs to know about one word.
struct WordPass {
    std::u32string_view word;
    std::size_t first; // first column where word[0] occurs
    std::size_t last;  // last column where the word's last scalar occurs
    double c;          // the consecutive bonus for this word length
};

/// The walk-back facts of a cell whose character matched: its score `s`, the
/// row's best `r` so far and the value `extend` of continuing the run.
inline std::uint8_t cellFlag(double s, double r, double extend, std::size_t i, std::size_t j)
{
    const unsigned reachable = s != NEG;
    const unsigned best = reachable & static_cast<unsigned>(s == r);
    const unsigned run = static_cast<unsigned>(i > 0 && j > 0) & static_cast<unsigned>(r == extend);
    return static_cast<std::uint8_t>(reachable * cellReachable | best * cellEndsBest | run * cellExtendsRun);
}

/// The walk-back facts of the short-word pass as bits, one word per row and
/// fact for each block of 64 columns: bit j % 64 of a row's word says the
/// row is reachable in column j, ends the row's best there, or extends a run
/// there (cellFlag's facts). A block holds the reachable words of all the
/// pass's rows (`rows`, the lanes of its registers), then the best ones, then
/// the run ones. The last two are read only where the first is set, and the
/// run bit only for rows above 0 in columns after 0 (nothing above row 0 is
/// reachable in column 0), so cellFlag's guards on them are left out.
enum WalkFact : std::size_t { factReachable, factEndsBest, factExtendsRun, factCount };

struct WalkBits {
    std::uint64_t* bits;
    std::size_t rows;
    std::size_t firstBlock; // the block of the pass's first column

    std::uint64_t& word(WalkFact fact, std::size_t row, std::size_t block) const
    {
        return bits[((block - firstBlock) * factCount + fact) * rows + row];
    }
};

/// Where each scalar of a word of at most 8 occurs in a text: row i's bits
/// (bit j % 64 of word j / 64 for column j) start at bits + i * words. Built
/// in one pass that needs no branch per column, these answer the
/// subsequence test, the first and last useful columns and the list of
/// matching columns with a few bit operations per matched character.
struct ColumnBits {
    static constexpr std::size_t maxRows = 8;
    static constexpr std::size_t none = std::numeric_limits<std::size_t>::max();

    const std::uint64_t* bits;
    std::size_t words;

    std::uint64_t word(std::size_t row, std::size_t index) const { return bits[row * words + index]; }

    /// The first column at or after `from` where row `row` occurs; none if none.
    std::size_t next(std::size_t row, std::size_t from) const
    {
        std::size_t index = from / 64;
        if (index >= words)
            return none;
        std::uint64_t x = word(row, index) & (~std::uint64_t { 0 } << (from % 64));
        while (x == 0) {
            if (++index == words)
                return none;
            x = word(row, index);
        }
        return index * 64 + static_cast<std::size_t>(std::countr_zero(x));
    }

    /// The last column where row `row` occurs; none if none.
    std::size_t lastOf(std::size_t row) const
    {
        for (std::size_t index = words; index-- > 0;) {
            if (const std::uint64_t x = word(row, index); x != 0)
                return index * 64 + 63 - static_cast<std::size_t>(std::countl_zero(x));
        }
        return none;
    }
};

/// Bits of rows 0..m-1 for the 64 columns from `begin` (fewer at the end).
using BlockBits = std::array<std::uint64_t, ColumnBits::maxRows>;

/// The first and last useful columns of a word: where the greedy
/// subsequence takes word[0], and the last occurrence of the last scalar.
/// None when the word is not a subsequence.
struct Span {
    std::size_t first;
    std::size_t last;
};

inline std::optional<Span> subsequenceSpan(const ColumnBits& columns, std::size_t m)
{
    if (columns.words == 1) {
        // Most texts: one word of bits per row, and no loop over words.
        std::uint64_t allowed = ~std::uint64_t { 0 };
        std::size_t first = 0;
        for (std::size_t i = 0; i < m; ++i) {
            const std::uint64_t x = columns.bits[i] & allowed;
            if (x == 0)
                return std::nullopt;
            const auto j = static_cast<unsigned>(std::countr_zero(x));
            if (i == 0)
                first = j;
            allowed = ~std::uint64_t { 1 } << j;
        }
        return Span { first, 63 - static_cast<std::size_t>(std::countl_zero(columns.bits[m - 1])) };
    }
    std::size_t from = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t j = columns.next(i, from);
        if (j == ColumnBits::none)
            return std::nullopt;
        if (i == 0)
            first = j;
        from = j + 1;
    }
    return Span { first, columns.lastOf(m - 1) };
}

/// walkBack for the short-word pass: a row's reachable cells are those the
/// walk-back may take, so each row is found with a few bit operations per
/// block rather than by trying its columns one by one. The m positions,
/// counted from `offset`, go to `out`; those not found are 0.
inline void walkBackOnBits(
    const WalkBits& facts, std::size_t m, std::size_t first, std::size_t last, int* out, std::size_t offset = 0)
{
    std::fill(out, out + m, 0);
    // Whether a run is preferred is as good as random: a mask, not a branch.
    std::uint64_t anyBest = 0;
    if (last / 64 == facts.firstBlock) {
        // Most passes fit in one block: a row is one word of each fact, and
        // nothing before `first` is reachable.
        const std::size_t block = facts.firstBlock;
        std::uint64_t below = ~std::uint64_t { 0 } >> (63 - last % 64); // the columns left to take
        for (std::size_t i = m; i-- > 0;) {
            const std::uint64_t x = facts.word(factReachable, i, block) & (facts.word(factEndsBest, i, block) | anyBest) & below;
            if (x == 0)
                return;
            const auto found = static_cast<unsigned>(63 - std::countl_zero(x));
            out[i] = static_cast<int>(block * 64 + found + offset);
            anyBest = 0 - ((facts.word(factExtendsRun, i, block) >> found) & 1);
            below = (std::uint64_t { 1 } << found) - 1;
        }
        return;
    }
    std::size_t end = last + 1; // candidates lie in [first, end)
    for (std::size_t i = m; i-- > 0 && end > first;) {
        std::size_t found = ColumnBits::none;
        std::uint64_t below = ~std::uint64_t { 0 } >> (63 - (end - 1) % 64);
        for (std::size_t block = (end - 1) / 64 + 1; block-- > facts.firstBlock;) {
            const std::uint64_t x = facts.word(factReachable, i, block)
                & (facts.word(factEndsBest, i, block) | anyBest) & std::exchange(below, ~std::uint64_t { 0 });
            if (x != 0) {
                found = block * 64 + 63 - static_cast<std::size_t>(std::countl_zero(x));
                break;
            }
        }
        if (found == ColumnBits::none)
            break;
        out[i] = static_cast<int>(found + offset);
        // Row 0 ends the walk; a later row found in column 0 would be unreachable.
        anyBest = 0 - ((facts.word(factExtendsRun, i, found / 64) >> (found % 64)) & 1);
        end = found;
    }
}

/// For each set of lanes (bit k: lane k), a mask of all bits set in those
/// lanes: how a pass keeps or drops its rows' cells without a branch.
template <std::size_t Width>
constexpr auto laneMasks = [] {
    std::array<std::array<double, Width>, std::size_t { 1 } << Width> masks {};
    for (std::size_t bits = 0; bits < masks.size(); ++bits)
        for (std::size_t k = 0; k < Width; ++k)
            masks[bits][k] = std::bit_cast<double>((bits >> k & 1) != 0 ? ~std::uint64_t { 0 } : 0);
    return masks;
}();

/// Makes `buffer` hold at least `size` elements; it never shrinks, so a
/// steady stream of texts neither allocates nor clears anything.
template <class T>
inline void growTo(std::vector<T>& buffer, std::size_t size)
{
    if (buffer.size() < size)
        buffer.resize(size);
}

/// The byte a scalar beyond ASCII becomes in a narrowed text (see
/// narrowBase), or notNarrow.
std::uint8_t narrowClass(char32_t c);

/// One build of the per-text kernel (ScorerKernel.inc) for one instruction
/// set.
struct PerTextKernel {
    std::optional<double> (*matchAscii)(const SearchScorer& scorer, const std::vector<std::u32string>& words,
        const AsciiText& text, Scratch& scratch, std::vector<int>* positions, bool allowOneMismatch);
    std::optional<double> (*matchDecoded)(const SearchScorer& scorer, const std::vector<std::u32string>& words,
        const ScalarText& text, Scratch& scratch, std::vector<int>* positions, bool allowOneMismatch);
    std::optional<double> (*scoreWord)(const Weights& weights, std::u32string_view word, const GivenBonusText& text,
        Scratch& scratch, std::vector<int>* positions);
    std::optional<double> (*bestDropping)(const Weights& weights, std::u32string_view word,
        const GivenBonusText& text, Scratch& scratch, std::vector<int>* positions);
    bool (*couldMatch)(
        const SearchScorer& scorer, const SearchScorer::Query& query, std::string_view text, Scratch& scratch);
};

/// The texts of one shared pass (SearchScorer::Batch): lane L's bytes
/// (ASCII or narrowed) start at bytes[L] + 1, after a "/" that gives the
/// first column the bonus of the text's start.
struct SharedLanes {
    static constexpr std::size_t lanes = SearchScorer::Batch::lanes;
    std::array<const std::uint8_t*, lanes> bytes {};
    std::size_t count = 0;
    std::array<std::uint16_t, lanes> lengths {};
    /// The columns of each lane's pass for one word.
    std::array<std::uint16_t, lanes> first {}, last {};
};

/// The letters of a query's words (each ASCII, at most four words of four)
/// as SharedKernel::keepAndMark looks for them, laid out once per query
/// rather than walked word by word for every text: each letter's row of
/// marks (4 * word + letter), the lower-cased letter, and the two bytes
/// that lower-case to it, where some byte does.
struct MarkedLetters {
    struct Letter {
        std::uint8_t row = 0;
        std::uint8_t lower = 0;
        std::array<std::uint8_t, 2> forms {};
        bool found = false;
    };
    std::array<Letter, 16> letters {};
    std::size_t count = 0;

    MarkedLetters(const std::vector<std::u32string>& words, const CaseTables& cases)
    {
        for (std::size_t w = 0; w < words.size() && w < 4; ++w)
            for (std::size_t i = 0; i < words[w].size() && i < 4; ++i) {
                const char32_t c = words[w][i];
                Letter& letter = letters[count++];
                letter.row = static_cast<std::uint8_t>(4 * w + i);
                letter.lower = static_cast<std::uint8_t>(c < 128 ? c : 0);
                letter.found = c < 128 && cases.formCount[c] != 0;
                if (letter.found)
                    letter.forms = cases.forms[c];
            }
    }
};

/// The passes that score eight texts at once, where an instruction set has
/// them.
struct SharedKernel {
    /// Copies a text of at most maxShared bytes (ASCII or narrowed) to `out`
    /// and marks, for each letter of each word, the columns where it occurs:
    /// bits[(4 * w + i) * blocks + b] for letter i of word w and block b, as
    /// ColumnBits. With `ascii` set, a text with a byte beyond ASCII is
    /// refused (the answer is false), its bytes marked even so. Only asked
    /// where no letter has more than two forms (CaseTables::twoFormsAtMost).
    bool (*keepAndMark)(const std::uint8_t* bytes, std::size_t n, const MarkedLetters& letters,
        const CaseTables& cases, std::uint8_t* out, std::uint64_t* bits, bool ascii);
    /// The pass of a word of 1 to 4 scalars over every lane: each lane's M
    /// of the last row in its `last` column goes to scores[L] (trailing gaps
    /// not yet charged). With `facts` set, lane L's walk-back bits go to
    /// facts + L * factStride as WalkBits with the word's length in rows,
    /// its first column counted as column 0.
    void (*wordPass)(const SharedLanes& in, std::u32string_view word, const Weights& weights, const Boundaries& b,
        double c, double* scores, std::uint64_t* facts, std::size_t factStride);
};

/// The builds, each in the file named after its instruction set.
extern const PerTextKernel scalarKernel;
#if VANTREL_X86_KERNELS
extern const PerTextKernel avx2Kernel;
extern const SharedKernel avx2SharedKernel;
extern const SharedKernel avx512SharedKernel;
#endif

/// The per-text kernel of the search kernel in use (see SearchKernel.cpp).
const PerTextKernel& perTextKernel();
/// The shared passes of the search kernel in use; null where texts are
/// scored one at a time.
const SharedKernel* sharedKernel();

} // namespace vantrel::scorer
