// UTF conversion: UTF-8 to scalars and back, to UTF-16, and repair.
#include "SearchKit/TextUnicode.h"
#include "SearchKit/TextUnicodeDetail.h"

#include "SearchKit/SearchKernel.h"

#include "Runtime/Utf8Repair.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if VANTREL_X86_KERNELS
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>

namespace vantrel::TextUnicode {

using namespace detail;

namespace detail {

void appendUtf8(char32_t c, std::string& out)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = replacementCharacter;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void appendUtf16(char32_t c, std::u16string& out)
{
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        out.push_back(static_cast<char16_t>(U16_LEAD(c)));
        out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
    }
}

std::u16string toUtf16(std::u32string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char32_t c : text)
        appendUtf16(c, out);
    return out;
}

std::u32string fromUtf16(std::u16string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT_OR_FFFD(text.data(), i, text.size(), c);
        out.push_back(static_cast<char32_t>(c));
    }
    return out;
}

} // namespace detail

void appendScalars(std::string_view utf8, std::u32string& out)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    for (int32_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            out.push_back(bytes[i++]);
            continue;
        }
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, i, length, c);
        out.push_back(static_cast<char32_t>(c));
    }
}

std::size_t decodeScalars(std::string_view utf8, char32_t* out)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    std::size_t count = 0;
    for (int32_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            out[count++] = bytes[i++];
            continue;
        }
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, i, length, c);
        out[count++] = static_cast<char32_t>(c);
    }
    return count;
}

std::u32string scalars(std::string_view utf8)
{
    std::u32string out;
    out.reserve(utf8.size());
    appendScalars(utf8, out);
    return out;
}

std::string_view leadingScalars(std::string_view utf8, std::size_t count)
{
    if (utf8.size() <= count)
        return utf8;
    // No scalar takes more than four bytes, nor does an ill-formed subpart.
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(std::min(utf8.size(), 4 * count));
    int32_t i = 0;
    for (std::size_t k = 0; k < count && i < length; ++k) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, i, length, c);
        static_cast<void>(c);
    }
    return utf8.substr(0, static_cast<std::size_t>(i));
}

std::string utf8(std::u32string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text)
        appendUtf8(c, out);
    return out;
}

namespace {

/// Well-formed UTF-8 as a state machine whose states are bit offsets: each
/// byte's row holds, at every state's offset, the state that byte leads to,
/// so a step is one shift of a row looked up by the byte alone. The states:
/// between scalars, the error that never ends, one to three continuation
/// bytes due, and the four leads whose first continuation is narrower
/// (E0: no overlong form, ED: no surrogate, F0: no overlong form, F4: not
/// past U+10FFFF).
enum Utf8State : std::uint8_t { between = 0, broken = 6, due1 = 12, due2 = 18, due3 = 24, afterE0 = 30, afterED = 36, afterF0 = 42, afterF4 = 48 };

constexpr std::array<std::uint64_t, 256> utf8Rows = [] {
    std::array<std::uint64_t, 256> rows {};
    for (unsigned b = 0; b < 256; ++b) {
        // Every step not named below leads to `broken`.
        std::uint64_t row = 0;
        for (const Utf8State state : { between, broken, due1, due2, due3, afterE0, afterED, afterF0, afterF4 })
            row |= std::uint64_t { broken } << state;
        auto go = [&](Utf8State from, Utf8State to) {
            row = (row & ~(std::uint64_t { 63 } << from)) | std::uint64_t { to } << from;
        };
        if (b < 0x80) {
            go(between, between);
        } else if (b < 0xC0) {
            go(due1, between);
            go(due2, due1);
            go(due3, due2);
            if (b >= 0xA0)
                go(afterE0, due1);
            else
                go(afterED, due1);
            if (b >= 0x90)
                go(afterF0, due2);
            else
                go(afterF4, due2);
        } else if (b >= 0xC2 && b <= 0xDF) {
            go(between, due1);
        } else if (b >= 0xE0 && b <= 0xEF) {
            go(between, b == 0xE0 ? afterE0 : b == 0xED ? afterED : due2);
        } else if (b >= 0xF0 && b <= 0xF4) {
            go(between, b == 0xF0 ? afterF0 : b == 0xF4 ? afterF4 : due3);
        }
        rows[b] = row;
    }
    return rows;
}();

/// Whether `text` is well-formed UTF-8: the leading ASCII skimmed by
/// skipAscii, then eight bytes at a time, skipped at once when they are
/// ASCII between scalars and otherwise stepped through the table one by one
/// (in text beyond Latin, ASCII comes in runs too short for skipAscii). The
/// state keeps the rest of its row between steps: only its low six bits are
/// the state, the count of the next shift, which on x86 masks it for free.
bool wellFormedByState(const uint8_t* bytes, int32_t length)
{
    std::uint64_t state = between;
    auto step = [&state](uint8_t byte) { state = utf8Rows[byte] >> (state & 63); };
    const uint8_t* at = bytes + skipAscii(bytes, 0, length);
    const uint8_t* end = bytes + length;
    for (; end - at >= 8; at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, at, 8);
        if ((word & 0x8080808080808080ull) == 0 && (state & 63) == between)
            continue;
        for (int k = 0; k < 8; ++k)
            step(at[k]);
    }
    for (; at < end; ++at)
        step(*at);
    return (state & 63) == between;
}

