// The per-text kernel for x86-64 machines with AVX2 (x86-64-v3): four rows
// of the short-word pass to a register, 32 bytes or 8 scalars to a column
// comparison; and a batch's passes over eight texts, four to a register.
// Only functions defined inside the target region use AVX2, and they run
// only where SearchKernel.cpp found it.
#include "SearchKit/ScorerCore.h"
#include "SearchKit/ShortLoad.h"

#if VANTREL_X86_KERNELS
#include <immintrin.h>

#include <cstring>
#include <optional>
#include <string>

#pragma GCC push_options
#pragma GCC target("avx2")
namespace vantrel::scorer {

namespace {

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

typedef std::uint8_t ColumnBytes __attribute__((vector_size(32)));
typedef std::uint32_t ColumnScalars __attribute__((vector_size(32)));
inline std::uint32_t byteMask(__v32qs same)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(reinterpret_cast<__m256i>(same)));
}
inline std::uint32_t scalarMask(__v8si same)
{
    return static_cast<std::uint32_t>(_mm256_movemask_ps(reinterpret_cast<__m256>(same)));
}

using RowLanes = QuadLanes;
#include "SearchKit/ScorerKernel.inc"


// The eight texts of a batch's pass, four to a register: each lane does
// exactly the scalar recurrence, column after column, as the AVX-512 pass
// does with eight (see ScorerAvx512.cpp); the batch's texts are in order of
// span, so the two fours of a pass have about the same.

constexpr std::size_t quad = 4;
constexpr std::size_t maxSteps = SearchScorer::Batch::maxShared;

/// The `n` bytes from `at` (n < 32) followed by zeros, read piece by piece
/// so that nothing past them is touched.
inline __m256i loadShort(const std::uint8_t* at, std::size_t n)
{
    if (n >= 16) {
        // The last 16 bytes moved down over the ones the first load has.
        alignas(16) static constexpr std::array<std::uint8_t, 32> slide = [] {
            std::array<std::uint8_t, 32> index {};
            for (std::size_t k = 0; k < 32; ++k)
                index[k] = k < 16 ? static_cast<std::uint8_t>(k) : 0x80;
            return index;
        }();
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + n - 16));
        const __m128i high = _mm_shuffle_epi8(tail, _mm_loadu_si128(reinterpret_cast<const __m128i*>(slide.data() + 32 - n)));
        return _mm256_set_m128i(high, low);
    }
    const auto [low, high] = loadBelow16(at, n);
    return _mm256_set_epi64x(0, 0, static_cast<long long>(high), static_cast<long long>(low));
}

bool keepAndMarkQuads(const std::uint8_t* bytes, std::size_t n, const MarkedLetters& letters,
    const CaseTables&, std::uint8_t* out, std::uint64_t* bits, bool ascii)
{
    // The text in chunks of 32 columns, each copied and marked from the
    // register it was loaded into (reading the copy back would wait for
    // the stores). A last partial chunk is the 32 bytes that end the text,
    // its first `drop` columns already marked, or in a text shorter than 32
    // the text and zeros: nothing past the caller's text is read.
    const std::size_t whole = n / 32;
    const std::size_t chunks = (n + 31) / 32;
    const std::size_t blocks = (n + 63) / 64;
    // Whole blocks of two chunks: a text that ends in the first half has
    // zeros for the second, and the columns past its end are dropped.
    __m256i chunk[maxSteps / 32];
    std::array<unsigned, maxSteps / 32> drop {};
    __m256i high = _mm256_setzero_si256();
    for (std::size_t q = 0; q < whole; ++q) {
        chunk[q] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32 * q));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * q), chunk[q]);
        high = _mm256_or_si256(high, chunk[q]);
    }
    if (whole < chunks) {
        if (whole > 0) {
            drop[whole] = static_cast<unsigned>(32 * chunks - n);
            chunk[whole] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + n - 32));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n - 32), chunk[whole]);
        } else {
            chunk[0] = loadShort(bytes, n);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chunk[0]);
        }
        high = _mm256_or_si256(high, chunk[whole]);
    }
    if (chunks % 2 != 0)
        chunk[chunks] = _mm256_setzero_si256();
    const std::uint64_t inLast = n % 64 == 0 ? ~std::uint64_t { 0 } : (std::uint64_t { 1 } << (n % 64)) - 1;
    for (std::size_t k = 0; k < letters.count; ++k) {
        // The letter's two forms; no bits where no byte lower-cases to it.
        const MarkedLetters::Letter& letter = letters.letters[k];
        std::uint64_t* row = bits + letter.row * blocks;
        if (!letter.found) {
            std::fill(row, row + blocks, 0);
            continue;
        }
        const __m256i first = _mm256_set1_epi8(static_cast<char>(letter.forms[0]));
        const __m256i second = _mm256_set1_epi8(static_cast<char>(letter.forms[1]));
        auto found = [&](std::size_t q) {
            const __m256i same = _mm256_or_si256(_mm256_cmpeq_epi8(chunk[q], first), _mm256_cmpeq_epi8(chunk[q], second));
            return std::uint64_t { static_cast<std::uint32_t>(_mm256_movemask_epi8(same)) >> drop[q] };
        };
        for (std::size_t b = 0; b < blocks; ++b)
            row[b] = (found(2 * b) | found(2 * b + 1) << 32) & (b + 1 == blocks ? inLast : ~std::uint64_t { 0 });
    }
    return !ascii || _mm256_movemask_epi8(high) == 0;
}

