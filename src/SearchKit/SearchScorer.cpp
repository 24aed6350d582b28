// The fuzzy scorer: boundary bonuses, the per-word dynamic programme and the
// walk-back that recovers matched positions.
#include "SearchKit/SearchScorer.h"

#include "SearchKit/TextUnicode.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// A second build of the per-text kernel for AVX2, chosen at run time, needs
// GCC's per-function targets.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VANTREL_QUAD_LANES 1
#include <immintrin.h>
#else
#define VANTREL_QUAD_LANES 0
#endif

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

/// What an ASCII character before a scalar makes of it: the index into
/// Boundaries::afterSeparator (0: no separator, the case change decides).
constexpr std::array<std::uint8_t, 128> separatorKinds = [] {
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

const CaseTables& caseTables()
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

Boundaries boundaries(const Weights& weights, int queryLength)
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

/// A cell whose text character matched its word character: the score `s`,
/// the bonus `carry` its run carries on, and `extend`, the value of
/// continuing the run that ends diagonally before it (NEG in the first row).
struct MatchedCell {
    double s;
    double carry;
    double extend;
};

/// The matched cell (i, j) from the previous column's rows H, M and B: a new
/// run starting here or the run before it continued, whichever scores more
/// (a new run on ties).
template <class Array>
inline MatchedCell matchedCell(
    const Weights& weights, std::size_t i, std::size_t j, double bonus, double c, const Array& H, const Array& M, const Array& B)
{
    if (i == 0)
        return { bonus + weights.gapLeading * static_cast<double>(j), bonus, NEG };
    const double fresh = bonus + M[i - 1];
    const double extend = H[i - 1] + std::max(c, B[i - 1]);
    return { std::max(fresh, extend), fresh < extend ? B[i - 1] : bonus, extend };
}

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
        const MatchedCell cell = matchedCell(weights, i, j, bonus, c, H, M, B);
        const double r = std::max(cell.s, M[i] + gap[i]);
        if (flags != nullptr && i < m)
            flags[i] = cellFlag(cell.s, r, cell.extend, i, j);
        H[i] = cell.s;
        B[i] = cell.carry;
        M[i] = r;
    }
}

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

std::optional<Span> subsequenceSpan(const ColumnBits& columns, std::size_t m)
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
void walkBackOnBits(
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

/// Rows of the short-word pass side by side, `width` to a register. Every
/// operation is the scalar one lane by lane, so all lane types give the same
/// bits. PairLanes is an SSE2 register where the machine has one and two
/// doubles elsewhere; QuadLanes (below) is an AVX2 register.
#if defined(__SSE2__)
struct PairLanes {
    static constexpr std::size_t width = 2;
    __m128d v;

    static PairLanes all(double x) { return { _mm_set1_pd(x) }; }
    static PairLanes load(const double* x) { return { _mm_loadu_pd(x) }; }
    static PairLanes add(PairLanes a, PairLanes b) { return { _mm_add_pd(a.v, b.v) }; }
    /// std::max per lane: `b` only where it is greater, `a` on ties.
    static PairLanes max(PairLanes a, PairLanes b) { return { _mm_max_pd(b.v, a.v) }; }
    /// All bits set in the lanes where a < b.
    static PairLanes less(PairLanes a, PairLanes b) { return { _mm_cmplt_pd(a.v, b.v) }; }
    /// `a` in the lanes where the mask is set, `b` in the others.
    static PairLanes select(PairLanes mask, PairLanes a, PairLanes b)
    {
        return { _mm_or_pd(_mm_and_pd(mask.v, a.v), _mm_andnot_pd(mask.v, b.v)) };
    }
    /// All bits set in the lanes where `a` equals (differs from) `b`.
    static PairLanes equal(PairLanes a, PairLanes b) { return { _mm_cmpeq_pd(a.v, b.v) }; }
    static PairLanes unequal(PairLanes a, PairLanes b) { return { _mm_cmpneq_pd(a.v, b.v) }; }
    /// One 64-bit word of flags per lane, collected over 64 columns.
    struct Bits {
        __m128i v;
    };
    static Bits noBits() { return { _mm_setzero_si128() }; }
    /// Bit `bit` in every lane.
    static Bits bitAt(unsigned bit) { return { _mm_set1_epi64x(static_cast<long long>(std::uint64_t { 1 } << bit)) }; }
    /// `bits` added to `acc` in the lanes where the mask is set.
    static Bits addBits(Bits acc, PairLanes mask, Bits bits)
    {
        return { _mm_or_si128(acc.v, _mm_and_si128(_mm_castpd_si128(mask.v), bits.v)) };
    }
    static void storeBits(std::uint64_t* out, Bits bits) { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bits.v); }
    /// The last lane of `below` followed by all but the last of `a`: each
    /// lane then holds the row under it.
    static PairLanes shiftIn(PairLanes below, PairLanes a) { return { _mm_shuffle_pd(below.v, a.v, 1) }; }
    /// `a` with its first lane replaced.
    static PairLanes withFirst(PairLanes a, double x) { return { _mm_move_sd(a.v, _mm_set_sd(x)) }; }
    static double lane(PairLanes a, std::size_t k)
    {
        return _mm_cvtsd_f64(k == 0 ? a.v : _mm_unpackhi_pd(a.v, a.v));
    }
};
#else
struct PairLanes {
    static constexpr std::size_t width = 2;
    std::array<double, 2> v;