#if VANTREL_X86_KERNELS
#pragma GCC push_options
#pragma GCC target("avx2")
/// The table lookups of wellFormedAvx2 (after Keiser and Lemire, "Validating
/// UTF-8 in less than one instruction per byte"): each byte's flags are
/// found three times, from the high and the low half of the byte before it
/// and from its own high half, and a flag set in all three is an error,
/// except twoContinuations where the byte is a sequence's third or fourth.
/// Each flag names a pair of bytes that cannot follow each other:
enum PairError : std::uint8_t {
    tooShort = 1 << 0, // a lead or ASCII after a lead
    tooLong = 1 << 1, // a continuation after ASCII
    overlong3 = 1 << 2, // E0 80-9F
    tooLarge = 1 << 3, // F4 90-BF, F5-FF 90-BF
    surrogate = 1 << 4, // ED A0-BF
    overlong2 = 1 << 5, // C0-C1 and a continuation
    overlong4 = 1 << 6, // F0 80-8F, and (tooLarge too) F5-FF 80-8F
    twoContinuations = 1 << 7, // a continuation after a continuation
};
/// The flags that the low half of the byte before leaves alone.
constexpr std::uint8_t anyLowHalf = tooShort | tooLong | twoContinuations;

inline __m256i table16(std::array<std::uint8_t, 16> entries)
{
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries.data()));
    return _mm256_broadcastsi128_si256(half);
}

inline __m256i highHalves(__m256i bytes)
{
    return _mm256_and_si256(_mm256_srli_epi16(bytes, 4), _mm256_set1_epi8(0x0F));
}