/// Bit `bit` of each of the first `count` (1 to 64) bytes of a fact's
/// steps, as a word.
inline std::uint64_t stepBits(const std::uint8_t* steps, std::size_t bit, std::size_t count)
{
    std::uint64_t word = 0;
    for (std::size_t half = 0; half < 2; ++half) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(steps + 32 * half));
        const __m256i top = _mm256_slli_epi16(x, static_cast<int>(7 - bit));
        word |= std::uint64_t { static_cast<std::uint32_t>(_mm256_movemask_epi8(top)) } << (32 * half);
    }
    return count == 64 ? word : word & ((std::uint64_t { 1 } << count) - 1);
}

/// What a pass needs to turn 32 columns of a lane's bytes into the
/// letters and bonuses of 32 steps, made once per word and batch.
struct StepTables {
    /// What a byte makes of the bonus of its own column (bit 0: it is upper
    /// case) and of the next one (the rest: its `before` kind, doubled): by
    /// byte, and as tables of sixteen by the byte's high half, kept for the
    /// halves below 9 where some entry is not 0 (ASCII and narrowed texts
    /// have no other bytes).
    struct Kinds {
        std::array<std::uint8_t, 256> ofByte {};
        std::array<std::array<std::uint8_t, 32>, 9> part {};
        std::array<std::uint8_t, 9> half {};
        std::size_t parts = 0;
    };
    const Kinds& kinds;
    __m256i part[9], half[9];
    /// Betweenascii's index (kind of the byte before, doubled, plus upper
    /// case) to the place of its value among `values`, doubled.
    __m256i place;
    /// Those values, four doubles to a register.
    __m256d low, high;
    /// Each letter of the word in both its forms, and all bits set where
    /// some byte lower-cases to it.
    __m256i letter[4], first[4], second[4], some[4];

