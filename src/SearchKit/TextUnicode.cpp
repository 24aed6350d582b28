// ICU-backed Unicode services of the search code.
#include "SearchKit/TextUnicode.h"

#include "SearchKit/SearchKernel.h"

#include "Runtime/Utf8Repair.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>
#include <unicode/utext.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Machines with AVX-512 read text 64 bytes at a time, chosen at run time
// (GCC's per-function targets).
#if VANTREL_X86_KERNELS
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <bitset>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vantrel::TextUnicode {

namespace {

// ASCII answers are asked for on every character of every candidate; they are
// taken from ICU once so that the fast path cannot drift from the slow one.
struct AsciiTables {
    std::array<char32_t, 128> lower {};
    std::array<bool, 128> lowercase {};
    std::array<bool, 128> uppercase {};

    AsciiTables()
    {
        for (char32_t c = 0; c < 128; ++c) {
            lower[c] = static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
            lowercase[c] = u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_LOWERCASE);
            uppercase[c] = u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_UPPERCASE);
        }
    }
};

const AsciiTables& asciiTables()
{
    static const AsciiTables tables;
    return tables;
}

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

bool isTrimmable(UChar32 c)
{
    return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

// --- Collation ------------------------------------------------------------

std::string localeFromEnvironment()
{
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        const char* candidate = std::getenv(name);
        if (candidate != nullptr && *candidate != '\0') {
            value = candidate;
            break;
        }
    }
    if (value == nullptr)
        return "";
    std::string locale(value);
    // POSIX names carry an encoding (".UTF-8") and a modifier ("@euro") that
    // mean nothing to ICU's collation.
    locale = locale.substr(0, locale.find_first_of(".@"));
    // ICU maps "C" to en_US_POSIX, whose collation orders upper case before
    // all lower case; a case-insensitive order needs the root rules instead.
    if (locale == "C" || locale == "POSIX")
        return "";
    return locale;
}