    static PairLanes all(double x) { return { { x, x } }; }
    static PairLanes load(const double* x) { return { { x[0], x[1] } }; }
    static PairLanes add(PairLanes a, PairLanes b) { return { { a.v[0] + b.v[0], a.v[1] + b.v[1] } }; }
    static PairLanes max(PairLanes a, PairLanes b)
    {
        return { { std::max(a.v[0], b.v[0]), std::max(a.v[1], b.v[1]) } };
    }
    static double maskOf(bool set) { return std::bit_cast<double>(0 - static_cast<std::uint64_t>(set)); }
    static PairLanes less(PairLanes a, PairLanes b) { return { { maskOf(a.v[0] < b.v[0]), maskOf(a.v[1] < b.v[1]) } }; }
    static double selectOne(double mask, double a, double b)
    {
        const auto m = std::bit_cast<std::uint64_t>(mask);
        return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & m) | (std::bit_cast<std::uint64_t>(b) & ~m));
    }
    static PairLanes select(PairLanes mask, PairLanes a, PairLanes b)
    {
        return { { selectOne(mask.v[0], a.v[0], b.v[0]), selectOne(mask.v[1], a.v[1], b.v[1]) } };
    }
    static PairLanes equal(PairLanes a, PairLanes b) { return { { maskOf(a.v[0] == b.v[0]), maskOf(a.v[1] == b.v[1]) } }; }
    static PairLanes unequal(PairLanes a, PairLanes b)
    {
        return { { maskOf(a.v[0] != b.v[0]), maskOf(a.v[1] != b.v[1]) } };
    }
    // Flag words stay integers: some of their bit patterns are signalling
    // NaNs, which a floating-point register may quieten.
    using Bits = std::array<std::uint64_t, 2>;
    static Bits noBits() { return {}; }
    static Bits bitAt(unsigned bit) { return { std::uint64_t { 1 } << bit, std::uint64_t { 1 } << bit }; }
    static Bits addBits(Bits acc, PairLanes mask, Bits bits)
    {
        for (std::size_t k = 0; k < 2; ++k)
            acc[k] |= std::bit_cast<std::uint64_t>(mask.v[k]) & bits[k];
        return acc;
    }
    static void storeBits(std::uint64_t* out, Bits bits) { std::copy(bits.begin(), bits.end(), out); }
    static PairLanes shiftIn(PairLanes below, PairLanes a) { return { { below.v[1], a.v[0] } }; }
    static PairLanes withFirst(PairLanes a, double x) { return { { x, a.v[1] } }; }
    static double lane(PairLanes a, std::size_t k) { return a.v[k]; }
};
#endif

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

/// Columns of bytes and of decoded scalars compared 16 and 4 at a time, or
/// not at all without SSE2.
#if defined(__SSE2__)
struct ByteSixteens {
    static constexpr std::size_t width = 16;
    __m128i v;

    static ByteSixteens all(std::uint8_t byte) { return { _mm_set1_epi8(static_cast<char>(byte)) }; }
    static ByteSixteens load(const std::uint8_t* bytes)
    {
        return { _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)) };
    }
    /// Bit k set where byte k equals `a` or `b`.
    static std::uint32_t equalEither(ByteSixteens chunk, ByteSixteens a, ByteSixteens b)
    {
        const __m128i same = _mm_or_si128(_mm_cmpeq_epi8(chunk.v, a.v), _mm_cmpeq_epi8(chunk.v, b.v));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(same));
    }
};
struct ScalarFours {
    static constexpr std::size_t width = 4;
    __m128i v;

    static ScalarFours load(const char32_t* scalars)
    {
        return { _mm_loadu_si128(reinterpret_cast<const __m128i*>(scalars)) };
    }
    /// Bit k set where scalar k is `c`.
    static std::uint32_t equal(ScalarFours chunk, char32_t c)
    {
        const __m128i same = _mm_cmpeq_epi32(chunk.v, _mm_set1_epi32(static_cast<int>(c)));
        return static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(same)));
    }
};
#else
struct ByteSixteens {
    static constexpr std::size_t width = 0;
};
struct ScalarFours {
    static constexpr std::size_t width = 0;
};
#endif

/// Makes `buffer` hold at least `size` elements; it never shrinks, so a
/// steady stream of texts neither allocates nor clears anything.
template <class T>
inline void growTo(std::vector<T>& buffer, std::size_t size)
{
    if (buffer.size() < size)
        buffer.resize(size);
}

namespace narrow {
using RowLanes = PairLanes;
using ByteLanes = ByteSixteens;
using ScalarLanes = ScalarFours;
#include "SearchKit/ScorerKernel.inc"
} // namespace narrow

#if VANTREL_QUAD_LANES
// The kernel again for machines with AVX2: four rows of the short-word pass
// to a register, 32 bytes or 8 scalars to a column comparison. Only the
// functions defined in this region use AVX2, and only when quadLanes says
// the machine has it are they called.
#pragma GCC push_options
#pragma GCC target("avx2")
namespace wide {

struct QuadLanes {
    static constexpr std::size_t width = 4;
    __m256d v;