    StepTables(std::u32string_view word, const Boundaries& b)
        : kinds(kindsOf(*b.cases))
    {
        const CaseTables& cases = *b.cases;
        for (std::size_t k = 0; k < kinds.parts; ++k) {
            part[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kinds.part[k].data()));
            half[k] = _mm256_set1_epi8(static_cast<char>(kinds.half[k]));
        }
        alignas(32) std::array<std::uint8_t, 32> places {};
        alignas(32) std::array<double, 8> values {};
        std::size_t distinct = 0;
        for (std::size_t k = 0; k < b.betweenAscii.size(); ++k) {
            const double value = b.betweenAscii[k];
            const std::size_t at = static_cast<std::size_t>(std::find(values.begin(), values.begin() + distinct, value) - values.begin());
            if (at == distinct)
                values[distinct++] = value; // (five at most: none, three separators, camel case)
            places[k] = places[k + 16] = static_cast<std::uint8_t>(2 * at);
        }
        place = _mm256_load_si256(reinterpret_cast<const __m256i*>(places.data()));
        low = _mm256_load_pd(values.data());
        high = _mm256_load_pd(values.data() + 4);
        for (std::size_t i = 0; i < word.size(); ++i) {
            const char32_t c = word[i];
            const bool any = c < 128 && cases.formCount[c] != 0;
            letter[i] = _mm256_set1_epi8(static_cast<char>(c));
            first[i] = _mm256_set1_epi8(static_cast<char>(any ? cases.forms[c][0] : 0));
            second[i] = _mm256_set1_epi8(static_cast<char>(any ? cases.forms[c][1] : 0));
            some[i] = _mm256_set1_epi8(any ? -1 : 0);
        }
    }

    static const Kinds& kindsOf(const CaseTables& cases)
    {
        static const Kinds made = [&] {
            Kinds k;
            for (std::size_t byte = 0; byte < 256; ++byte)
                k.ofByte[byte] = static_cast<std::uint8_t>(2 * cases.before[byte] + cases.uppercase[byte]);
            for (std::size_t h = 0; h < k.part.size(); ++h) {
                auto& part = k.part[k.parts];
                for (std::size_t low = 0; low < 16; ++low)
                    part[low] = part[low + 16] = k.ofByte[16 * h + low];
                if (std::any_of(part.begin(), part.end(), [](std::uint8_t kind) { return kind != 0; }))
                    k.half[k.parts++] = static_cast<std::uint8_t>(h);
            }
            return k;
        }();
        return made;
    }

    /// The kinds of 32 bytes.
    __m256i kindOf(__m256i x) const
    {
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
        const __m256i low = _mm256_and_si256(x, nibble);
        __m256i result = _mm256_setzero_si256();
        for (std::size_t k = 0; k < kinds.parts; ++k)
            result = _mm256_or_si256(result, _mm256_and_si256(_mm256_cmpeq_epi8(high, half[k]), _mm256_shuffle_epi8(part[k], low)));
        return result;
    }

    /// A step's four bonuses from its four value places, each place p as
    /// the two halves 2p and 2p + 1 it takes from a register of four
    /// values; the fifth and later from the second register.
    __m256d bonusAt(const std::uint8_t* places) const
    {
        std::uint32_t four;
        std::memcpy(&four, places, sizeof four);
        const __m256i p = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(static_cast<int>(four)));
        const __m256i halves
            = _mm256_add_epi64(_mm256_or_si256(p, _mm256_slli_epi64(p, 32)), _mm256_set1_epi64x(std::int64_t { 1 } << 32));
        const __m256 first = _mm256_permutevar8x32_ps(_mm256_castpd_ps(low), halves);
        const __m256 second = _mm256_permutevar8x32_ps(_mm256_castpd_ps(high), halves);
        return _mm256_castps_pd(_mm256_blendv_ps(first, second, _mm256_castsi256_ps(_mm256_slli_epi32(halves, 28))));
    }
};