struct CollatorCloser {
    void operator()(UCollator* collator) const { ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

struct BaseCollator {
    std::string locale;
    CollatorPtr collator;

    BaseCollator()
        : locale(localeFromEnvironment())
    {
        UErrorCode status = U_ZERO_ERROR;
        collator.reset(ucol_open(locale.c_str(), &status));
        if (U_FAILURE(status)) {
            status = U_ZERO_ERROR;
            locale.clear();
            collator.reset(ucol_open("", &status));
        }
        if (collator)
            ucol_setStrength(collator.get(), UCOL_SECONDARY);
    }
};

const BaseCollator& baseCollator()
{
    static const BaseCollator base;
    return base;
}

// ICU collators are not to be shared between threads while in use, so each
// thread works on its own clone of the process-wide one.
UCollator* threadCollator()
{
    thread_local CollatorPtr clone = [] {
        UErrorCode status = U_ZERO_ERROR;
        const auto& base = baseCollator();
        return CollatorPtr(base.collator ? ucol_clone(base.collator.get(), &status) : nullptr);
    }();
    return clone.get();
}

} // namespace

namespace {

/// Narrows the scalar beyond ASCII (or ill-formed byte) at `i` into `out`
/// and moves `i` past it; false where `classify` refuses it (0xFF).
inline bool narrowBeyondAscii(const uint8_t* bytes, int32_t& i, int32_t length, std::uint8_t& out,
    std::uint8_t (*classify)(char32_t))
{
    UChar32 c;
    U8_NEXT_OR_FFFD(bytes, i, length, c);
    out = classify(static_cast<char32_t>(c));
    return out != 0xFF;
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
    std::ptrdiff_t count = 0;
    for (int32_t i = 0; i < length;) {
        const int32_t run = copyLeadingAscii(bytes, i, length, out + count);
        count += run;
        i += run;
        if (i < length && run < 64 && !narrowBeyondAscii(bytes, i, length, out[count++], classify))
            return -1;
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

/// The first index from `i` on whose byte is not ASCII, or `length`; many
/// bytes at a time, since most text is ASCII.
int32_t skipAscii(const uint8_t* bytes, int32_t i, int32_t length)
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

} // namespace

bool isAscii(std::string_view bytes)
{
    // Asked of every candidate text per keystroke.
    const auto length = static_cast<int32_t>(bytes.size());
    return skipAscii(reinterpret_cast<const uint8_t*>(bytes.data()), 0, length) == length;
}

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

void appendSanitizedUtf8(std::string_view text, std::string& out)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    // Well-formed text, nearly always the case, is copied in one piece.
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

std::u32string toLower(std::u32string_view text)
{
    std::u16string source = toUtf16(text);
    std::u16string lowered(source.size() + 8, u'\0');
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        // "" selects the root locale: the same mapping everywhere, no Turkish
        // or Lithuanian special cases.
        int32_t length = u_strToLower(lowered.data(), static_cast<int32_t>(lowered.size()), source.data(),
            static_cast<int32_t>(source.size()), "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            lowered.assign(static_cast<std::size_t>(length), u'\0');
            continue;
        }
        if (U_FAILURE(status))
            return std::u32string(text);
        lowered.resize(static_cast<std::size_t>(length));
        return fromUtf16(lowered);
    }
}

std::string toLower(std::string_view text)
{
    return utf8(toLower(scalars(text)));
}

namespace {

using LowercaseChanges = std::bitset<256>;

/// Which of the 256 scalars from (c & ~0xFF) change when lower-cased, c at
/// most U+FFFF. Asked of every non-ASCII scalar of every candidate: ICU
/// answers it by lower-casing, so the answers are kept per thread, a block of
/// 256 scalars at a time as they turn up.
const LowercaseChanges& lowercaseChanges(char32_t c)
{
    thread_local std::array<std::unique_ptr<LowercaseChanges>, 256> blocks;
    auto& block = blocks[c >> 8];
    if (!block) {
        block = std::make_unique<LowercaseChanges>();
        for (char32_t k = 0; k < 256; ++k)
            (*block)[k] = u_hasBinaryProperty(static_cast<UChar32>((c & ~char32_t { 0xFF }) | k), UCHAR_CHANGES_WHEN_LOWERCASED);
    }
    return *block;
}

/// changesWhenLowercased for scalars beyond ASCII, remembering the last
/// block asked for: a text's letters mostly come from one or two blocks.
class BeyondAsciiChanges {
public:
    bool operator()(char32_t c)
    {
        if (c > 0xFFFF)
            return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_CHANGES_WHEN_LOWERCASED);
        if (block_ == nullptr || (c >> 8) != high_) {
            high_ = c >> 8;
            block_ = &lowercaseChanges(c);
        }
        return (*block_)[c & 0xFF];
    }

private:
    const LowercaseChanges* block_ = nullptr;
    char32_t high_ = 0;
};

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

bool changesWhenLowercased(char32_t c)
{
    if (c < 128)
        return asciiTables().lower[c] != c;
    return BeyondAsciiChanges {}(c);
}

bool anyBeyondAsciiChangesWhenLowercased(std::string_view utf8)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    BeyondAsciiChanges changes;
    for (int32_t i = 0; (i = skipAscii(bytes, i, length)) < length;) {
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, i, length, c);
        if (changes(static_cast<char32_t>(c)))
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
    BeyondAsciiChanges beyondAscii;
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
        lower[count++] = static_cast<char32_t>(c);
        any = any || beyondAscii(static_cast<char32_t>(c));
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
    std::ptrdiff_t count = 0;
    for (int32_t i = 0; i < length;) {
#if defined(__SSE2__)
        // ASCII sixteen bytes at a time, as in decodeLowered: all sixteen
        // are stored, only the leading ASCII ones counted, and `count` never
        // passes `i`.
        if (__m128i chunk; const int32_t run = leadingAscii(bytes, i, length, chunk)) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + count), chunk);
            count += run;
            i += run;
            continue;
        }