    static QuadLanes all(double x) { return { _mm256_set1_pd(x) }; }
    static QuadLanes load(const double* x) { return { _mm256_loadu_pd(x) }; }
    static QuadLanes add(QuadLanes a, QuadLanes b) { return { _mm256_add_pd(a.v, b.v) }; }
    static QuadLanes max(QuadLanes a, QuadLanes b) { return { _mm256_max_pd(b.v, a.v) }; }
    static QuadLanes less(QuadLanes a, QuadLanes b) { return { _mm256_cmp_pd(a.v, b.v, _CMP_LT_OS) }; }
    static QuadLanes select(QuadLanes mask, QuadLanes a, QuadLanes b) { return { _mm256_blendv_pd(b.v, a.v, mask.v) }; }
    static QuadLanes equal(QuadLanes a, QuadLanes b) { return { _mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ) }; }
    static QuadLanes unequal(QuadLanes a, QuadLanes b) { return { _mm256_cmp_pd(a.v, b.v, _CMP_NEQ_UQ) }; }
    struct Bits {
        __m256i v;
    };
    static Bits noBits() { return { _mm256_setzero_si256() }; }
    static Bits bitAt(unsigned bit)
    {
        return { _mm256_set1_epi64x(static_cast<long long>(std::uint64_t { 1 } << bit)) };
    }
    static Bits addBits(Bits acc, QuadLanes mask, Bits bits)
    {
        return { _mm256_or_si256(acc.v, _mm256_and_si256(_mm256_castpd_si256(mask.v), bits.v)) };
    }
    static void storeBits(std::uint64_t* out, Bits bits)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bits.v);
    }
    static QuadLanes shiftIn(QuadLanes below, QuadLanes a)
    {
        // [below2, below3, a0, a1], then every other lane from `a`.
        const __m256d middle = _mm256_permute2f128_pd(below.v, a.v, 0x21);
        return { _mm256_shuffle_pd(middle, a.v, 0b0101) };
    }
    static QuadLanes withFirst(QuadLanes a, double x) { return { _mm256_blend_pd(a.v, _mm256_set1_pd(x), 1) }; }
    static double lane(QuadLanes a, std::size_t k)
    {
        alignas(32) std::array<double, 4> x;
        _mm256_store_pd(x.data(), a.v);
        return x[k];
    }
};

struct ByteThirtyTwos {
    static constexpr std::size_t width = 32;
    __m256i v;

    static ByteThirtyTwos all(std::uint8_t byte) { return { _mm256_set1_epi8(static_cast<char>(byte)) }; }
    static ByteThirtyTwos load(const std::uint8_t* bytes)
    {
        return { _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)) };
    }
    static std::uint32_t equalEither(ByteThirtyTwos chunk, ByteThirtyTwos a, ByteThirtyTwos b)
    {
        const __m256i same = _mm256_or_si256(_mm256_cmpeq_epi8(chunk.v, a.v), _mm256_cmpeq_epi8(chunk.v, b.v));
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(same));
    }
};

struct ScalarEights {
    static constexpr std::size_t width = 8;
    __m256i v;

    static ScalarEights load(const char32_t* scalars)
    {
        return { _mm256_loadu_si256(reinterpret_cast<const __m256i*>(scalars)) };
    }
    static std::uint32_t equal(ScalarEights chunk, char32_t c)
    {
        const __m256i same = _mm256_cmpeq_epi32(chunk.v, _mm256_set1_epi32(static_cast<int>(c)));
        return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(same)));
    }
};

using RowLanes = QuadLanes;
using ByteLanes = ByteThirtyTwos;
using ScalarLanes = ScalarEights;
#include "SearchKit/ScorerKernel.inc"

} // namespace wide
#pragma GCC pop_options
#endif

/// Whether the kernel built for AVX2 runs: the machine has it, and no test
/// asked for the narrow one.
std::atomic<bool> quadLanes { [] {
#if VANTREL_QUAD_LANES
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}() };

/// `call`, a kernel function with its arguments, on the kernel in use.
#if VANTREL_QUAD_LANES
#define VANTREL_IN_KERNEL(call) (quadLanes.load(std::memory_order_relaxed) ? wide::call : narrow::call)
#else
#define VANTREL_IN_KERNEL(call) (narrow::call)
#endif

/// The byte a scalar beyond ASCII becomes in a narrowed text, or notNarrow
/// when lower-casing could change it: it might then become ASCII (the
/// Kelvin sign), or the text longer, and only the decoded text is exact.
std::uint8_t narrowClass(char32_t c)
{
    auto classOf = [](char32_t c) -> std::uint8_t {
        if (TextUnicode::changesWhenLowercased(c))
            return notNarrow;
        return narrowBase | (isWordDash(c) ? narrowDash : 0) | (TextUnicode::isLowercase(c) ? narrowLower : 0);
    };
    if (c > 0xFFFF)
        return classOf(c);
    // The property look-ups are far dearer than a table; a text's scalars
    // beyond ASCII mostly come from a few blocks of 256.
    using Block = std::array<std::uint8_t, 256>;
    thread_local std::array<std::unique_ptr<Block>, 256> blocks;
    auto& block = blocks[c >> 8];
    if (!block) {
        block = std::make_unique<Block>();
        for (char32_t k = 0; k < 256; ++k)
            (*block)[k] = classOf((c & ~char32_t { 0xFF }) | k);
    }
    return (*block)[c & 0xFF];
}

#if VANTREL_QUAD_LANES
// The short-word pass for eight texts at once, one to each lane of an
// AVX-512 register: where the per-text pass keeps a word's rows side by
// side, this one keeps a row of eight texts. Each lane does exactly the
// scalar recurrence, column after column, so it needs neither the jumps
// between matching columns nor their branches; each text starts at its own
// first matching column, so short and long texts share a pass without one
// waiting through the other's leading columns.
// Intrinsics go in their masked forms where GCC 12 would take the unmasked
// ones' undefined source for an uninitialised variable and warn.
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")
namespace shared {

constexpr std::size_t lanes = SearchScorer::Batch::lanes;

/// The texts of one pass: lane L's bytes (ASCII or narrowed) start at
/// bytes[L] + 1, after a "/" that gives the first column the bonus of the
/// text's start.
struct Lanes {
    std::array<const std::uint8_t*, lanes> bytes {};
    std::size_t count = 0;
    std::array<std::uint16_t, lanes> lengths {};
    /// The columns of each lane's pass for one word.
    std::array<std::uint16_t, lanes> first {}, last {};
};

/// A 256-byte table looked up for 64 bytes at a time.
struct ByteTable {
    __m512i part[4];