/// Bits set where `block` breaks UTF-8's rules, given what each of its
/// bytes follows: the bytes one, two and three places before.
inline __m256i blockErrors(__m256i block, __m256i before1, __m256i before2, __m256i before3)
{
    const __m256i byFirstHigh = _mm256_shuffle_epi8(table16({ tooLong, tooLong, tooLong, tooLong, tooLong, tooLong, tooLong,
                                                        tooLong, twoContinuations, twoContinuations, twoContinuations,
                                                        twoContinuations, tooShort | overlong2, tooShort,
                                                        tooShort | overlong3 | surrogate, tooShort | tooLarge | overlong4 }),
        highHalves(before1));
    constexpr std::uint8_t large = anyLowHalf | tooLarge | overlong4;
    const __m256i byFirstLow = _mm256_shuffle_epi8(
        table16({ anyLowHalf | overlong3 | overlong2 | overlong4, anyLowHalf | overlong2, anyLowHalf, anyLowHalf,
            anyLowHalf | tooLarge, large, large, large, large, large, large, large, large, large | surrogate, large, large }),
        _mm256_and_si256(before1, _mm256_set1_epi8(0x0F)));
    constexpr std::uint8_t continuation = tooLong | overlong2 | twoContinuations;
    const __m256i bySecondHigh = _mm256_shuffle_epi8(
        table16({ tooShort, tooShort, tooShort, tooShort, tooShort, tooShort, tooShort, tooShort,
            continuation | overlong3 | overlong4, continuation | overlong3 | tooLarge, continuation | surrogate | tooLarge,
            continuation | surrogate | tooLarge, tooShort, tooShort, tooShort, tooShort }),
        highHalves(block));
    const __m256i pairs = _mm256_and_si256(_mm256_and_si256(byFirstHigh, byFirstLow), bySecondHigh);
    // A continuation two bytes after E0-FF or three after F0-FF must be
    // one, and is the only place one may follow another.
    const __m256i third = _mm256_subs_epu8(before2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(before3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i due = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(due, pairs);
}

/// Bits set where the text whose last 32 bytes are `last` ends inside a
/// sequence: where its last three bytes lead sequences of four, three and
/// two bytes.
inline __m256i endsOpen(__m256i last)
{
    const __m256i open = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
        -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1), static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
    return _mm256_subs_epu8(last, open);
}

/// The smallest text wellFormedAvx2 takes.
constexpr int32_t avx2Minimum = 35;

/// Bytes set where a block's bytes are `byte`.
inline __m256i equalTo(__m256i block, std::uint8_t byte)
{
    return _mm256_cmpeq_epi8(block, _mm256_set1_epi8(static_cast<char>(byte)));
}

/// Where a block's bytes continue a sequence: as signed bytes, 80-BF are
/// those below C0.
inline std::uint32_t continuing(__m256i block)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(_mm256_set1_epi8(-64), block)));
}

/// Bytes set where a block's bytes end U+0130 (C4 B0) or the Kelvin sign
/// (E2 84 AA), given the bytes one and two places before them.
inline __m256i endsIntoAscii(__m256i block, __m256i before1, __m256i before2)
{
    return _mm256_or_si256(_mm256_and_si256(equalTo(before1, 0xC4), equalTo(block, 0xB0)),
        _mm256_and_si256(_mm256_and_si256(equalTo(before2, 0xE2), equalTo(before1, 0x84)), equalTo(block, 0xAA)));
}

/// Adds to `errors` what breaks the rules in `block`, given the bytes one
/// to three places before each of its bytes; with `counting`, also where
/// U+0130 and the Kelvin sign end, and then returns where its bytes
/// continue a sequence (else 0).
template <bool counting>
inline std::uint32_t judgeBlock(__m256i block, __m256i before1, __m256i before2, __m256i before3, __m256i& errors)
{
    errors = _mm256_or_si256(errors, blockErrors(block, before1, before2, before3));
    if constexpr (!counting) {
        return 0;
    } else {
        errors = _mm256_or_si256(errors, endsIntoAscii(block, before1, before2));
        return continuing(block);
    }
}

