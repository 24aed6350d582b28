// ASCII scanning: the fast paths that skim a text's ASCII many bytes at a
// time (64 with AVX-512, sixteen with SSE2) while testing, decoding or
// narrowing it.
#include "SearchKit/TextUnicode.h"
#include "SearchKit/TextUnicodeDetail.h"

#include "SearchKit/SearchKernel.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Machines with AVX-512 read text 64 bytes at a time, chosen at run time
// (GCC's per-function targets).
#if VANTREL_X86_KERNELS
#include <immintrin.h>
#endif

#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace vantrel::TextUnicode {

using namespace detail;

namespace {

/// The classes `classify` gave the scalars beyond ASCII it was asked for,
/// the thread's, kept from text to text: a table per block of 256 scalars,
/// made when a scalar of the block first turns up (a text's scalars come
/// from a few blocks). 0, which is never a class, marks a scalar not asked
/// for yet; the blocks not made yet share one table of zeros.
class NarrowTable {
public:
    using Block = std::array<std::uint8_t, 256>;

    NarrowTable() { blocks_.fill(&none_); }

    /// The thread's table, emptied when `classify` is not the one it holds.
    static NarrowTable& of(std::uint8_t (*classify)(char32_t))
    {
        thread_local const std::unique_ptr<NarrowTable> table = std::make_unique<NarrowTable>();
        if (table->classify_ != classify) {
            table->classify_ = classify;
            table->owned_.clear();
            table->blocks_.fill(&table->none_);
        }
        return *table;
    }

    /// The class of `c` (at most U+10FFFF), or 0 when not asked for yet.
    std::uint8_t known(char32_t c) const { return (*blocks_[c >> 8])[c & 0xFF]; }
    /// Asks for the class of `c` and keeps it.
    std::uint8_t learn(char32_t c)
    {
        Block*& block = blocks_[c >> 8];
        if (block == &none_)
            block = owned_.emplace_back(std::make_unique<Block>()).get();
        return (*block)[c & 0xFF] = classify_(c);
    }

private:
    std::uint8_t (*classify_)(char32_t) = nullptr;
    std::array<Block*, (0x10FFFF >> 8) + 1> blocks_ {};
    std::vector<std::unique_ptr<Block>> owned_;
    Block none_ {};
};

/// Narrows the scalar beyond ASCII (or ill-formed sequence) at `at` into
/// `out` and moves `at` past it; false where `classify` refuses it (0xFF).
inline bool narrowBeyondAscii(const uint8_t*& at, const uint8_t* end, std::uint8_t& out, NarrowTable& table)
{
    const char32_t c = nextBeyondAscii(at, end);
    std::uint8_t narrow = table.known(c);
    if (narrow == 0)
        narrow = table.learn(c);
    out = narrow;
    return narrow != 0xFF;
}

#if VANTREL_X86_KERNELS
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw")
/// The bytes of [i, length) that a 64-byte load from `i` may read.
inline __mmask64 inText(int32_t i, int32_t length)
{
    return length - i >= 64 ? ~__mmask64 { 0 } : (__mmask64 { 1 } << (length - i)) - 1;
}

int32_t skipAsciiWide(const uint8_t* bytes, int32_t i, int32_t length)
{
    for (; i < length; i += 64) {
        // Masked loads read nothing past the text.
        const __mmask64 high = _mm512_movepi8_mask(_mm512_maskz_loadu_epi8(inText(i, length), bytes + i));
        if (high != 0)
            return i + static_cast<int32_t>(std::countr_zero(high));
    }
    return length;
}

/// Copies the ASCII bytes from `i` on, up to 64, to `out` and returns how
/// many there were.
inline int32_t copyLeadingAscii(const uint8_t* bytes, int32_t i, int32_t length, uint8_t* out)
{
    const __mmask64 valid = inText(i, length);
    const __m512i chunk = _mm512_maskz_loadu_epi8(valid, bytes + i);
    const __mmask64 high = _mm512_movepi8_mask(chunk);
    const __mmask64 ascii = high == 0 ? valid : (high & -high) - 1;
    _mm512_mask_storeu_epi8(out, ascii, chunk);
    return static_cast<int32_t>(std::popcount(ascii));
}

std::ptrdiff_t narrowScalarsWide(const uint8_t* bytes, int32_t length, std::uint8_t* out, std::uint8_t (*classify)(char32_t))
{
    NarrowTable& table = NarrowTable::of(classify);
    std::ptrdiff_t count = 0;
    const uint8_t* end = bytes + length;
    for (int32_t i = 0; i < length;) {
        const int32_t run = copyLeadingAscii(bytes, i, length, out + count);
        count += run;
        i += run;
        if (run == 64 || i == length)
            continue;
        // Scalars beyond ASCII up to the next ASCII byte.
        const uint8_t* at = bytes + i;
        do {
            if (!narrowBeyondAscii(at, end, out[count++], table))
                return -1;
        } while (at < end && *at >= 0x80);
        i = static_cast<int32_t>(at - bytes);
    }
    return count;
}
#pragma GCC pop_options
#endif

/// Whether text is read 64 bytes at a time: the AVX-512 kernel is in use.
bool wideText()
{
    return searchKernel() == SearchKernel::avx512;
}

#if defined(__SSE2__)
/// Loads the sixteen bytes from `i`, when there are sixteen, and returns how
/// many of them lead as ASCII (0 when there are fewer).
inline int32_t leadingAscii(const uint8_t* bytes, int32_t i, int32_t length, __m128i& chunk)
{
    if (i + 16 > length)
        return 0;
    chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(chunk));
    return high == 0 ? 16 : std::countr_zero(high);
}

