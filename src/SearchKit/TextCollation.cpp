// Collation: the locale's collator per thread, approximate sort keys, and
// the table of plain collation that orders most window texts without ICU.
#include "SearchKit/TextUnicode.h"
#include "SearchKit/TextUnicodeDetail.h"

#include <unicode/ucol.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrel::TextUnicode {

using namespace detail;

namespace {

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

/// The primary weights of the characters of the Basic Multilingual Plane,
/// for all threads (a character's weights are the same whoever works them
/// out), filled in as characters turn up: nearly all have at most four
/// bytes of them, packed in one word each (see `known`). Those of one or
/// two bytes of UTF-8 (ASCII, Latin, Greek, Cyrillic, Arabic) are kept in
/// a table of their own, one look-up away; basicPrimaries has the rest.
std::array<std::atomic<std::uint64_t>, 0x800> lowPrimaries;
BasicPlaneTable<std::uint64_t> basicPrimaries;

/// The word kept for `c`, 0 if not asked yet.
inline std::uint64_t keptPrimaries(char32_t c)
{
    return c < lowPrimaries.size() ? lowPrimaries[c].load(std::memory_order_relaxed) : basicPrimaries.get(c);
}

/// A word of lowPrimaries or basicPrimaries: the weights' bytes in its
/// first four bytes in memory order, their count in bits 32-39, and `known`
/// set (so that 0 means not asked yet); or `known | tooLong` for more than
/// four bytes. `certain` where keyIsCertain holds.
constexpr std::uint64_t known = std::uint64_t { 1 } << 40;
constexpr std::uint64_t tooLong = std::uint64_t { 1 } << 41;
constexpr std::uint64_t certain = std::uint64_t { 1 } << 42;

/// Works out and keeps the word for `c`.
[[gnu::noinline]] std::uint64_t learnPrimaries(char32_t c)
{
    std::string weights;
    appendPrimariesOf(static_cast<UChar32>(c), weights);
    std::uint64_t packed = known | tooLong;
    if (weights.size() <= 4) {
        std::uint32_t bytes = 0;
        std::memcpy(&bytes, weights.data(), weights.size());
        packed = known | std::uint64_t { weights.size() } << 32 | bytes;
    }
    if (keyIsCertain(c))
        packed |= certain;
    if (c < lowPrimaries.size())
        lowPrimaries[c].store(packed, std::memory_order_relaxed);
    else
        basicPrimaries.set(c, packed);
    return packed;
}

std::uint64_t packedPrimaries(char32_t c)
{
    const std::uint64_t packed = keptPrimaries(c);
    return packed != 0 ? packed : learnPrimaries(c);
}

/// The primary weights of a character packedPrimaries leaves out, and
/// whether keyIsCertain holds for it.
struct Primaries {
    std::string weights;
    bool certain = false;
};

/// Per byte, the one weight byte of an ASCII character whose primary
/// weights are that byte and certain (letters, digits and the space); 0 for
/// the other characters and every byte beyond ASCII. Filled in on first
/// use, where the thread has a collator; asked once per key, so inlined to
/// the test of its guard.
[[gnu::always_inline]] inline const std::array<std::uint8_t, 256>& singleByteWeights()
{
    static const std::array<std::uint8_t, 256> table = [] {
        std::array<std::uint8_t, 256> made {};
        for (char32_t c = 0; c < 0x80; ++c) {
            const std::uint64_t packed = packedPrimaries(c);
            const auto weights = static_cast<std::uint32_t>(packed);
            if ((packed & (tooLong | certain)) == certain && ((packed >> 32) & 0xFF) == 1)
                std::memcpy(&made[c], &weights, 1);
        }
        return made;
    }();
    return table;
}

/// The Primaries of the characters packedPrimaries leaves out, per thread.
const Primaries& otherPrimaries(char32_t c)
{
    thread_local std::unordered_map<char32_t, Primaries> others;
    auto it = others.find(c);
    if (it == others.end()) {
        Primaries primaries;
        appendPrimariesOf(static_cast<UChar32>(c), primaries.weights);
        primaries.certain = keyIsCertain(c);
        it = others.emplace(c, std::move(primaries)).first;
    }
    return it->second;
}

/// The blocks keyIsCertain allows: the plain blocks (see inPlainBlock) with
/// ASCII, Arabic, Hangul, kana, variation selectors and emoji. (A test
/// checks that no contraction of the root rules begins with two of their
/// characters.)
bool inCertainBlock(char32_t c)
{
    struct Range {
        char32_t first;
        char32_t last;
    };
    static constexpr std::array<Range, 12> ranges { {
        { 0x0000, 0x007F },
        { 0x00A0, 0x024F },
        { 0x0370, 0x04FF },
        { 0x0600, 0x06FF },
        { 0x1100, 0x11FF },
        { 0x2000, 0x2BFF },
        { 0x3000, 0x30FF },
        { 0x4E00, 0x9FFF },
        { 0xAC00, 0xD7A3 },
        { 0xFE00, 0xFE0F },
        { 0xFF00, 0xFFEF },
        { 0x1F000, 0x1FAFF },
    } };
    return std::any_of(ranges.begin(), ranges.end(), [c](const Range& r) { return c >= r.first && c <= r.last; });
}

} // namespace