/// Four lanes' rows of 32 bytes turned into 32 steps of four bytes (one
/// per lane): out[4 * k + L] = rows[L] byte k.
inline void transposeQuad(const __m256i (&rows)[4], std::uint8_t* out)
{
    const __m256i a = _mm256_unpacklo_epi8(rows[0], rows[1]);
    const __m256i b = _mm256_unpackhi_epi8(rows[0], rows[1]);
    const __m256i c = _mm256_unpacklo_epi8(rows[2], rows[3]);
    const __m256i d = _mm256_unpackhi_epi8(rows[2], rows[3]);
    // Steps 0-3 and 16-19, 4-7 and 20-23, 8-11 and 24-27, 12-15 and 28-31.
    const __m256i p0 = _mm256_unpacklo_epi16(a, c);
    const __m256i p1 = _mm256_unpackhi_epi16(a, c);
    const __m256i p2 = _mm256_unpacklo_epi16(b, d);
    const __m256i p3 = _mm256_unpackhi_epi16(b, d);
    auto* to = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(to, _mm256_permute2x128_si256(p0, p1, 0x20));
    _mm256_storeu_si256(to + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
    _mm256_storeu_si256(to + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
    _mm256_storeu_si256(to + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
}

/// Two facts of four lanes in one byte: bit 2L from `a`, 2L + 1 from `b`.
inline std::uint8_t endFacts(__m256d a, __m256d b)
{
    return static_cast<std::uint8_t>(_mm256_movemask_ps(_mm256_blend_ps(_mm256_castpd_ps(a), _mm256_castpd_ps(b), 0xAA)));
}

/// One four of the pass: lanes from `from` (at most four of them), with
/// the walk-back bits when `Facts`.
template <std::size_t R, bool Facts>
void quadPass(const SharedLanes& in, std::size_t from, std::u32string_view word, const Weights& weights,
    const StepTables& tables, double c, double* scores, std::uint64_t* facts, std::size_t factStride)
{
    const std::size_t count = std::min(quad, in.count - from);
    alignas(32) std::array<std::int64_t, quad> spanOf {};
    alignas(32) std::array<double, quad> firstOf {};
    std::array<const std::uint8_t*, quad> at {};
    std::size_t steps = 0;
    for (std::size_t L = 0; L < quad; ++L) {
        // A missing lane reads the first lane's bytes, and its results are
        // never read.
        const std::size_t lane = from + (L < count ? L : 0);
        spanOf[L] = L < count ? in.last[lane] - in.first[lane] : -1;
        firstOf[L] = in.first[lane];
        at[L] = in.bytes[lane] + 1 + in.first[lane];
        steps = std::max<std::size_t>(steps, static_cast<std::size_t>(spanOf[L] + 1));
    }
    // Per step, each lane's letter (its byte lower-cased where that is one
    // of the word's, 0xFF otherwise) and bonus, laid out step by step so
    // that one load takes a step's four. A lane's steps after its last
    // column read the bytes after it (the batch keeps room for them): what
    // they compute is never read.
    alignas(32) std::array<std::uint8_t, quad * maxSteps> letters;
    alignas(32) std::array<std::uint8_t, quad * maxSteps> places;
    __m256i previous[quad];
    for (std::size_t L = 0; L < quad; ++L)
        previous[L] = _mm256_set1_epi8(static_cast<char>(tables.kinds.ofByte[at[L][-1]]));
    for (std::size_t k = 0; k < steps; k += 32) {
        __m256i letterRows[quad], placeRows[quad];
        for (std::size_t L = 0; L < quad; ++L) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at[L] + k));
            __m256i letter = _mm256_set1_epi8(-1);
            for (std::size_t i = 0; i < R; ++i) {
                const __m256i same = _mm256_and_si256(tables.some[i],
                    _mm256_or_si256(_mm256_cmpeq_epi8(x, tables.first[i]), _mm256_cmpeq_epi8(x, tables.second[i])));
                letter = _mm256_blendv_epi8(letter, tables.letter[i], same);
            }
            // Each column's kind, and the one before it: the previous
            // chunk's last, or that of the byte before the first column.
            const __m256i kind = tables.kindOf(x);
            const __m256i carried = _mm256_permute2x128_si256(previous[L], kind, 0x21);
            const __m256i before = _mm256_alignr_epi8(kind, carried, 15);
            previous[L] = kind;
            letterRows[L] = letter;
            placeRows[L] = _mm256_shuffle_epi8(tables.place,
                _mm256_or_si256(_mm256_and_si256(before, _mm256_set1_epi8(0x0E)), _mm256_and_si256(kind, _mm256_set1_epi8(1))));
        }
        transposeQuad(letterRows, letters.data() + quad * k);
        transposeQuad(placeRows, places.data() + quad * k);
    }

    const __m256d neg = _mm256_set1_pd(NEG);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d run = _mm256_set1_pd(c);
    const __m256d lead = _mm256_set1_pd(weights.gapLeading);
    const __m256d one = _mm256_set1_pd(1.0);
    __m256d column = _mm256_load_pd(firstOf.data());
    __m256i letter[R];
    __m256d gap[R], H[R], M[R], B[R];
    for (std::size_t i = 0; i < R; ++i) {
        letter[i] = _mm256_set1_epi64x(static_cast<long long>(word[i]));
        gap[i] = _mm256_set1_pd(i + 1 == R ? weights.gapTrailing : weights.gapInner);
        H[i] = neg;
        M[i] = neg;
        B[i] = zero;
    }
    alignas(32) std::array<std::array<double, quad>, maxSteps> lastRow;
    // Per row, a byte per step: bits 2L and 2L + 1 say whether lane L is
    // reachable and ends the row's best there, bit L whether it extends a
    // run (read only where reachable, so not masked by the match; row 0
    // has none).
    alignas(32) std::uint8_t ends[R][64];
    alignas(32) std::uint8_t runs[R][64];

    for (std::size_t k = 0; k < steps; ++k) {
        std::uint32_t four;
        std::memcpy(&four, letters.data() + quad * k, sizeof four);
        const __m256i here = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(static_cast<int>(four)));
        const __m256d bonus = tables.bonusAt(places.data() + quad * k);
        const std::size_t at = k % 64;
        // Rows from the last down: each reads the row below as it was in
        // the previous column.
        for (std::size_t r = R; r-- > 1;) {
            const __m256d hit = _mm256_castsi256_pd(_mm256_cmpeq_epi64(here, letter[r]));
            const MatchedCells<QuadLanes> matched
                = matchedCells<QuadLanes>({ bonus }, { M[r - 1] }, { H[r - 1] }, { B[r - 1] }, { run });
            const __m256d extend = matched.extend.v;
            const __m256d cell = _mm256_blendv_pd(neg, matched.s.v, hit);
            const __m256d best = _mm256_max_pd(_mm256_add_pd(M[r], gap[r]), cell);
            if (r + 1 < R) {
                B[r] = _mm256_and_pd(hit, matched.carry.v);
                H[r] = cell;
            }
            if constexpr (Facts) {
                ends[r][at] = endFacts(_mm256_cmp_pd(cell, neg, _CMP_NEQ_UQ), _mm256_cmp_pd(cell, best, _CMP_EQ_OQ));
                runs[r][at] = static_cast<std::uint8_t>(_mm256_movemask_pd(_mm256_cmp_pd(best, extend, _CMP_EQ_OQ)));
            }
            M[r] = best;
        }
        // Row 0 always starts a run (see the AVX-512 pass).
        const __m256d hit = _mm256_castsi256_pd(_mm256_cmpeq_epi64(here, letter[0]));
        const __m256d cell = _mm256_blendv_pd(neg, _mm256_add_pd(bonus, _mm256_mul_pd(lead, column)), hit);
        const __m256d best = _mm256_max_pd(_mm256_add_pd(M[0], gap[0]), cell);
        column = _mm256_add_pd(column, one);
        if (R > 1) {
            B[0] = _mm256_and_pd(hit, bonus);
            H[0] = cell;
        }
        if constexpr (Facts)
            ends[0][at] = endFacts(hit, _mm256_cmp_pd(cell, best, _CMP_EQ_OQ));
        M[0] = best;
        _mm256_store_pd(lastRow[k].data(), M[R - 1]);
        if (Facts && (at == 63 || k + 1 == steps)) {
            const std::size_t block = k / 64;
            for (std::size_t L = 0; L < count; ++L) {
                std::uint64_t* out = facts + (from + L) * factStride + block * factCount * R;
                for (std::size_t r = 0; r < R; ++r) {
                    out[factReachable * R + r] = stepBits(ends[r], 2 * L, at + 1);
                    out[factEndsBest * R + r] = stepBits(ends[r], 2 * L + 1, at + 1);
                    out[factExtendsRun * R + r] = r == 0 ? 0 : stepBits(runs[r], L, at + 1);
                }
            }
        }
    }
    for (std::size_t L = 0; L < count; ++L)
        scores[from + L] = lastRow[static_cast<std::size_t>(spanOf[L])][L];
}

