// The per-text kernel for any CPU: rows of the short-word pass two to an
// SSE2 register (part of x86-64 itself) or two plain doubles elsewhere,
// sixteen bytes or four scalars to a column comparison.
#include "SearchKit/ScorerCore.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrel::scorer {

namespace {

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

/// Columns compared sixteen bytes at a time, or one at a time without SSE2.
#if defined(__SSE2__)
typedef std::uint8_t ColumnBytes __attribute__((vector_size(16)));
typedef std::uint32_t ColumnScalars __attribute__((vector_size(16)));
inline std::uint32_t byteMask(__v16qs same)
{
    return static_cast<std::uint32_t>(_mm_movemask_epi8(reinterpret_cast<__m128i>(same)));
}
inline std::uint32_t scalarMask(__v4si same)
{
    return static_cast<std::uint32_t>(_mm_movemask_ps(reinterpret_cast<__m128>(same)));
}
#else
using ColumnBytes = void;
using ColumnScalars = void;
#endif

using RowLanes = PairLanes;
#include "SearchKit/ScorerKernel.inc"

} // namespace

const PerTextKernel scalarKernel = thisKernel;

} // namespace vantrel::scorer