/// wellFormedByState 32 bytes at a time, for texts of at least avx2Minimum
/// bytes: every load lies within the text. The first block is preceded by
/// zeros; the last ends at the text's end, overlapping the one before it
/// (judging a byte twice changes nothing). With `counting`, this is
/// countScalarsNoneLoweringIntoAscii: U+0130 and the Kelvin sign are
/// refused too, and the scalars are the bytes that continue no sequence,
/// the last block counting only its bytes past the one before it. Without,
/// any count for well-formed text.
template <bool counting>
std::optional<std::size_t> judgeAvx2(const uint8_t* bytes, int32_t length)
{
    auto load = [bytes](int32_t at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at)); };
    const __m256i first = load(0);
    // The first block's bytes shifted up by one to three places, zeros
    // coming in.
    const __m256i zerosThenFirst = _mm256_permute2x128_si256(first, first, 0x08);
    __m256i errors = _mm256_setzero_si256();
    auto continuations = static_cast<std::size_t>(std::popcount(judgeBlock<counting>(first, _mm256_alignr_epi8(first, zerosThenFirst, 15),
        _mm256_alignr_epi8(first, zerosThenFirst, 14), _mm256_alignr_epi8(first, zerosThenFirst, 13), errors)));
    auto judgeAt = [&](int32_t at) { return judgeBlock<counting>(load(at), load(at - 1), load(at - 2), load(at - 3), errors); };
    int32_t at = 32;
    for (; at + 32 <= length; at += 32)
        continuations += static_cast<std::size_t>(std::popcount(judgeAt(at)));
    if (at < length)
        continuations += static_cast<std::size_t>(std::popcount(judgeAt(length - 32) >> (32 - (length - at))));
    errors = _mm256_or_si256(errors, endsOpen(load(length - 32)));
    if (_mm256_testz_si256(errors, errors) == 0)
        return std::nullopt;
    return static_cast<std::size_t>(length) - continuations;
}

/// Whether `length` bytes, at least avx2Minimum, are well-formed UTF-8.
bool wellFormedAvx2(const uint8_t* bytes, int32_t length)
{
    return judgeAvx2<false>(bytes, length).has_value();
}
#pragma GCC pop_options
#endif

/// Whether `text` is well-formed UTF-8.
bool wellFormed(const uint8_t* bytes, int32_t length)
{
#if VANTREL_X86_KERNELS
    if (length >= avx2Minimum && searchKernel() != SearchKernel::scalar)
        return wellFormedAvx2(bytes, length);
#endif
    return wellFormedByState(bytes, length);
}

} // namespace

void appendSanitizedUtf8(std::string_view text, std::string& out)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    // Well-formed text, nearly always the case, is copied in one piece.
    if (wellFormed(bytes, length)) {
        out.append(text);
        return;
    }
    int32_t valid = 0;
    while ((valid = skipAscii(bytes, valid, length)) < length) {
        int32_t next = valid;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0)
            break;
        valid = next;
    }
    out.append(text.substr(0, static_cast<std::size_t>(valid)));
    if (valid < length)
        appendRepairedUtf8(text.substr(static_cast<std::size_t>(valid)), out);
}