/// The StepTables of `word` under `b`, kept by the thread from one pass to
/// the next: a ranking's passes of a word all share them, and making them
/// costs as much as several steps of a pass.
const StepTables& stepTablesFor(std::u32string_view word, const Boundaries& b)
{
    struct Kept {
        std::u32string word;
        const CaseTables* cases = nullptr;
        decltype(Boundaries::betweenAscii) between {};
        std::optional<StepTables> tables;
    };
    thread_local Kept kept;
    if (!kept.tables || kept.word != word || kept.cases != b.cases
        || std::memcmp(kept.between.data(), b.betweenAscii.data(), sizeof kept.between) != 0) {
        kept.word.assign(word);
        kept.cases = b.cases;
        kept.between = b.betweenAscii;
        kept.tables.emplace(word, b);
    }
    return *kept.tables;
}

template <std::size_t R>
void quadsPass(const SharedLanes& in, std::u32string_view word, const Weights& weights, const Boundaries& b, double c,
    double* scores, std::uint64_t* facts, std::size_t factStride)
{
    const StepTables& tables = stepTablesFor(word, b);
    for (std::size_t from = 0; from < in.count; from += quad) {
        if (facts != nullptr)
            quadPass<R, true>(in, from, word, weights, tables, c, scores, facts, factStride);
        else
            quadPass<R, false>(in, from, word, weights, tables, c, scores, facts, factStride);
    }
}

void quadsPassFor(const SharedLanes& in, std::u32string_view word, const Weights& weights, const Boundaries& b,
    double c, double* scores, std::uint64_t* facts, std::size_t factStride)
{
    switch (word.size()) {
    case 1:
        return quadsPass<1>(in, word, weights, b, c, scores, facts, factStride);
    case 2:
        return quadsPass<2>(in, word, weights, b, c, scores, facts, factStride);
    case 3:
        return quadsPass<3>(in, word, weights, b, c, scores, facts, factStride);
    default:
        return quadsPass<4>(in, word, weights, b, c, scores, facts, factStride);
    }
}

} // namespace

} // namespace vantrel::scorer
#pragma GCC pop_options

namespace vantrel::scorer {
const PerTextKernel avx2Kernel = thisKernel;
const SharedKernel avx2SharedKernel { &keepAndMarkQuads, &quadsPassFor };
} // namespace vantrel::scorer
#endif