    explicit ByteTable(const std::uint8_t* table)
    {
        for (std::size_t k = 0; k < 4; ++k)
            part[k] = _mm512_loadu_si512(table + 64 * k);
    }
    __m512i operator()(__m512i x) const
    {
        const __m512i low = _mm512_permutex2var_epi8(part[0], x, part[1]);
        const __m512i high = _mm512_permutex2var_epi8(part[2], x, part[3]);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
    }
};

/// (a > b ? a : b) in each lane, as vmaxpd.
inline __m512d greater(__m512d a, __m512d b)
{
    return _mm512_mask_max_pd(a, 0xFF, a, b);
}

/// The lowest `count` bits set, for count from below 0 to beyond 64.
inline __mmask64 firstBits(std::ptrdiff_t count)
{
    if (count <= 0)
        return 0;
    return count >= 64 ? ~__mmask64 { 0 } : (__mmask64 { 1 } << count) - 1;
}

/// 64 columns of eight texts, a row of bytes per text, turned into a column
/// of eight bytes (one per text) per step: out[8 * k + L] = rows[L][k].
inline void transpose(const std::uint8_t (&rows)[lanes][64], std::uint8_t* out)
{
    alignas(64) static constexpr std::array<std::uint8_t, 64> order = [] {
        std::array<std::uint8_t, 64> index {};
        for (std::size_t k = 0; k < 8; ++k)
            for (std::size_t L = 0; L < lanes; ++L)
                index[8 * k + L] = static_cast<std::uint8_t>(8 * L + k);
        return index;
    }();
    const __m512i gather = _mm512_set_epi64(7 * 64, 6 * 64, 5 * 64, 4 * 64, 3 * 64, 2 * 64, 64, 0);
    const __m512i regroup = _mm512_load_si512(order.data());
    const __mmask64 all = ~__mmask64 { 0 };
    for (std::size_t q = 0; q < 8; ++q) {
        // Bytes 8q to 8q + 7 of each row, a row's to a quadword, then
        // regrouped column by column.
        const __m512i eight = _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xFF, gather, &rows[0][8 * q], 1);
        _mm512_storeu_si512(out + 64 * q, _mm512_maskz_permutexvar_epi8(all, regroup, eight));
    }
}