#endif
        if (bytes[i] < 0x80) {
            out[count++] = bytes[i++];
            continue;
        }
        if (!narrowBeyondAscii(bytes, i, length, out[count++], classify))
            return -1;
    }
    return count;
}

char32_t asciiLower(char32_t c)
{
    return c < 128 ? asciiTables().lower[c] : c;
}

bool isLowercase(char32_t c)
{
    if (c < 128)
        return asciiTables().lowercase[c];
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_LOWERCASE);
}

bool isUppercase(char32_t c)
{
    if (c < 128)
        return asciiTables().uppercase[c];
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_UPPERCASE);
}

std::size_t graphemeCount(std::string_view text)
{
    if (text.empty())
        return 0;
    std::u16string text16;
    appendUtf16(text, text16);
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator* iterator = ubrk_open(UBRK_CHARACTER, "", text16.data(), static_cast<int32_t>(text16.size()), &status);
    if (U_FAILURE(status)) {
        // Without break data every scalar counts as one character.
        return scalars(text).size();
    }
    std::size_t count = 0;
    ubrk_first(iterator);
    while (ubrk_next(iterator) != UBRK_DONE)
        ++count;
    ubrk_close(iterator);
    return count;
}

std::string_view graphemePrefix(std::string_view text, std::size_t count)
{
    // ASCII without CR is one cluster per byte (CR LF is a single cluster).
    const std::size_t asciiRun = std::min(text.size(), count + 1);
    if (isAscii(text.substr(0, asciiRun)) && text.substr(0, asciiRun).find('\r') == std::string_view::npos)
        return text.substr(0, std::min(text.size(), count));

    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    // Opened once per thread: opening costs far more than a short title.
    thread_local std::unique_ptr<UBreakIterator, void (*)(UBreakIterator*)> iterator(nullptr, ubrk_close);
    if (!iterator && U_SUCCESS(status))
        iterator.reset(ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
    if (U_SUCCESS(status))
        ubrk_setUText(iterator.get(), utext, &status);
    std::size_t end = text.size();
    if (U_SUCCESS(status)) {
        // Offsets are UTF-8 byte offsets: the text was opened as UTF-8.
        std::int32_t boundary = ubrk_first(iterator.get());
        for (std::size_t i = 0; i < count && boundary != UBRK_DONE; ++i)
            boundary = ubrk_next(iterator.get());
        if (boundary != UBRK_DONE)
            end = static_cast<std::size_t>(boundary);
    } else {
        // Without break data every scalar counts as one character.
        std::int32_t offset = 0;
        const auto length = static_cast<std::int32_t>(text.size());
        for (std::size_t i = 0; i < count && offset < length; ++i) {
            UChar32 c;
            U8_NEXT(text.data(), offset, length, c);
        }
        end = static_cast<std::size_t>(offset);
    }
    utext_close(utext);
    return text.substr(0, end);
}

std::string_view trimSpaces(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto begin = int32_t { 0 };
    auto end = static_cast<int32_t>(text.size());
    while (begin < end) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, next, end, c);
        if (!isTrimmable(c))
            break;
        begin = next;
    }
    while (end > begin) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV_OR_FFFD(bytes, begin, previous, c);
        if (!isTrimmable(c))
            break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

int compareLocalized(std::string_view a, std::string_view b)
{
    UCollator* collator = threadCollator();
    if (collator == nullptr) {
        // No collation data: byte order, still deterministic.
        const int order = a.compare(b);
        return order < 0 ? -1 : order > 0 ? 1 : 0;
    }
    // Compares from the front and stops at the first difference, which for
    // tie-breaking is much cheaper than building whole sort keys.
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = ucol_strcollUTF8(collator, a.data(), static_cast<int32_t>(a.size()), b.data(),
        static_cast<int32_t>(b.size()), &status);
    return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
}