/// Stores sixteen bytes as sixteen scalars.
inline void widenBytes(__m128i bytes, char32_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_unpacklo_epi8(bytes, zero);
    const __m128i high = _mm_unpackhi_epi8(bytes, zero);
    auto* to = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
    _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
    _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
    _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
}
#endif

} // namespace

int32_t detail::skipAscii(const uint8_t* bytes, int32_t i, int32_t length)
{
#if VANTREL_X86_KERNELS
    if (wideText())
        return skipAsciiWide(bytes, i, length);
#endif
#if defined(__SSE2__)
    // Sixteen at a time, and the last few in one more load that ends at the
    // text's end: the bytes it shares with the loads before are ASCII. No
    // branch then depends on how many bytes are left over.
    if (length - i >= 16) {
        for (; i + 16 <= length; i += 16) {
            const auto high = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i))));
            if (high != 0)
                return i + std::countr_zero(high);
        }
        if (i == length)
            return i;
        const auto high = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + length - 16))));
        const unsigned rest = high >> (16 - (length - i));
        return rest != 0 ? i + std::countr_zero(rest) : length;
    }
#endif
    for (std::uint64_t word = 0; i + 8 <= length; i += 8) {
        std::memcpy(&word, bytes + i, 8);
        if ((word & 0x8080808080808080ull) != 0)
            break;
    }
    while (i < length && bytes[i] < 0x80)
        ++i;
    return i;
}


bool isAscii(std::string_view bytes)
{
    // Asked of every candidate text per keystroke.
    const auto length = static_cast<int32_t>(bytes.size());
    return skipAscii(reinterpret_cast<const uint8_t*>(bytes.data()), 0, length) == length;
}

bool anyBeyondAsciiChangesWhenLowercased(std::string_view utf8)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    for (int32_t i = 0; (i = skipAscii(bytes, i, length)) < length;) {
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, i, length, c);
        if (beyondAsciiChangesWhenLowercased(static_cast<char32_t>(c)))
            return true;
    }
    return false;
}

std::size_t decodeLowered(std::string_view utf8, char32_t* raw, char32_t* lower, bool& changes)
{
    const AsciiTables& ascii = asciiTables();
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    std::size_t count = 0;
    bool any = false;
    for (int32_t i = 0; i < length;) {
#if defined(__SSE2__)
        // ASCII sixteen bytes at a time: each byte widened to a scalar, the
        // capitals A-Z (the only ASCII that lower-cases) moved down by 0x20.
        // All sixteen are written, but only the leading ASCII ones counted:
        // `count` never passes `i`, so the buffers (one scalar per byte)
        // have room, and the rest is overwritten next.
        if (__m128i chunk; const int32_t run = leadingAscii(bytes, i, length, chunk)) {
            const __m128i capital = _mm_and_si128(_mm_cmpgt_epi8(chunk, _mm_set1_epi8('A' - 1)),
                _mm_cmplt_epi8(chunk, _mm_set1_epi8('Z' + 1)));
            const __m128i lowered = _mm_add_epi8(chunk, _mm_and_si128(capital, _mm_set1_epi8(0x20)));
            widenBytes(chunk, raw + count);
            widenBytes(lowered, lower + count);
            count += static_cast<std::size_t>(run);
            i += run;
            continue;
        }
#endif
        if (bytes[i] < 0x80) {
            raw[count] = bytes[i];
            lower[count++] = ascii.lower[bytes[i++]];
            continue;
        }
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, i, length, c);
        raw[count] = static_cast<char32_t>(c);
        // Alone, a scalar lower-cases to its simple mapping, but for U+0130,
        // which grows, and the capital sigma, whose lower case depends on
        // whether a word ends after it (the root locale's only special
        // cases): those two leave the text to the whole-string mapping.
        UChar32 lowered = c;
        if (beyondAsciiChangesWhenLowercased(static_cast<char32_t>(c))) {
            if (c == 0x0130 || c == 0x03A3)
                any = true;
            else
                lowered = u_tolower(c);
        }
        lower[count++] = static_cast<char32_t>(lowered);
    }
    changes = any;
    return count;
}

std::ptrdiff_t narrowScalars(std::string_view utf8, std::uint8_t* out, std::uint8_t (*classify)(char32_t))
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
#if VANTREL_X86_KERNELS
    if (wideText())
        return narrowScalarsWide(bytes, length, out, classify);
#endif
    NarrowTable& table = NarrowTable::of(classify);
    const uint8_t* at = bytes;
    const uint8_t* end = bytes + length;
    std::uint8_t* to = out;
    while (at < end) {
#if defined(__SSE2__)
        // ASCII sixteen bytes at a time, as in decodeLowered: all sixteen
        // are stored, only the leading ASCII ones counted, and `to` never
        // passes `at`.
        if (end - at >= 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            const auto high = static_cast<unsigned>(_mm_movemask_epi8(chunk));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), chunk);
            const int run = std::countr_zero(high | 0x10000u);
            at += run;
            to += run;
            if (run == 16)
                continue;
        }
#endif
        while (at < end && *at < 0x80)
            *to++ = *at++;
        // Scalars beyond ASCII, in text beyond Latin many in a row, up to the
        // next ASCII byte.
        while (at < end && *at >= 0x80) {
            if (!narrowBeyondAscii(at, end, *to++, table))
                return -1;
        }
    }
    return to - out;
}

} // namespace vantrel::TextUnicode