/// The pass of a word of R scalars (1 to 4) over every lane: each lane's
/// M of the last row in its `last` column goes to scores[L] (trailing gaps
/// not yet charged). With `facts` set, lane L's walk-back bits go to
/// facts + L * factStride as WalkBits with rows R, its first column counted
/// as column 0.
template <std::size_t R>
void wordPass(const Lanes& in, std::u32string_view word, const Weights& weights, const Boundaries& b, double c,
    double* scores, std::uint64_t* facts, std::size_t factStride)
{
    const CaseTables& cases = *b.cases;
    const ByteTable folded(cases.foldedByte.data());
    const ByteTable before(cases.before.data());
    static_assert(sizeof(bool) == 1);
    const ByteTable upper(reinterpret_cast<const std::uint8_t*>(cases.uppercase.data()));
    alignas(64) std::array<double, 16> bonusTable {};
    std::copy(b.betweenAscii.begin(), b.betweenAscii.end(), bonusTable.begin());
    const __m512d bonusLow = _mm512_load_pd(bonusTable.data());
    const __m512d bonusHigh = _mm512_load_pd(bonusTable.data() + 8);

    alignas(64) std::array<std::int64_t, lanes> firstOf {}, spanOf {};
    std::size_t steps = 0;
    for (std::size_t L = 0; L < lanes; ++L) {
        firstOf[L] = L < in.count ? in.first[L] : 0;
        spanOf[L] = L < in.count ? in.last[L] - in.first[L] : -1; // no steps of its own
        steps = std::max<std::size_t>(steps, static_cast<std::size_t>(spanOf[L] + 1));
    }
    // Each lane's column as a double, one more every step.
    __m512d column = _mm512_maskz_cvtepi64_pd(0xFF, _mm512_load_si512(firstOf.data()));
    const __m512d one = _mm512_set1_pd(1.0);

    const __m512d neg = _mm512_set1_pd(NEG);
    const __m512d zero = _mm512_setzero_pd();
    const __m512d run = _mm512_set1_pd(c);
    const __m512d lead = _mm512_set1_pd(weights.gapLeading);
    __m128i letter[R];
    __m512d gap[R], H[R], M[R], B[R];
    for (std::size_t i = 0; i < R; ++i) {
        letter[i] = _mm_set1_epi8(static_cast<char>(word[i]));
        gap[i] = _mm512_set1_pd(i + 1 == R ? weights.gapTrailing : weights.gapInner);
        H[i] = neg;
        M[i] = neg;
        B[i] = zero;
    }
    // The last row's M after every step, each lane's score to be picked
    // from the step of its last column.
    alignas(64) std::array<std::array<double, lanes>, SearchScorer::Batch::maxShared> lastRow;

    alignas(64) std::uint8_t rows[lanes][64];
    alignas(64) std::uint8_t classRows[lanes][64];
    alignas(64) std::array<std::uint8_t, 64 * lanes> lowered, classes;
    // Per fact and row, a byte per step: bit L for lane L.
    alignas(64) std::uint8_t factBytes[factCount][R][64] = {};

    for (std::size_t block = 0; block * 64 < steps; ++block) {
        for (std::size_t L = 0; L < lanes; ++L) {
            if (L >= in.count) {
                std::fill(std::begin(rows[L]), std::end(rows[L]), 0xFF);
                std::fill(std::begin(classRows[L]), std::end(classRows[L]), 0);
                continue;
            }
            // This block's columns of the lane, and the byte before each.
            const std::size_t from = in.first[L] + 64 * block;
            const std::uint8_t* at = in.bytes[L] + from;
            const auto left = static_cast<std::ptrdiff_t>(in.lengths[L]) - static_cast<std::ptrdiff_t>(from);
            const __mmask64 valid = firstBits(left);
            const __m512i raw = _mm512_maskz_loadu_epi8(valid, at + 1);
            const __m512i previous = _mm512_maskz_loadu_epi8(firstBits(left + 1), at);
            _mm512_store_si512(rows[L], _mm512_mask_mov_epi8(_mm512_set1_epi8(-1), valid, folded(raw)));
            const __m512i kind = before(previous);
            _mm512_store_si512(classRows[L], _mm512_add_epi8(_mm512_add_epi8(kind, kind), upper(raw)));
        }
        transpose(rows, lowered.data());
        transpose(classRows, classes.data());

        const std::size_t count = std::min<std::size_t>(64, steps - 64 * block);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t step = 64 * block + k;
            const __m128i here = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(lowered.data() + 8 * k));
            const __m512i kinds = _mm512_maskz_cvtepu8_epi64(0xFF, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(classes.data() + 8 * k)));
            const __m512d bonus = _mm512_permutex2var_pd(bonusLow, kinds, bonusHigh);
            // Rows from the last down: each reads the row below as it was
            // in the previous column.
            for (std::size_t r = R; r-- > 1;) {
                const __mmask8 hit = static_cast<__mmask8>(_mm_cmpeq_epi8_mask(here, letter[r]));
                const __m512d fresh = _mm512_add_pd(bonus, M[r - 1]);
                const __m512d extend = _mm512_add_pd(H[r - 1], greater(B[r - 1], run));
                const __m512d cell = _mm512_mask_max_pd(neg, hit, extend, fresh);
                const __m512d best = greater(_mm512_add_pd(M[r], gap[r]), cell);
                if (r + 1 < R) {
                    // The carry of a new run on ties, of the run continued
                    // otherwise; no row reads the last row's H and B.
                    const __mmask8 extends = _mm512_cmp_pd_mask(fresh, extend, _CMP_LT_OS);
                    B[r] = _mm512_maskz_mov_pd(hit, _mm512_mask_blend_pd(extends, bonus, B[r - 1]));
                    H[r] = cell;
                }
                if (facts != nullptr) {
                    // The run bit is read only where the cell is reachable.
                    factBytes[factReachable][r][k] = _mm512_cmp_pd_mask(cell, neg, _CMP_NEQ_UQ);
                    factBytes[factEndsBest][r][k] = _mm512_cmp_pd_mask(cell, best, _CMP_EQ_OQ);
                    factBytes[factExtendsRun][r][k] = _mm512_mask_cmp_pd_mask(hit, best, extend, _CMP_EQ_OQ);
                }
                M[r] = best;
            }
            // Row 0 always starts a run: the row below it has M gapLeading * j,
            // H impossible and B 0, so every match is reachable. Its run bit
            // is never read (the walk-back ends there).
            const __mmask8 hit = static_cast<__mmask8>(_mm_cmpeq_epi8_mask(here, letter[0]));
            const __m512d cell = _mm512_mask_mov_pd(neg, hit, _mm512_add_pd(bonus, _mm512_mul_pd(lead, column)));
            const __m512d best = greater(_mm512_add_pd(M[0], gap[0]), cell);
            column = _mm512_add_pd(column, one);
            if (R > 1) {
                B[0] = _mm512_maskz_mov_pd(hit, bonus);
                H[0] = cell;
            }
            if (facts != nullptr) {
                factBytes[factReachable][0][k] = hit;
                factBytes[factEndsBest][0][k] = _mm512_cmp_pd_mask(cell, best, _CMP_EQ_OQ);
            }
            M[0] = best;
            _mm512_store_pd(lastRow[step].data(), M[R - 1]);
        }
        if (facts != nullptr) {
            for (std::size_t L = 0; L < in.count; ++L) {
                const __m512i bit = _mm512_set1_epi8(static_cast<char>(1u << L));
                std::uint64_t* out = facts + L * factStride + block * factCount * R;
                for (std::size_t f = 0; f < factCount; ++f)
                    for (std::size_t r = 0; r < R; ++r)
                        out[f * R + r] = _mm512_test_epi8_mask(_mm512_load_si512(factBytes[f][r]), bit);
            }
        }
    }
    for (std::size_t L = 0; L < in.count; ++L)
        scores[L] = lastRow[static_cast<std::size_t>(spanOf[L])][L];
}