#if defined(__SSE2__)
namespace {

/// The bytes of `chunk` shifted up by `k` places, the last `k` of `before`
/// coming in: what lies `k` bytes before each.
template <int k>
__m128i bytesBefore(__m128i chunk, __m128i before)
{
    return _mm_or_si128(_mm_slli_si128(chunk, k), _mm_srli_si128(before, 16 - k));
}

/// Where `chunk`'s bytes are at least `least`, as unsigned values.
inline __m128i atLeast(__m128i chunk, std::uint8_t least)
{
    return _mm_cmpeq_epi8(_mm_max_epu8(chunk, _mm_set1_epi8(static_cast<char>(least))), chunk);
}

inline __m128i equal(__m128i chunk, std::uint8_t byte)
{
    return _mm_cmpeq_epi8(chunk, _mm_set1_epi8(static_cast<char>(byte)));
}

/// countScalarsNoneLoweringIntoAscii of `length` bytes.
std::optional<std::size_t> countByChunks(const uint8_t* bytes, std::size_t length)
{
    // Sixteen bytes at a time, each judged by the three before it, as
    // Table 3-7 of the Unicode standard has it: a byte continues a sequence
    // (0x80 to 0xBF) exactly where a lead before it asks for one (C2-DF one
    // byte back, E0-EF two, F0-F4 three); C0, C1 and F5-FF lead nothing;
    // E0, ED, F0 and F4 narrow the range of the byte after them.
    // Well-formed, the scalars are the bytes that continue none. U+0130 is
    // C4 B0 and the Kelvin sign E2 84 AA. Chunks of ASCII after ASCII need
    // none of that.
    __m128i before = _mm_setzero_si128();
    __m128i errors = _mm_setzero_si128();
    __m128i continuing = _mm_setzero_si128(); // per lane, up to 255 steps
    std::size_t continuations = 0;
    int steps = 0;
    auto sum = [&] {
        const __m128i sums = _mm_sad_epu8(continuing, _mm_setzero_si128());
        continuations += static_cast<std::size_t>(_mm_cvtsi128_si64(sums) + _mm_extract_epi16(sums, 4));
        continuing = _mm_setzero_si128();
        steps = 0;
    };
    auto step = [&](__m128i chunk) {
        if (_mm_movemask_epi8(_mm_or_si128(chunk, before)) == 0) {
            before = chunk;
            return;
        }
        const __m128i one = bytesBefore<1>(chunk, before);
        const __m128i two = bytesBefore<2>(chunk, before);
        const __m128i continues = _mm_cmplt_epi8(chunk, _mm_set1_epi8(-64));
        errors = _mm_or_si128(errors,
            _mm_or_si128(_mm_and_si128(equal(one, 0xC4), equal(chunk, 0xB0)),
                _mm_and_si128(_mm_and_si128(equal(two, 0xE2), equal(one, 0x84)), equal(chunk, 0xAA))));
        const __m128i three = bytesBefore<3>(chunk, before);
        const __m128i asked = _mm_or_si128(_mm_or_si128(atLeast(one, 0xC0), atLeast(two, 0xE0)), atLeast(three, 0xF0));
        const __m128i aboveA0 = atLeast(chunk, 0xA0);
        const __m128i above90 = atLeast(chunk, 0x90);
        const __m128i narrowed = _mm_or_si128(
            _mm_or_si128(_mm_andnot_si128(aboveA0, equal(one, 0xE0)), _mm_and_si128(aboveA0, equal(one, 0xED))),
            _mm_or_si128(_mm_andnot_si128(above90, equal(one, 0xF0)), _mm_and_si128(above90, equal(one, 0xF4))));
        const __m128i leadsNothing = _mm_or_si128(_mm_or_si128(equal(chunk, 0xC0), equal(chunk, 0xC1)), atLeast(chunk, 0xF5));
        errors = _mm_or_si128(errors, _mm_or_si128(_mm_or_si128(_mm_xor_si128(continues, asked), narrowed), leadsNothing));
        continuing = _mm_sub_epi8(continuing, continues);
        before = chunk;
        if (++steps == 255)
            sum();
    };
    auto load = [bytes](std::size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at)); };
    std::size_t i = 0;
    for (; i + 16 <= length; i += 16)
        step(load(i));
    // The rest padded with zeros: at least one follows the text, and a
    // sequence cut off by the end asks for it to continue.
    alignas(16) std::array<std::uint8_t, 16> rest {};
    if (i < length)
        std::memcpy(rest.data(), bytes + i, length - i);
    step(_mm_load_si128(reinterpret_cast<const __m128i*>(rest.data())));
    sum();
    if (_mm_movemask_epi8(errors) != 0)
        return std::nullopt;
    return length - continuations;
}

} // namespace
#endif

std::optional<std::size_t> countScalarsNoneLoweringIntoAscii(std::string_view utf8)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const std::size_t length = utf8.size();
#if defined(__SSE2__)
#if VANTREL_X86_KERNELS
    // AVX2's table look-ups judge a text long enough for them faster.
    if (length >= avx2Minimum && searchKernel() != SearchKernel::scalar)
        return judgeAvx2<true>(bytes, static_cast<int32_t>(length));
#endif
    return countByChunks(bytes, length);
#else
    if (!wellFormed(bytes, static_cast<int32_t>(length)) || anyBeyondAsciiLowersIntoAscii(utf8))
        return std::nullopt;
    std::size_t count = 0;
    for (std::size_t i = 0; i < length; ++i)
        count += (bytes[i] & 0xC0) != 0x80 ? 1 : 0;
    return count;
#endif
}

void appendUtf16(std::string_view text, std::u16string& out)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, i, length, c);
        appendUtf16(static_cast<char32_t>(c), out);
    }
}

} // namespace vantrel::TextUnicode