namespace {

/// The thread's collator at primary strength, for the weights of single
/// characters. (A sort key is far cheaper to ask for than a collation
/// element iterator, whose first use costs milliseconds.)
UCollator* threadPrimaryCollator()
{
    thread_local CollatorPtr primary = [] {
        UErrorCode status = U_ZERO_ERROR;
        const auto& base = baseCollator();
        CollatorPtr clone(base.collator ? ucol_clone(base.collator.get(), &status) : nullptr);
        if (clone)
            ucol_setStrength(clone.get(), UCOL_PRIMARY);
        return clone;
    }();
    return primary.get();
}

/// Appends the primary weights of a character taken on its own: the bytes
/// of its primary-strength sort key before the level separator (ignorable
/// characters add nothing).
void appendPrimariesOf(UChar32 c, std::string& out)
{
    UChar units[2];
    int32_t length = 0;
    UBool error = false;
    U16_APPEND(units, length, 2, c, error);
    if (error)
        return;
    std::uint8_t key[64];
    const int32_t size = ucol_getSortKey(threadPrimaryCollator(), units, length, key, sizeof key);
    for (int32_t i = 0; i < size && i < static_cast<int32_t>(sizeof key) && key[i] > 1; ++i)
        out.push_back(static_cast<char>(key[i]));
}

/// The primary weights of each character, per thread: ASCII in a table made
/// once (packed, as nearly all have at most four bytes), the rest as they
/// turn up.
class PrimaryWeights {
public:
    struct Packed {
        std::array<char, 4> bytes {};
        std::uint8_t length = 0;
        bool packed = false;
    };

    PrimaryWeights()
    {
        for (UChar32 c = 0; c < 128; ++c) {
            std::string weights;
            appendPrimariesOf(c, weights);
            Packed& entry = ascii_[static_cast<std::size_t>(c)];
            entry.packed = weights.size() <= entry.bytes.size();
            if (entry.packed) {
                std::copy(weights.begin(), weights.end(), entry.bytes.begin());
                entry.length = static_cast<std::uint8_t>(weights.size());
            }
        }
    }

    const Packed& ascii(std::uint8_t c) const { return ascii_[c]; }

    const std::string& of(char32_t c)
    {
        auto it = others_.find(c);
        if (it == others_.end()) {
            std::string weights;
            appendPrimariesOf(static_cast<UChar32>(c), weights);
            it = others_.emplace(c, std::move(weights)).first;
        }
        return it->second;
    }

private:
    std::array<Packed, 128> ascii_;
    std::unordered_map<char32_t, std::string> others_;
};

} // namespace

bool appendApproximateCollationKey(std::string_view text, std::string& key)
{
    if (threadPrimaryCollator() == nullptr)
        return false;
    thread_local PrimaryWeights weights;
    PrimaryWeights& table = weights;
    // Written through a pointer into room made up front, which costs far
    // less than growing the string a byte at a time: four bytes per input
    // byte hold any packed ASCII weights; other characters make their room.
    constexpr std::size_t packedBytes = 4;
    std::size_t used = key.size();
    key.resize(used + packedBytes * text.size() + packedBytes);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            const auto& entry = table.ascii(bytes[i]);
            if (entry.packed) {
                ++i;
                std::memcpy(key.data() + used, entry.bytes.data(), packedBytes);
                used += entry.length;
                continue;
            }
        }
        UChar32 c;
        U8_NEXT_OR_FFFD(bytes, i, length, c);
        std::string weightsOfOther;
        if (c < 128)
            appendPrimariesOf(c, weightsOfOther);
        const std::string& primaries = c < 128 ? weightsOfOther : table.of(static_cast<char32_t>(c));
        const std::size_t room = used + primaries.size() + packedBytes * static_cast<std::size_t>(length - i) + packedBytes;
        if (room > key.size())
            key.resize(room);
        std::memcpy(key.data() + used, primaries.data(), primaries.size());
        used += primaries.size();
    }
    key.resize(used);
    return true;
}