/// Copies a text of at most maxShared bytes (ASCII or narrowed) to `out`
/// and marks, for each letter of each word, the columns where it occurs:
/// bits[(4 * w + i) * blocks + b] for letter i of word w and block b, as
/// ColumnBits. With `ascii` set, a text with a byte beyond ASCII is left
/// alone and the answer is false.
bool keepAndMark(const std::uint8_t* bytes, std::size_t n, const std::vector<std::u32string>& words,
    const CaseTables& cases, std::uint8_t* out, std::uint64_t* bits, bool ascii)
{
    const std::size_t blocks = (n + 63) / 64;
    __m512i chunks[SearchScorer::Batch::maxShared / 64];
    __mmask64 valid[SearchScorer::Batch::maxShared / 64];
    __mmask64 high = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        valid[b] = firstBits(static_cast<std::ptrdiff_t>(n - 64 * b));
        chunks[b] = _mm512_maskz_loadu_epi8(valid[b], bytes + 64 * b);
        high |= _mm512_movepi8_mask(chunks[b]);
    }
    if (ascii && high != 0)
        return false;
    const ByteTable folded(cases.foldedByte.data());
    for (std::size_t b = 0; b < blocks; ++b) {
        _mm512_storeu_si512(out + 64 * b, chunks[b]);
        const __m512i lowered = folded(chunks[b]);
        for (std::size_t w = 0; w < words.size(); ++w)
            for (std::size_t i = 0; i < words[w].size(); ++i) {
                const __m512i letter = _mm512_set1_epi8(static_cast<char>(words[w][i]));
                bits[(4 * w + i) * blocks + b] = _mm512_mask_cmpeq_epi8_mask(valid[b], lowered, letter);
            }
    }
    return true;
}

void wordPassFor(const Lanes& in, std::u32string_view word, const Weights& weights, const Boundaries& b, double c,
    double* scores, std::uint64_t* facts, std::size_t factStride)
{
    switch (word.size()) {
    case 1:
        return wordPass<1>(in, word, weights, b, c, scores, facts, factStride);
    case 2:
        return wordPass<2>(in, word, weights, b, c, scores, facts, factStride);
    case 3:
        return wordPass<3>(in, word, weights, b, c, scores, facts, factStride);
    default:
        return wordPass<4>(in, word, weights, b, c, scores, facts, factStride);
    }
}

} // namespace shared
#pragma GCC pop_options
#endif

/// Whether the machine can run the shared pass: AVX-512 with byte permutes.
bool machineSharesPasses()
{
#if VANTREL_QUAD_LANES
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq")
        && __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

/// Whether texts share passes: the machine can, and no test asked for texts
/// one at a time.
std::atomic<bool> sharedPasses { machineSharesPasses() };

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
    if (text.size() > SearchScorer::maxTextScalars)
        text = TextUnicode::leadingScalars(text, SearchScorer::maxTextScalars);
    const Boundaries b = boundaries(scorer.weights, query.length);
    if (TextUnicode::isAscii(text)) {
        // ASCII lower-cases scalar by scalar without changing length, and
        // scoreWord begins with the subsequence test.
        const AsciiText view { reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), b };
        return VANTREL_IN_KERNEL(matchWords(scorer, query.words, view, scratch, positions, scorer.allowOneMismatch));
    }
    // For ASCII words, scalars beyond ASCII that lower-casing leaves alone
    // matter only through their boundary bonuses, so the text need not be
    // decoded: a byte per scalar does.
    const bool asciiWords = std::all_of(query.words.begin(), query.words.end(),
        [](const std::u32string& word) { return std::all_of(word.begin(), word.end(), [](char32_t c) { return c < 128; }); });
    if (asciiWords) {
        growTo(scratch.narrow, text.size());
        const std::ptrdiff_t n = TextUnicode::narrowScalars(text, scratch.narrow.data(), narrowClass);
        if (n >= 0) {
            const AsciiText view { scratch.narrow.data(), static_cast<std::size_t>(n), b };
            return VANTREL_IN_KERNEL(matchWords(scorer, query.words, view, scratch, positions, scorer.allowOneMismatch));
        }
    }
    if (!VANTREL_IN_KERNEL(couldMatch(scorer, query, text, scratch)))
        return std::nullopt;
    if (scratch.raw.size() < text.size()) {
        scratch.raw.resize(text.size());
        scratch.lower.resize(text.size());
    }
    const char32_t* raw = scratch.raw.data();
    char32_t* lower = scratch.lower.data();
    // Letters with case beyond ASCII need the whole-string mapping (final
    // sigma depends on its neighbours; some letters grow).
    bool contextual = false;
    const std::size_t n = TextUnicode::decodeLowered(text, scratch.raw.data(), lower, contextual);
    if (contextual) {
        const std::u32string lowered = TextUnicode::toLower(std::u32string_view(raw, n));
        if (lowered.size() != n) {
            // The slow path: everything on the lower-cased scalars.
            const ScalarText view { lowered.data(), lowered.data(), lowered.size(),
                boundaries(scorer.weights, wordsLength(query.words)) };
            return VANTREL_IN_KERNEL(matchWords(scorer, query.words, view, scratch, positions, false));
        }
        std::copy(lowered.begin(), lowered.end(), lower);
    }
    const ScalarText view { raw, lower, n, b };
    return VANTREL_IN_KERNEL(matchWords(scorer, query.words, view, scratch, positions, scorer.allowOneMismatch));
}

} // namespace

SearchScorer::SearchScorer(Weights weights, bool allowOneMismatch)
    : weights(weights)
    , allowOneMismatch(allowOneMismatch)
{
}

SearchScorer::Query SearchScorer::prepare(std::string_view query)
{
    query = TextUnicode::leadingScalars(query, maxQueryScalars);
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
    auto total = match(query, text, scratch, scratch.positions);
    if (!total)
        return std::nullopt;
    return Match { *total, Positions(scratch.positions.begin(), scratch.positions.end()) };
}

