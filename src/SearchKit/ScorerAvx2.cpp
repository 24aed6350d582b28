// The per-text kernel for x86-64 machines with AVX2 (x86-64-v3): four rows
// of the short-word pass to a register, 32 bytes or 8 scalars to a column
// comparison; and a batch's passes over eight texts, four to a register.
// Only functions defined inside the target region use AVX2, and they run
// only where SearchKernel.cpp found it.
#include "SearchKit/ScorerCore.h"

#if VANTREL_X86_KERNELS
#include <immintrin.h>

#include <cstring>

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


// The eight texts of a batch's pass, four to a register: each lane does
// exactly the scalar recurrence, column after column, as the AVX-512 pass
// does with eight (see ScorerAvx512.cpp); the batch's texts are in order of
// span, so the two fours of a pass have about the same.

constexpr std::size_t quad = 4;
constexpr std::size_t maxSteps = SearchScorer::Batch::maxShared;

bool keepAndMarkQuads(const std::uint8_t* bytes, std::size_t n, const std::vector<std::u32string>& words,
    const CaseTables& cases, std::uint8_t* out, std::uint64_t* bits, bool ascii)
{
    if (!cases.twoFormsAtMost)
        return false; // (never with ICU's ASCII; the text is then scored alone)
    const std::size_t blocks = (n + 63) / 64;
    // The text is copied first, in whole loads while 32 bytes are left and
    // the rest after zeros, so that the loads below read the copy and
    // nothing past the caller's text.
    const std::size_t whole = n / 32 * 32;
    __m256i high = _mm256_setzero_si256();
    for (std::size_t k = 0; k < whole; k += 32) {
        const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + k));
        high = _mm256_or_si256(high, chunk);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), chunk);
    }
    for (std::size_t k = whole; k < 64 * blocks; k += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm256_setzero_si256());
    std::memcpy(out + whole, bytes + whole, n - whole);
    if (ascii) {
        if (whole < n)
            high = _mm256_or_si256(high, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + whole)));
        if (_mm256_movemask_epi8(high) != 0)
            return false;
    }
    // Each letter's two forms; no bits where no byte lower-cases to it.
    __m256i first[16], second[16];
    std::array<std::uint64_t, 16> keep {};
    for (std::size_t w = 0; w < words.size(); ++w) {
        for (std::size_t i = 0; i < words[w].size(); ++i) {
            const char32_t letter = words[w][i];
            const bool some = letter < 128 && cases.formCount[letter] != 0;
            keep[4 * w + i] = some ? ~std::uint64_t { 0 } : 0;
            first[4 * w + i] = _mm256_set1_epi8(static_cast<char>(some ? cases.forms[letter][0] : 0));
            second[4 * w + i] = _mm256_set1_epi8(static_cast<char>(some ? cases.forms[letter][1] : 0));
        }
    }
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t left = n - 64 * b;
        const std::uint64_t valid = left >= 64 ? ~std::uint64_t { 0 } : (std::uint64_t { 1 } << left) - 1;
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + 64 * b));
        const __m256i upper = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + 64 * b + 32));
        for (std::size_t w = 0; w < words.size(); ++w) {
            for (std::size_t i = 0; i < words[w].size(); ++i) {
                const std::size_t row = 4 * w + i;
                auto found = [&](__m256i chunk) {
                    const __m256i same
                        = _mm256_or_si256(_mm256_cmpeq_epi8(chunk, first[row]), _mm256_cmpeq_epi8(chunk, second[row]));
                    return std::uint64_t { static_cast<std::uint32_t>(_mm256_movemask_epi8(same)) };
                };
                bits[row * blocks + b] = (found(low) | found(upper) << 32) & valid & keep[row];
            }
        }
    }
    return true;
}

/// The lanes' bits of a fact's bytes (bit L of each byte for lane L), 64
/// steps to a word.
inline std::uint64_t laneBits(const std::uint8_t* steps, std::size_t lane)
{
    std::uint64_t word = 0;
    for (std::size_t half = 0; half < 2; ++half) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(steps + 32 * half));
        const __m256i top = _mm256_slli_epi16(x, static_cast<int>(7 - lane));
        word |= std::uint64_t { static_cast<std::uint32_t>(_mm256_movemask_epi8(top)) } << (32 * half);
    }
    return word;
}

