// The passes for x86-64 machines with AVX-512 (F, BW, VL, DQ and VBMI) that
// score eight texts at once. Texts these passes cannot take go through the
// AVX2 per-text kernel.
#include "SearchKit/ScorerCore.h"

#if VANTREL_X86_KERNELS
#include <immintrin.h>

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
namespace vantrel::scorer {

namespace {

constexpr std::size_t lanes = SearchScorer::Batch::lanes;

using Lanes = SharedLanes;

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

/// SharedKernel::keepAndMark.
bool keepAndMark(const std::uint8_t* bytes, std::size_t n, const MarkedLetters& letters,
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
    const ByteTable folded(cases.foldedByte.data());
    for (std::size_t b = 0; b < blocks; ++b) {
        _mm512_storeu_si512(out + 64 * b, chunks[b]);
        const __m512i lowered = folded(chunks[b]);
        for (std::size_t k = 0; k < letters.count; ++k) {
            const MarkedLetters::Letter& letter = letters.letters[k];
            bits[letter.row * blocks + b] = letter.found
                ? _mm512_mask_cmpeq_epi8_mask(valid[b], lowered, _mm512_set1_epi8(static_cast<char>(letter.lower)))
                : 0;
        }
    }
    return !ascii || high == 0;
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

} // namespace

const SharedKernel avx512SharedKernel { &keepAndMark, &wordPassFor };

} // namespace vantrel::scorer
#pragma GCC pop_options
#endif