namespace {

/// What the collation makes of one character taken alone, as kept in
/// characterWeights: not asked yet, beyond PlainCollation, ignorable, or
/// (any larger value) its primary weight. Primary weights have a lead byte
/// of at least 3, so they never collide with these.
constexpr std::uint32_t weightUnknown = 0;
constexpr std::uint32_t weightIrregular = 1;
constexpr std::uint32_t weightIgnorable = 2;

/// The weights of the Basic Multilingual Plane, filled in as characters turn
/// up (by any thread: a character's weight is the same whoever works it
/// out). Characters beyond it are left to the collator.
std::array<std::atomic<std::uint32_t>, 0x10000> characterWeights;

/// The blocks whose characters PlainCollation may cover: Latin, Greek and
/// Cyrillic letters, punctuation and symbols, CJK ideographs and full-width
/// forms. No contraction or context-dependent mapping of the root rules is
/// made only of ASCII and characters from these (the middle dot of "l\u00B7"
/// aside), so a covered text holds none. (Asking the collator for all its
/// contractions costs milliseconds; a test checks these blocks against them.)
bool inPlainBlock(UChar32 c)
{
    struct Range {
        UChar32 first;
        UChar32 last;
    };
    static constexpr std::array<Range, 6> ranges { {
        { 0x00A0, 0x024F },
        { 0x0370, 0x04FF },
        { 0x2000, 0x2BFF },
        { 0x3000, 0x303F },
        { 0x4E00, 0x9FFF },
        { 0xFF00, 0xFFEF },
    } };
    return c != 0x00B7 && std::any_of(ranges.begin(), ranges.end(), [c](const Range& r) { return c >= r.first && c <= r.last; });
}

/// The weight of `c` alone from the thread's collator (see weightUnknown):
/// its secondary-strength sort key is its primary weights' bytes, a level
/// separator (1), its secondary weights and an end (0). A key with one
/// primary weight (at most four bytes) and the single common secondary
/// weight (5) comes from exactly one collation element that matters at this
/// strength: every element with a primary weight has a secondary one.
std::uint32_t lookUpWeight(UChar32 c)
{
    // A combining class or a canonical decomposition brings in the
    // normalisation the collator applies to such text.
    if (c >= 0x80
        && (!inPlainBlock(c) || u_getIntPropertyValue(c, UCHAR_CANONICAL_COMBINING_CLASS) != 0
            || u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE) == U_DT_CANONICAL))
        return weightIrregular;
    UCollator* collator = threadCollator();
    std::array<UChar, 2> units {};
    int32_t length = 0;
    UBool error = false;
    U16_APPEND(units.data(), length, 2, c, error);
    std::array<std::uint8_t, 32> key {};
    const int32_t size = collator != nullptr ? ucol_getSortKey(collator, units.data(), length, key.data(), key.size()) : 0;
    if (error || size <= 0 || size > static_cast<int32_t>(key.size()))
        return weightIrregular;
    std::size_t separator = 0;
    while (separator < key.size() && key[separator] > 1)
        ++separator;
    if (separator == key.size() || key[separator] != 1)
        return weightIrregular;
    const std::size_t secondary = separator + 1;
    if (separator == 0)
        return key[secondary] == 0 ? weightIgnorable : weightIrregular;
    if (separator > 4 || key[secondary] != 5 || key[secondary + 1] != 0)
        return weightIrregular;
    std::uint32_t primary = 0;
    for (std::size_t i = 0; i < 4; ++i)
        primary = (primary << 8) | (i < separator ? key[i] : 0);
    return primary;
}

/// The weight of a character (see weightUnknown), looked up once.
std::uint32_t weightOf(UChar32 c)
{
    if (c < 0 || c > 0xFFFF || U_IS_SURROGATE(c))
        return weightIrregular;
    std::atomic<std::uint32_t>& slot = characterWeights[static_cast<std::size_t>(c)];
    std::uint32_t weight = slot.load(std::memory_order_relaxed);
    if (weight == weightUnknown) {
        weight = lookUpWeight(c);
        slot.store(weight, std::memory_order_relaxed);
    }
    return weight;
}