bool keyIsCertain(char32_t c)
{
    // The middle dots join a preceding "l" into one collation element.
    const auto scalar = static_cast<UChar32>(c);
    return c != 0x00B7 && c != 0x0387 && inCertainBlock(c) && u_getCombiningClass(scalar) == 0
        && u_getIntPropertyValue(scalar, UCHAR_LEAD_CANONICAL_COMBINING_CLASS) == 0 && plainCollation() != nullptr;
}

namespace {

/// A character's packed weights take this many bytes of room, whatever
/// their count.
constexpr std::size_t packedBytes = 4;

/// The approximate key of `text` (see appendApproximateCollationKey) into
/// `out`, which has room for `capacity` bytes: packedBytes past the smaller
/// of `limit` and four per byte of `text`, so that packed weights always
/// fit. `grow(needed)` may make more room (moving `out`) for a character
/// whose weights are not packed; where there is still too little, only
/// those that fit are written. Returns the key's length, which may pass the
/// limit; its bytes up to the limit are written.
template <class Grow>
std::size_t writeKey(std::string_view text, char*& out, std::size_t& capacity, std::size_t limit, Grow&& grow,
    KeyResume* resume, std::size_t* certainBytes)
{
    std::size_t used = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* at = bytes;
    const uint8_t* const end = bytes + text.size();
    // The key goes on from the last character looked at, after those of
    // its weights that went in (all of them, or more, where the text ended
    // or the weights just reached the limit).
    const uint8_t* last = at;
    std::size_t usedBefore = 0;
    // The key is certain up to the first character that keyIsCertain
    // refuses, less the one before it, which a contraction may join to it.
    std::size_t certainEnd = std::string::npos;
    std::size_t previousStart = 0;
    auto next = [&at, end]() { return *at < 0x80 ? char32_t { *at++ } : nextBeyondAscii(at, end); };
    // Appends the weights of a character that has them packed.
    auto putPacked = [&](std::uint64_t packed) {
        if ((packed & certain) == 0 && certainEnd == std::string::npos)
            certainEnd = previousStart;
        const auto weights = static_cast<std::uint32_t>(packed);
        std::memcpy(out + used, &weights, packedBytes);
        used += (packed >> 32) & 0xFF;
    };
    const std::array<std::uint8_t, 256>& single = singleByteWeights();
    while (at < end && used < limit) {
        // Most characters are ASCII or take two or three bytes, and have
        // their weights packed and known: they go through a loop of their
        // own that calls nothing, so that what it keeps stays in registers.
        while (at < end && used < limit) {
            const uint8_t* after = at;
            char32_t c = *after;
            if (c < 0x80) {
                // Runs of letters, digits and spaces, one weight byte each,
                // are copied through a table.
                if (single[c] != 0) {
                    const std::size_t room = std::min(static_cast<std::size_t>(end - at), limit - used);
                    std::size_t n = 1;
                    out[used] = static_cast<char>(single[c]);
                    for (std::uint8_t weight = 0; n < room && (weight = single[at[n]]) != 0; ++n)
                        out[used + n] = static_cast<char>(weight);
                    // (previousStart counts only for a character that is
                    // not certain, which sets it first.)
                    usedBefore = used + n - 1;
                    last = at + n - 1;
                    used += n;
                    at += n;
                    continue;
                }
                ++after;
            } else if (!nextTwoOrThreeBytes(after, end, c)) {
                break;
            }
            const std::uint64_t packed = keptPrimaries(c);
            if ((packed & (known | tooLong)) != known)
                break;
            previousStart = std::exchange(usedBefore, used);
            last = at;
            putPacked(packed);
            at = after;
        }
        if (at == end || used >= limit)
            break;
        previousStart = std::exchange(usedBefore, used);
        last = at;
        const char32_t c = next();
        const std::uint64_t packed = c < 0x10000 ? packedPrimaries(c) : tooLong;
        if ((packed & tooLong) == 0) {
            putPacked(packed);
            continue;
        }
        const Primaries& other = otherPrimaries(c);
        if (!other.certain && certainEnd == std::string::npos)
            certainEnd = previousStart;
        const std::string& primaries = other.weights;
        const std::size_t needed = used + primaries.size() + packedBytes * static_cast<std::size_t>(end - at) + packedBytes;
        if (needed > capacity)
            grow(needed);
        std::memcpy(out + used, primaries.data(), std::min(primaries.size(), capacity - used));
        used += primaries.size();
    }
    if (resume != nullptr)
        *resume = { static_cast<std::size_t>(last - bytes), limit - usedBefore };
    if (certainBytes != nullptr) {
        // Cut at the limit, the key is certain to its end only if the next
        // character cannot join the last one.
        if (certainEnd == std::string::npos && at < end) {
            const char32_t c = next();
            certainEnd = (c < 0x10000 ? (packedPrimaries(c) & certain) != 0 : otherPrimaries(c).certain) ? used : usedBefore;
        }
        *certainBytes = certainEnd == std::string::npos ? std::string::npos : std::min({ certainEnd, used, limit });
    }
    return used;
}

} // namespace

