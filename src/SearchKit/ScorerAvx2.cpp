// The per-text kernel for x86-64 machines with AVX2 (x86-64-v3): four rows
// of the short-word pass to a register, 32 bytes or 8 scalars to a column
// comparison. Only functions defined inside the target region use AVX2, and
// they run only where SearchKernel.cpp found it.
#include "SearchKit/ScorerCore.h"

#if VANTREL_X86_KERNELS
#include <immintrin.h>

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

} // namespace

} // namespace vantrel::scorer
#pragma GCC pop_options

namespace vantrel::scorer {
const PerTextKernel avx2Kernel = thisKernel;
} // namespace vantrel::scorer
#endif