std::optional<double> SearchScorer::match(
    const Query& query, std::string_view text, Scratch& scratch, std::vector<int>& positions) const
{
    const std::size_t base = positions.size();
    auto total = run(*this, query, text, scratch, &positions);
    if (!total) {
        positions.resize(base); // words matched before the one that failed
        return std::nullopt;
    }
    // One word's positions come out ascending; only several words need a sort.
    if (query.words.size() > 1)
        std::sort(positions.begin() + static_cast<std::ptrdiff_t>(base), positions.end());
    return total;
}

std::optional<double> SearchScorer::score(const Query& query, std::string_view text, Scratch& scratch) const
{
    return run(*this, query, text, scratch, nullptr);
}

void SearchScorer::Matches::clear()
{
    ids.clear();
    scores.clear();
    positions.clear();
    ends.clear();
}

namespace {
/// Room after the last waiting text for every load of the shared pass: it
/// reads 65 bytes from the byte before any column it covers, and a pass
/// may go on past a short text's end for as long as its longest text.
constexpr std::size_t sharedTail = 1 + 2 * SearchScorer::Batch::maxShared + 64;
/// Bytes kept for a window of texts: each text's in whole blocks of 64
/// after the byte before it, then the tail.
constexpr std::size_t sharedBytes = SearchScorer::Batch::window * (1 + SearchScorer::Batch::maxShared) + sharedTail;
/// Walk-back words per lane: three facts for each of four rows and block.
constexpr std::size_t sharedFactWords = factCount * 4 * (SearchScorer::Batch::maxShared / 64);
} // namespace

SearchScorer::Batch::Batch(const SearchScorer& scorer, const Query& query, Scratch& scratch, Matches& out, bool positions)
    : scorer_(scorer)
    , query_(query)
    , scratch_(scratch)
    , out_(out)
    , positions_(positions)
{
    // The shared pass takes short words of ASCII; an empty query matches
    // everything without a pass.
    shared_ = sharedPasses.load(std::memory_order_relaxed) && !query.words.empty()
        && query.words.size() <= maxWords
        && std::all_of(query.words.begin(), query.words.end(), [](const std::u32string& word) {
               return word.size() <= 4 && std::all_of(word.begin(), word.end(), [](char32_t c) { return c < 128; });
           });
    if (shared_) {
        growTo(scratch_.shared, sharedBytes);
        growTo(scratch_.walkBits, lanes * sharedFactWords);
        growTo(scratch_.columnBits, maxWords * 4 * (maxShared / 64));
    }
}

void SearchScorer::Batch::add(std::uint32_t id, std::string_view text)
{
#if VANTREL_QUAD_LANES
    if (!shared_)
        return scoreAlone(id, text);
    // The text goes straight to its place among the waiting ones, marked
    // on the way; one beyond ASCII is narrowed first.
    const CaseTables& cases = caseTables();
    const std::size_t slot = waiting_;
    std::uint8_t* kept = scratch_.shared.data() + used_;
    std::uint64_t* bits = scratch_.columnBits.data();
    std::size_t n = text.size();
    if (n > maxShared
        || !shared::keepAndMark(reinterpret_cast<const std::uint8_t*>(text.data()), n, query_.words, cases, kept + 1, bits, true)) {
        // (keepAndMark refuses a text it takes only for a byte beyond ASCII.)
        // (No scalar takes more than four bytes: a longer text has too many.)
        if (n > 4 * maxShared || (n > maxShared && TextUnicode::isAscii(text)))
            return scoreAlone(id, text);
        growTo(scratch_.narrow, text.size());
        const std::ptrdiff_t narrowed = TextUnicode::narrowScalars(text, scratch_.narrow.data(), narrowClass);
        if (narrowed < 0 || static_cast<std::size_t>(narrowed) > maxShared)
            return scoreAlone(id, text);
        n = static_cast<std::size_t>(narrowed);
        shared::keepAndMark(scratch_.narrow.data(), n, query_.words, cases, kept + 1, bits, false);
    }
    const std::size_t blocks = (n + 63) / 64;
    for (std::size_t w = 0; w < query_.words.size(); ++w) {
        const std::size_t m = query_.words[w].size();
        const auto span = subsequenceSpan(ColumnBits { bits + 4 * w * blocks, blocks }, m);
        if (!span) {
            // A word that fails may still match with a character left out.
            if (scorer_.allowOneMismatch && m >= 2)
                return scoreAlone(id, text);
            return;
        }
        if (m == n)
            return scoreAlone(id, text); // the word is the whole text
        first_[w][slot] = static_cast<std::uint16_t>(span->first);
        last_[w][slot] = static_cast<std::uint16_t>(span->last);
    }
    kept[0] = '/';
    ids_[slot] = id;
    at_[slot] = static_cast<std::uint16_t>(used_);
    used_ += 1 + 64 * ((n + 63) / 64);
    lengths_[slot] = static_cast<std::uint16_t>(n);
    if (++waiting_ == window)
        scoreWaiting();
#else
    scoreAlone(id, text);
#endif
}

void SearchScorer::Batch::finish()
{
    scoreWaiting();
}

void SearchScorer::Batch::scoreAlone(std::uint32_t id, std::string_view text)
{
    // Texts that waited came first.
    scoreWaiting();
    std::optional<double> score;
    if (positions_)
        score = scorer_.match(query_, text, scratch_, out_.positions);
    else
        score = scorer_.score(query_, text, scratch_);
    if (!score)
        return;
    out_.ids.push_back(id);
    out_.scores.push_back(*score);
    if (positions_)
        out_.ends.push_back(static_cast<std::uint32_t>(out_.positions.size()));
}