bool appendApproximateCollationKey(std::string_view text, std::string& key, std::size_t limit, KeyResume* resume, std::size_t* certainBytes)
{
    if (threadPrimaryCollator() == nullptr)
        return false;
    // Written through a pointer into room made up front, which costs far
    // less than growing the string a byte at a time: four bytes per input
    // byte hold any packed weights (a character of n bytes has at most four
    // of them), and `limit` bytes with one character's more; other
    // characters make their room.
    const std::size_t start = key.size();
    key.resize(start + std::min(packedBytes * text.size(), limit) + packedBytes);
    char* out = key.data() + start;
    std::size_t capacity = key.size() - start;
    auto grow = [&](std::size_t needed) {
        key.resize(start + needed);
        out = key.data() + start;
        capacity = needed;
    };
    const std::size_t used = writeKey(text, out, capacity, limit, grow, resume, certainBytes);
    key.resize(start + std::min(used, limit));
    return true;
}

std::optional<std::size_t> writeApproximateCollationKey(
    std::string_view text, std::span<char> out, std::size_t limit, KeyResume* resume, std::size_t* certainBytes)
{
    if (threadPrimaryCollator() == nullptr || limit > out.size() || out.size() - limit < packedBytes)
        return std::nullopt;
    char* to = out.data();
    std::size_t capacity = out.size();
    const std::size_t used = writeKey(text, to, capacity, limit, [](std::size_t) {}, resume, certainBytes);
    return std::min(used, limit);
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
BasicPlaneTable<std::uint32_t> characterWeights;

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

/// Looks up and keeps the weight of `c`, of the Basic Multilingual Plane.
[[gnu::noinline]] std::uint32_t learnWeight(UChar32 c)
{
    const std::uint32_t weight = lookUpWeight(c);
    characterWeights.set(static_cast<char32_t>(c), weight);
    return weight;
}

/// The weight of a character (see weightUnknown), looked up once.
inline std::uint32_t weightOf(UChar32 c)
{
    if (c < 0 || c > 0xFFFF || U_IS_SURROGATE(c))
        return weightIrregular;
    const std::uint32_t weight = characterWeights.get(static_cast<char32_t>(c));
    return weight != weightUnknown ? weight : learnWeight(c);
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
    // Asked of every tied text: ASCII, always covered, is passed over sixteen
    // bytes at a time without a call (the last few in a load that ends at
    // the text's end), and the scalars between are decoded inline.
    const auto* at = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* const end = at + text.size();
    while (at < end) {
#if defined(__SSE2__)
        if (text.size() >= 16) {
            const uint8_t* from = end - at >= 16 ? at : end - 16;
            const auto high = static_cast<unsigned>(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from))))
                >> (at - from);
            if (high == 0) {
                at = from + 16;
                continue;
            }
            at += std::countr_zero(high);
        }
#endif
        if (*at < 0x80) {
            ++at;
            continue;
        }
        // (An ill-formed sequence reads as U+FFFD, which is not covered.)
        if (weightOf(static_cast<UChar32>(nextBeyondAscii(at, end))) == weightIrregular)
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