/// One four of the pass: lanes from `from` (at most four of them).
template <std::size_t R>
void quadPass(const SharedLanes& in, std::size_t from, std::u32string_view word, const Weights& weights,
    const Boundaries& b, double c, double* scores, std::uint64_t* facts, std::size_t factStride)
{
    const std::size_t count = std::min(quad, in.count - from);
    const CaseTables& cases = *b.cases;
    alignas(32) std::array<std::int64_t, quad> spanOf {};
    alignas(32) std::array<double, quad> firstOf {};
    std::size_t steps = 0;
    for (std::size_t L = 0; L < quad; ++L) {
        spanOf[L] = L < count ? in.last[from + L] - in.first[from + L] : -1;
        firstOf[L] = L < count ? in.first[from + L] : 0;
        steps = std::max<std::size_t>(steps, static_cast<std::size_t>(spanOf[L] + 1));
    }
    // Per step, each lane's lower-cased byte and bonus, laid out step by
    // step so that one load takes a step's four.
    alignas(32) std::array<std::array<std::uint8_t, quad>, maxSteps> letters;
    alignas(32) std::array<std::array<double, quad>, maxSteps> bonuses;
    for (std::size_t L = 0; L < quad; ++L) {
        const auto span = static_cast<std::size_t>(spanOf[L] + 1);
        const std::uint8_t* at = L < count ? in.bytes[from + L] + 1 + in.first[from + L] : nullptr;
        for (std::size_t k = 0; k < span; ++k) {
            letters[k][L] = cases.foldedByte[at[k]];
            bonuses[k][L] = b.ascii(at[k - 1], at[k]);
        }
        for (std::size_t k = span; k < steps; ++k) {
            letters[k][L] = 0xFF;
            bonuses[k][L] = 0;
        }
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
    // Per fact and row, a byte per step: bit L for lane L.
    alignas(32) std::uint8_t factBytes[factCount][R][64] = {};

    for (std::size_t k = 0; k < steps; ++k) {
        std::uint32_t four;
        std::memcpy(&four, letters[k].data(), sizeof four);
        const __m256i here = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(static_cast<int>(four)));
        const __m256d bonus = _mm256_load_pd(bonuses[k].data());
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
            if (facts != nullptr) {
                factBytes[factReachable][r][at]
                    = static_cast<std::uint8_t>(_mm256_movemask_pd(_mm256_cmp_pd(cell, neg, _CMP_NEQ_UQ)));
                factBytes[factEndsBest][r][at]
                    = static_cast<std::uint8_t>(_mm256_movemask_pd(_mm256_cmp_pd(cell, best, _CMP_EQ_OQ)));
                factBytes[factExtendsRun][r][at] = static_cast<std::uint8_t>(
                    _mm256_movemask_pd(_mm256_and_pd(hit, _mm256_cmp_pd(best, extend, _CMP_EQ_OQ))));
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
        if (facts != nullptr) {
            factBytes[factReachable][0][at] = static_cast<std::uint8_t>(_mm256_movemask_pd(hit));
            factBytes[factEndsBest][0][at]
                = static_cast<std::uint8_t>(_mm256_movemask_pd(_mm256_cmp_pd(cell, best, _CMP_EQ_OQ)));
        }
        M[0] = best;
        _mm256_store_pd(lastRow[k].data(), M[R - 1]);
        if (facts != nullptr && (at == 63 || k + 1 == steps)) {
            const std::size_t block = k / 64;
            for (std::size_t L = 0; L < count; ++L) {
                std::uint64_t* out = facts + (from + L) * factStride + block * factCount * R;
                for (std::size_t f = 0; f < factCount; ++f)
                    for (std::size_t r = 0; r < R; ++r)
                        out[f * R + r] = laneBits(factBytes[f][r], L);
            }
        }
    }
    for (std::size_t L = 0; L < count; ++L)
        scores[from + L] = lastRow[static_cast<std::size_t>(spanOf[L])][L];
}

template <std::size_t R>
void quadsPass(const SharedLanes& in, std::u32string_view word, const Weights& weights, const Boundaries& b, double c,
    double* scores, std::uint64_t* facts, std::size_t factStride)
{
    for (std::size_t from = 0; from < in.count; from += quad)
        quadPass<R>(in, from, word, weights, b, c, scores, facts, factStride);
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