void SearchScorer::Batch::scoreWaiting()
{
#if VANTREL_QUAD_LANES
    const std::size_t count = std::exchange(waiting_, 0);
    used_ = 0;
    if (count == 0)
        return;
    const Weights& weights = scorer_.weights;
    const Boundaries b = boundaries(weights, query_.length);
    const std::size_t words = query_.words.size();
    // Passes take texts in order of span, so that eight texts of about the
    // same span share each: a pass lasts as long as its longest. Spans
    // counted in fours are sorted by counting, without a branch.
    constexpr std::size_t kinds = maxShared / 4;
    std::array<std::uint8_t, window> kind {};
    std::array<std::uint8_t, kinds + 1> starts {};
    for (std::size_t k = 0; k < count; ++k) {
        std::size_t span = 0;
        for (std::size_t w = 0; w < words; ++w)
            span = std::max<std::size_t>(span, last_[w][k] - first_[w][k]);
        kind[k] = static_cast<std::uint8_t>(span / 4);
        ++starts[kind[k] + 1u];
    }
    for (std::size_t s = 1; s <= kinds; ++s)
        starts[s] = static_cast<std::uint8_t>(starts[s] + starts[s - 1]);
    std::array<std::uint8_t, window> byspan {};
    for (std::size_t k = 0; k < count; ++k)
        byspan[starts[kind[k]]++] = static_cast<std::uint8_t>(k);

    std::array<double, window> total {};
    std::array<std::array<int, maxWords * 4>, window> found;
    std::uint64_t* facts = positions_ ? scratch_.walkBits.data() : nullptr;
    for (std::size_t group = 0; group < count; group += lanes) {
        shared::Lanes in;
        in.count = std::min(lanes, count - group);
        for (std::size_t w = 0; w < words; ++w) {
            const std::u32string& word = query_.words[w];
            const std::size_t m = word.size();
            const double c = m > 2 ? weights.consecutive + weights.consecutiveGrowth * static_cast<double>(m - 2)
                                   : weights.shortQueryConsecutive;
            for (std::size_t L = 0; L < in.count; ++L) {
                const std::size_t k = byspan[group + L];
                in.bytes[L] = scratch_.shared.data() + at_[k];
                in.lengths[L] = lengths_[k];
                in.first[L] = first_[w][k];
                in.last[L] = last_[w][k];
            }
            std::array<double, lanes> scores;
            shared::wordPassFor(in, word, weights, b, c, scores.data(), facts, sharedFactWords);
            for (std::size_t L = 0; L < in.count; ++L) {
                const std::size_t k = byspan[group + L];
                // The columns after the last match only add the trailing gap.
                total[k] += addedInTurn(scores[L], weights.gapTrailing, in.lengths[L] - 1u - in.last[L]);
                if (facts == nullptr)
                    continue;
                walkBackOnBits(WalkBits { facts + L * sharedFactWords, m, 0 }, m, 0, in.last[L] - in.first[L],
                    found[k].data() + 4 * w, in.first[L]);
            }
        }
    }
    for (std::size_t k = 0; k < count; ++k) {
        out_.ids.push_back(ids_[k]);
        out_.scores.push_back(total[k]);
        if (!positions_)
            continue;
        const std::size_t base = out_.positions.size();
        for (std::size_t w = 0; w < words; ++w)
            out_.positions.insert(out_.positions.end(), found[k].begin() + static_cast<std::ptrdiff_t>(4 * w),
                found[k].begin() + static_cast<std::ptrdiff_t>(4 * w + query_.words[w].size()));
        // One word's positions come out ascending; only several need a sort.
        if (words > 1)
            std::sort(out_.positions.begin() + static_cast<std::ptrdiff_t>(base), out_.positions.end());
        out_.ends.push_back(static_cast<std::uint32_t>(out_.positions.size()));
    }
#endif
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
    auto result = VANTREL_IN_KERNEL(scoreWord(weights, word, view, scratch, &positions));
    if (!result)
        return std::nullopt;
    return Match { *result, Positions(positions.begin(), positions.end()) };
}

std::optional<SearchScorer::Match> SearchScorer::bestDroppingOneCharacter(
    std::u32string_view word, std::u32string_view text, std::span<const double> bonus) const
{
    if (bonus.size() < text.size())
        return std::nullopt;
    Scratch scratch;
    const GivenBonusText view { text.data(), bonus.data(), text.size() };
    std::vector<int> positions;
    auto result = VANTREL_IN_KERNEL(bestDropping(weights, word, view, scratch, &positions));
    if (!result)
        return std::nullopt;
    return Match { *result, Positions(positions.begin(), positions.end()) };
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
    auto total = VANTREL_IN_KERNEL(matchWords(*this, groups, view, scratch, &positions, false));
    if (!total)
        return std::nullopt;
    std::sort(positions.begin(), positions.end());
    return Match { *total, Positions(positions.begin(), positions.end()) };
}

namespace SearchScorerTesting {
void setFlagBudget(std::size_t bytes)
{
    flagBudgetBytes.store(bytes == 0 ? defaultFlagBudget : bytes, std::memory_order_relaxed);
}

bool setWideLanes(bool wide)
{
#if VANTREL_QUAD_LANES
    wide = wide && __builtin_cpu_supports("avx2") != 0;
#else
    wide = false;
#endif
    quadLanes.store(wide, std::memory_order_relaxed);
    return wide;
}
bool setSharedPasses(bool shared)
{
    shared = shared && machineSharesPasses();
    sharedPasses.store(shared, std::memory_order_relaxed);
    return shared;
}
} // namespace SearchScorerTesting

} // namespace vantrel