/// Whether the collation is one PlainCollation can follow (see there).
bool collationIsPlain(const UCollator* collator)
{
    int32_t rulesLength = 0;
    ucol_getRules(collator, &rulesLength);
    UErrorCode status = U_ZERO_ERROR;
    return rulesLength == 0 && ucol_getAttribute(collator, UCOL_NUMERIC_COLLATION, &status) == UCOL_OFF
        && ucol_getAttribute(collator, UCOL_CASE_LEVEL, &status) == UCOL_OFF
        && ucol_getAttribute(collator, UCOL_ALTERNATE_HANDLING, &status) == UCOL_NON_IGNORABLE && U_SUCCESS(status);
}

std::optional<PlainCollation> makePlainCollation()
{
    const UCollator* collator = baseCollator().collator.get();
    if (collator == nullptr || !collationIsPlain(collator) || threadCollator() == nullptr)
        return std::nullopt;
    PlainCollation result;
    for (UChar32 c = 0; c < 0x80; ++c) {
        const std::uint32_t weight = weightOf(c);
        if (weight == weightIrregular)
            return std::nullopt;
        result.asciiWeights[static_cast<std::size_t>(c)] = weight == weightIgnorable ? 0 : weight;
    }
    std::vector<std::uint32_t> distinct(result.asciiWeights.begin(), result.asciiWeights.end());
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    for (std::size_t c = 0; c < 0x80; ++c) {
        const auto at = std::lower_bound(distinct.begin(), distinct.end(), result.asciiWeights[c]) - distinct.begin();
        // The ignorable 0, where there is one, is distinct[0].
        result.asciiRanks[c] = static_cast<std::uint8_t>(distinct.front() == 0 ? at : at + 1);
    }
    return result;
}

} // namespace

bool PlainCollation::covers(std::string_view text) const
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        if (bytes[i] < 0x80) {
            i = skipAscii(bytes, i, length); // ASCII is always covered
            continue;
        }
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || weightOf(c) == weightIrregular)
            return false;
    }
    return true;
}

std::size_t commonPrefixBytes(std::string_view a, std::string_view b)
{
    const std::size_t shorter = std::min(a.size(), b.size());
    std::size_t same = 0;
    for (std::uint64_t x = 0, y = 0; same + 8 <= shorter; same += 8) {
        std::memcpy(&x, a.data() + same, 8);
        std::memcpy(&y, b.data() + same, 8);
        if (x != y)
            break;
    }
    while (same < shorter && a[same] == b[same])
        ++same;
    return same;
}

int PlainCollation::compare(std::string_view a, std::string_view b) const
{
    // The next primary weight of a text from `i` on, ignorables skipped;
    // 0 at its end.
    auto next = [this](std::string_view text, int32_t& i) -> std::uint32_t {
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        const auto length = static_cast<int32_t>(text.size());
        while (i < length) {
            std::uint32_t weight = 0;
            if (bytes[i] < 0x80) {
                weight = asciiWeights[bytes[i++]];
            } else {
                UChar32 c;
                U8_NEXT(bytes, i, length, c);
                weight = weightOf(c);
                if (weight == weightIgnorable)
                    weight = 0;
            }
            if (weight != 0)
                return weight;
        }
        return 0;
    };
    // Tied texts often share a long beginning (the same application, the
    // same folder): equal bytes are equal characters, so the comparison
    // starts at the character where the bytes first differ.
    std::size_t same = commonPrefixBytes(a, b);
    while (same > 0 && same < a.size() && (static_cast<std::uint8_t>(a[same]) & 0xC0) == 0x80)
        --same;
    auto i = static_cast<int32_t>(same);
    auto j = static_cast<int32_t>(same);
    for (;;) {
        const std::uint32_t x = next(a, i);
        const std::uint32_t y = next(b, j);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

const PlainCollation* plainCollation()
{
    static const std::optional<PlainCollation> collation = makePlainCollation();
    return collation ? &*collation : nullptr;
}

void prepareCollation()
{
    baseCollator();
    plainCollation();
}

std::string collationLocale()
{
    return baseCollator().locale.empty() ? std::string("root") : baseCollator().locale;
}

} // namespace vantrel::TextUnicode
