// Ordering of ranked candidates and the thread split of large rankings.
#include "SearchKit/SearchRanker.h"

#include "SearchKit/SearchKernel.h"
#include "SearchKit/ShortLoad.h"
#include "SearchKit/TextUnicode.h"

#include "Runtime/SerialQueue.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <latch>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <thread>
#include <tuple>
#if VANTREL_X86_KERNELS
#include <immintrin.h>
#endif

namespace vantrel::SearchRanker::detail {

namespace {

/// Below this many candidates a thread costs more than it saves.
constexpr std::size_t minimumPerThread = 4096;
/// Runs of ties up to this length cost less sorted by the collator than
/// given keys. A key costs as much as one to a few comparisons by the
/// collator (about one for texts beyond Latin, which it reads slowly), and
/// sorting a run of n takes about n log2 n comparisons.
constexpr std::size_t shortRunLength = 8;

/// The first bytes of a text's approximate collation key, eight to a word
/// with the first in the highest byte and 0 past the key's end: comparing
/// the words compares those bytes as strings (no key byte is 0, so a key
/// that ends sorts first).
using KeyWords = std::array<std::uint64_t, 3>;
constexpr std::size_t keyBytes = 8 * std::tuple_size_v<KeyWords>;
/// How many of a KeyWords' bytes are certain (see
/// appendApproximateCollationKey): up to keyBytes, or all and the text's
/// end.
constexpr std::uint8_t certainToTheEnd = 255;

/// The KeyWords of `text`'s key from where `from` says (from the start
/// unless given), where they stopped in `resume`, and how many of their
/// bytes are certain in `certain`; `bytes` is scratch.
KeyWords keyWords(std::string_view text, std::string& bytes, const TextUnicode::KeyResume& from, TextUnicode::KeyResume& resume,
    std::uint8_t& certain)
{
    constexpr std::size_t size = keyBytes;
    const std::string_view rest = text.substr(std::min(from.offset, text.size()));
    std::size_t certainBytes = 0;
    const std::size_t limit = from.skip + size;
    // The key is written into room on the stack, with a character's
    // weights to spare past the limit; one that resumes after more weights
    // of a character than fit goes into `bytes`.
    std::array<char, 4 * keyBytes> room;
    const char* key = room.data();
    std::size_t length = 0;
    if (const auto written = TextUnicode::writeApproximateCollationKey(rest, room, limit, &resume, &certainBytes)) {
        length = *written;
    } else {
        bytes.clear();
        TextUnicode::appendApproximateCollationKey(rest, bytes, limit, &resume, &certainBytes);
        key = bytes.data();
        length = bytes.size();
    }
    certain = certainBytes == std::string::npos
        ? certainToTheEnd
        : static_cast<std::uint8_t>(certainBytes > from.skip ? std::min(certainBytes - from.skip, size) : 0);
    resume.offset += text.size() - rest.size();
    std::array<char, size> raw {};
    if (length > from.skip)
        std::memcpy(raw.data(), key + from.skip, length - from.skip);
    KeyWords words {};
    for (std::size_t w = 0; w < words.size(); ++w) {
        std::uint64_t word = 0;
        std::memcpy(&word, raw.data() + 8 * w, 8);
        words[w] = std::endian::native == std::endian::little ? __builtin_bswap64(word) : word;
    }
    return words;
}

/// Where `a` and `b` first differ, in bytes; keyBytes where they do not.
std::size_t firstDifference(const KeyWords& a, const KeyWords& b)
{
    for (std::size_t w = 0; w < a.size(); ++w)
        if (const std::uint64_t differ = a[w] ^ b[w]; differ != 0)
            return 8 * w + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
    return keyBytes;
}

/// A tied candidate with its KeyWords.
struct Keyed {
    KeyWords key {};
    Scored entry;
};

/// Whether `a`'s KeyWords order before `b`'s.
inline bool byKey(const Keyed& a, const Keyed& b)
{
    for (std::size_t w = 0; w < a.key.size(); ++w)
        if (a.key[w] != b.key[w])
            return a.key[w] < b.key[w];
    return false;
}

/// Sorts `items` by their first `bytes` key bytes, `byteOf(item, b)` giving
/// byte b (0 the most significant), in the order `before` gives for whole
/// keys; equal keys in any order (the caller sorts them further). A radix
/// sort from the most significant byte, which spreads each range of items
/// over buckets by one byte of their keys, skips the bytes all the range's
/// keys have alike (texts that begin alike), and sorts ranges of a few
/// items (and whole inputs under 256) by comparison. `other` is scratch.
template <class Item, class ByteOf, class Before>
void sortByKeyBytes(std::vector<Item>& items, std::vector<Item>& other, std::size_t bytes, ByteOf byteOf, Before before)
{
    constexpr std::size_t few = 48;
    if (items.size() < 256) {
        std::sort(items.begin(), items.end(), before);
        return;
    }
    struct Range {
        std::size_t begin, end, byte;
    };
    std::vector<Range> ranges { { 0, items.size(), 0 } };
    other.resize(items.size());
    while (!ranges.empty()) {
        const auto [begin, end, byte] = ranges.back();
        ranges.pop_back();
        const auto first = items.begin() + static_cast<std::ptrdiff_t>(begin);
        const auto last = items.begin() + static_cast<std::ptrdiff_t>(end);
        if (end - begin <= few) {
            std::sort(first, last, before);
            continue;
        }
        auto byteHere = [&byteOf, b = byte](const Item& item) { return byteOf(item, b); };
        std::array<std::uint32_t, 256> count {};
        for (auto it = first; it != last; ++it)
            ++count[byteHere(*it)];
        if (count[byteHere(*first)] == end - begin) {
            if (byte + 1 < bytes)
                ranges.push_back({ begin, end, byte + 1 });
            continue;
        }
        std::array<std::uint32_t, 256> start {};
        std::uint32_t offset = static_cast<std::uint32_t>(begin);
        for (std::size_t v = 0; v < 256; ++v) {
            start[v] = offset;
            offset += count[v];
        }
        std::array<std::uint32_t, 256> at = start;
        for (auto it = first; it != last; ++it)
            other[at[byteHere(*it)]++] = *it;
        std::copy(other.begin() + static_cast<std::ptrdiff_t>(begin), other.begin() + static_cast<std::ptrdiff_t>(end), first);
        if (byte + 1 < bytes)
            for (std::size_t v = 0; v < 256; ++v)
                if (count[v] > 1)
                    ranges.push_back({ start[v], start[v] + count[v], byte + 1 });
    }
}

/// Sorts by KeyWords (as byKey), equal ones in any order.
void sortByKeyWords(std::vector<Keyed>& items, std::vector<Keyed>& other)
{
    sortByKeyBytes(items, other, keyBytes,
        [](const Keyed& item, std::size_t b) { return static_cast<std::uint8_t>(item.key[b / 8] >> (56 - 8 * (b % 8))); },
        byKey);
}

/// The first primary weights of a text that plain collation covers, from
/// where its run's texts first differ: enough to order most pairs of a run
/// without reading the texts again.
struct TieKey {
    static constexpr std::size_t size = 16;
    /// Weights as PlainCollation::asciiRanks, ignorables left out, eight to
    /// a word with the first in the highest byte, so that comparing the
    /// words compares the weights in turn; 0 past the text's end, which
    /// sorts it first as the collator does. (Built in registers: written a
    /// byte at a time and read whole, the key would stall every read.)
    std::array<std::uint64_t, 2> ranks {};
    /// How many leading ranks are the text's: fewer than `size` where a
    /// character beyond ASCII comes first.
    std::uint8_t known = 0;
    /// Whether the text ends within the ranks.
    bool complete = false;
};

/// The key of `text` from byte `from` on.
TieKey tieKey(std::string_view text, std::size_t from, const TextUnicode::PlainCollation& plain)
{
    TieKey key;
    std::uint64_t word = 0;
    std::size_t at = 0;
    auto finish = [&](std::size_t known, bool complete) {
        if (at % 8 != 0)
            key.ranks[at / 8] = word << (8 * (8 - at % 8));
        key.known = static_cast<std::uint8_t>(known);
        key.complete = complete;
        return key;
    };
    for (std::size_t i = from; at < TieKey::size; ++i) {
        if (i == text.size())
            return finish(TieKey::size, true);
        const auto c = static_cast<std::uint8_t>(text[i]);
        if (c >= 0x80)
            return finish(at, false);
        if (const std::uint8_t rank = plain.asciiRanks[c]; rank != 0) {
            word = word << 8 | rank;
            if (++at % 8 == 0) {
                key.ranks[at / 8 - 1] = word;
                word = 0;
            }
        }
    }
    return finish(TieKey::size, false);
}

/// The key of sixteen bytes looked up at once: `stop` of them ranked where a
/// byte beyond ASCII came first, else all, and then complete when the text
/// (`left` bytes from where the lookup began) ended within them.
TieKey lookedUpKey(std::uint64_t first, std::uint64_t second, bool beyondAscii, std::size_t stop, std::size_t left)
{
    TieKey key;
    key.ranks[0] = first;
    key.ranks[1] = second;
    if (beyondAscii) {
        key.known = static_cast<std::uint8_t>(stop);
    } else {
        key.known = TieKey::size;
        key.complete = left < TieKey::size;
    }
    return key;
}

/// tieKey with the sixteen bytes from `from` read as two words and looked up
/// without a branch per byte, for machines without AVX2; nullopt where one
/// of them is ignorable, or where words are not little-endian.
std::optional<TieKey> wordTieKey(std::string_view text, std::size_t from, const TextUnicode::PlainCollation& plain)
{
    if constexpr (std::endian::native != std::endian::little)
        return std::nullopt;
    const std::size_t left = text.size() - from;
    const std::size_t n = std::min(left, TieKey::size);
    const auto* at = reinterpret_cast<const std::uint8_t*>(text.data() + from);
    std::array<std::uint64_t, 2> bytes;
    if (n == TieKey::size)
        std::memcpy(bytes.data(), at, TieKey::size);
    else
        bytes = scorer::loadBelow16(at, n);
    // Up to the first byte beyond ASCII, or the text's end (the zeros that
    // follow a short text are ASCII).
    constexpr std::uint64_t highBits = 0x8080808080808080ull;
    const std::uint64_t beyondLow = bytes[0] & highBits;
    const std::uint64_t beyondHigh = bytes[1] & highBits;
    const std::size_t beyond = beyondLow != 0 ? static_cast<std::size_t>(std::countr_zero(beyondLow)) / 8
        : beyondHigh != 0                     ? 8 + static_cast<std::size_t>(std::countr_zero(beyondHigh)) / 8
                                              : TieKey::size;
    const std::size_t stop = std::min(beyond, n);
    // Every byte looked up, the first in the highest byte of its word, and
    // the ranks from `stop` on cleared.
    std::array<std::uint64_t, 2> ranks {};
    for (std::size_t k = 0; k < TieKey::size; ++k) {
        const auto byte = static_cast<std::uint8_t>(bytes[k / 8] >> (8 * (k % 8)));
        ranks[k / 8] = ranks[k / 8] << 8 | plain.asciiRanks[byte & 0x7F];
    }
    auto firstBytes = [](std::size_t count) {
        return count >= 8 ? ~std::uint64_t { 0 } : ~(~std::uint64_t { 0 } >> (8 * count));
    };
    const std::array<std::uint64_t, 2> kept { firstBytes(stop), firstBytes(stop > 8 ? stop - 8 : 0) };
    // A kept rank of 0 is an ignorable byte (the others all set for the test).
    constexpr std::uint64_t lowBits = 0x0101010101010101ull;
    for (std::size_t w = 0; w < 2; ++w) {
        const std::uint64_t x = ranks[w] | ~kept[w];
        if (((x - lowBits) & ~x & highBits) != 0)
            return std::nullopt;
        ranks[w] &= kept[w];
    }
    return lookedUpKey(ranks[0], ranks[1], beyond < n, stop, left);
}

#if VANTREL_X86_KERNELS
/// tieKey with the sixteen bytes from `from` looked up at once, where none
/// of them is ignorable; nullopt where one is (tieKey then skips it).
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512vbmi")
std::optional<TieKey> wideTieKey(std::string_view text, std::size_t from, const TextUnicode::PlainCollation& plain)
{
    const std::size_t left = text.size() - from;
    const std::size_t n = std::min(left, TieKey::size);
    const __mmask64 inText = (__mmask64 { 1 } << n) - 1;
    const __m512i bytes = _mm512_maskz_loadu_epi8(inText, text.data() + from);
    // Up to the first byte beyond ASCII, or the text's end.
    const std::uint64_t high = _mm512_movepi8_mask(bytes) & inText;
    const std::size_t stop = high != 0 ? static_cast<std::size_t>(std::countr_zero(high)) : n;
    const __mmask64 kept = (__mmask64 { 1 } << stop) - 1;
    const __m512i low = _mm512_loadu_si512(plain.asciiRanks.data());
    const __m512i upper = _mm512_loadu_si512(plain.asciiRanks.data() + 64);
    const __m512i ranks = _mm512_maskz_permutex2var_epi8(kept, low, bytes, upper);
    if (_mm512_test_epi8_mask(ranks, ranks) != kept)
        return std::nullopt;
    // First weight in each word's highest byte.
    alignas(64) std::uint64_t words[8];
    _mm512_store_si512(words, _mm512_shuffle_epi8(ranks,
        _mm512_set4_epi32(0x08090a0b, 0x0c0d0e0f, 0x00010203, 0x04050607)));
    return lookedUpKey(words[0], words[1], high != 0, stop, left);
}
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
/// wideTieKey with AVX2: the sixteen bytes from `from` (read piece by piece
/// where fewer are left, as nothing past the text may be) looked up in the
/// ranks' eight rows of sixteen, each byte in the row of its high half.
std::optional<TieKey> quadTieKey(std::string_view text, std::size_t from, const TextUnicode::PlainCollation& plain)
{
    const std::size_t left = text.size() - from;
    const std::size_t n = std::min(left, TieKey::size);
    const char* at = text.data() + from;
    __m128i bytes;
    if (n == TieKey::size) {
        bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    } else {
        const auto [low, high] = scorer::loadBelow16(reinterpret_cast<const std::uint8_t*>(at), n);
        bytes = _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    }
    // Up to the first byte beyond ASCII, or the text's end.
    const unsigned inText = (1u << n) - 1;
    const unsigned beyond = static_cast<unsigned>(_mm_movemask_epi8(bytes)) & inText;
    const std::size_t stop = beyond != 0 ? static_cast<std::size_t>(std::countr_zero(beyond)) : n;
    const unsigned kept = (1u << stop) - 1;
    const __m128i half = _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
    __m128i ranks = _mm_setzero_si128();
    for (std::size_t row = 0; row < 8; ++row) {
        const __m128i table = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plain.asciiRanks.data() + 16 * row));
        const __m128i here = _mm_cmpeq_epi8(half, _mm_set1_epi8(static_cast<char>(row)));
        ranks = _mm_or_si128(ranks, _mm_and_si128(here, _mm_shuffle_epi8(table, bytes)));
    }
    const __m128i place = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    ranks = _mm_and_si128(ranks, _mm_cmplt_epi8(place, _mm_set1_epi8(static_cast<char>(stop))));
    const auto ranked = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(ranks, _mm_setzero_si128()))) ^ 0xFFFF;
    if (ranked != kept)
        return std::nullopt;
    // First weight in each word's highest byte.
    alignas(16) std::uint64_t words[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(words),
        _mm_shuffle_epi8(ranks, _mm_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8)));
    return lookedUpKey(words[0], words[1], beyond != 0, stop, left);
}
#pragma GCC pop_options
#endif

/// tieKey, sixteen bytes at a time: in one register where the machine has
/// one wide enough, else as two words.
TieKey keyOf(std::string_view text, std::size_t from, const TextUnicode::PlainCollation& plain)
{
    std::optional<TieKey> key;
#if VANTREL_X86_KERNELS
    const SearchKernel kernel = searchKernel();
    if (kernel == SearchKernel::avx512)
        key = wideTieKey(text, from, plain);
    else if (kernel == SearchKernel::avx2)
        key = quadTieKey(text, from, plain);
    else
#endif
        key = wordTieKey(text, from, plain);
    return key ? *key : tieKey(text, from, plain);
}

/// <0, 0 or >0 as the keys order their texts, or nullopt when only the
/// texts can tell.
std::optional<int> compareKeys(const TieKey& a, const TieKey& b)
{
    const std::size_t half = a.ranks[0] != b.ranks[0] ? 0 : 1;
    const std::uint64_t differ = a.ranks[half] ^ b.ranks[half];
    // The first weight that differs, counted from the start.
    const std::size_t first = differ == 0 ? TieKey::size : 8 * half + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
    if (first < std::min(a.known, b.known))
        return a.ranks[half] < b.ranks[half] ? -1 : 1;
    if (first == TieKey::size && a.complete && b.complete)
        return 0;
    return std::nullopt;
}

/// A TieKey kept in the words of a KeyWords, and taken out again.
KeyWords packed(const TieKey& key)
{
    return { key.ranks[0], key.ranks[1], std::uint64_t { key.known } | std::uint64_t { key.complete } << 8 };
}

TieKey unpacked(const KeyWords& words)
{
    TieKey key;
    key.ranks = { words[0], words[1] };
    key.known = static_cast<std::uint8_t>(words[2]);
    key.complete = (words[2] >> 8) != 0;
    return key;
}

/// A tied candidate of a plain run by its place in the run, with its
/// TieKey's weights.
struct RankedPlace {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::uint32_t place = 0;
    /// Its key's index among a stretch's (see order).
    std::uint32_t inStretch = 0;
};

/// Sorts by weights (high, then low), equal ones in any order (the caller
/// sorts them further). `other` is scratch.
void sortByWeights(std::vector<RankedPlace>& items, std::vector<RankedPlace>& other)
{
    sortByKeyBytes(items, other, 2 * sizeof(std::uint64_t),
        [](const RankedPlace& item, std::size_t b) {
            return static_cast<std::uint8_t>((b < 8 ? item.high : item.low) >> (56 - 8 * (b % 8)));
        },
        [](const RankedPlace& a, const RankedPlace& b) { return a.high != b.high ? a.high < b.high : a.low < b.low; });
}

/// The working arrays of one ordering (see Reused).
struct OrderScratch {
    std::vector<std::uint64_t> keys, otherKeys;
    /// For sortByFewScores: its table, each candidate's entry, each entry's
    /// count, and the entries in key order.
    std::vector<std::uint16_t> scoreTable, scoreEntries, scoreOrder;
    std::vector<std::uint32_t> scoreCounts;
    std::vector<Scored> otherScored;
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    /// Per run: how it is sorted, and for plain runs the bytes its texts share.
    std::vector<std::uint8_t> runKinds;
    std::vector<std::size_t> shared;
    /// By slot: the tied candidate's run (or none), index, text, whether
    /// plain collation covers it, and its key.
    std::vector<std::uint32_t> runOf, indexOf;
    std::vector<std::string_view> texts;
    std::vector<std::uint8_t> plain;
    std::vector<KeyWords> slotKeys;
    /// By slot, where its key's words stopped and how many bytes of its
    /// first words and its next words are certain; by place, where a keyed
    /// candidate's first words differ from those of the one before it
    /// (keyBytes: nowhere), and then keyBytes more where its next ones do.
    std::vector<TextUnicode::KeyResume> resumes;
    std::vector<std::uint8_t> certainFirst, certainNext;
    std::vector<std::uint8_t> differsAt;
};

/// The score as an unsigned key that orders best first: doubles order as
/// their bits once negative ones are flipped (both zeros count as +0).
inline std::uint64_t bestFirstKey(double score)
{
    const auto bits = std::bit_cast<std::uint64_t>(score == 0 ? 0.0 : score);
    const std::uint64_t ascending = (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t { 1 } << 63);
    return ~ascending;
}

/// sortBestFirst where there are at most half as many distinct scores as
/// candidates (1024 in any case; 65534, what a table place holds, at most),
/// as where many candidates tie: each is moved once, straight to its place,
/// rather than once per byte its scores differ in. False, with nothing
/// moved, for more distinct scores.
bool sortByFewScores(std::vector<Scored>& scored, OrderScratch& scratch)
{
    const std::size_t most = std::clamp<std::size_t>(scored.size() / 2, 1024, 65534);
    // Distinct keys by open addressing, in a table at least twice as large
    // as their number can be; their entries (in the order found), and how
    // many candidates have each.
    const std::size_t tableSize = std::bit_ceil(2 * std::min(scored.size(), most));
    const int shift = 64 - std::countr_zero(tableSize);
    auto& table = scratch.scoreTable;
    table.assign(tableSize, 0);
    auto& keys = scratch.keys;
    auto& counts = scratch.scoreCounts;
    keys.clear();
    counts.clear();
    auto& entries = scratch.scoreEntries;
    entries.resize(scored.size());
    for (std::size_t k = 0; k < scored.size(); ++k) {
        const std::uint64_t key = bestFirstKey(scored[k].score);
        // A table place holds its key's entry plus one, 0 when free.
        std::size_t at = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift);
        while (table[at] != 0 && keys[table[at] - 1] != key)
            at = (at + 1) & (tableSize - 1);
        if (table[at] == 0) {
            if (keys.size() == most)
                return false;
            keys.push_back(key);
            counts.push_back(0);
            table[at] = static_cast<std::uint16_t>(keys.size());
        }
        entries[k] = static_cast<std::uint16_t>(table[at] - 1);
        ++counts[entries[k]];
    }
    // Each entry's first place, the keys taken in ascending order.
    auto& order = scratch.scoreOrder;
    order.resize(keys.size());
    for (std::size_t e = 0; e < keys.size(); ++e)
        order[e] = static_cast<std::uint16_t>(e);
    std::sort(order.begin(), order.end(), [&](std::uint16_t a, std::uint16_t b) { return keys[a] < keys[b]; });
    std::uint32_t offset = 0;
    for (const std::uint16_t e : order)
        offset += std::exchange(counts[e], offset);
    std::vector<Scored>& other = scratch.otherScored;
    other.resize(scored.size());
    for (std::size_t k = 0; k < scored.size(); ++k)
        other[counts[entries[k]]++] = scored[k];
    scored.swap(other);
    return true;
}

/// Sorts best first, equal scores keeping their current order. A stable
/// radix sort on bestFirstKey, a byte per pass; a pass whose byte is the
/// same in every key moves nothing and is skipped, so the few bytes that
/// scores of similar size differ in decide the cost.
void sortBestFirst(std::vector<Scored>& scored, OrderScratch& scratch)
{
    const std::size_t n = scored.size();
    if (n < 256) {
        std::stable_sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) { return a.score > b.score; });
        return;
    }
    if (sortByFewScores(scored, scratch))
        return;
    std::vector<std::uint64_t>& keys = scratch.keys;
    keys.resize(n);
    std::array<std::array<std::uint32_t, 256>, 8> counts {};
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint64_t key = bestFirstKey(scored[k].score);
        keys[k] = key;
        for (std::size_t b = 0; b < 8; ++b)
            ++counts[b][(key >> (8 * b)) & 0xFF];
    }
    std::vector<Scored>& otherScored = scratch.otherScored;
    std::vector<std::uint64_t>& otherKeys = scratch.otherKeys;
    otherScored.resize(n);
    otherKeys.resize(n);
    for (std::size_t b = 0; b < 8; ++b) {
        auto& count = counts[b];
        if (count[(keys[0] >> (8 * b)) & 0xFF] == n)
            continue;
        std::uint32_t offset = 0;
        for (auto& c : count)
            offset += std::exchange(c, offset);
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint32_t to = count[(keys[k] >> (8 * b)) & 0xFF]++;
            otherScored[to] = scored[k];
            otherKeys[to] = keys[k];
        }
        scored.swap(otherScored);
        keys.swap(otherKeys);
    }
}

/// Threads kept from one forChunks to the next, as serial queues. Starting
/// a thread costs tens of microseconds, which a ranking of ten thousand
/// texts that starts one per step would pay several times over; a kept
/// thread also keeps its thread-local tables (the primary collator, the
/// narrowing classes). One caller at a time: another, or a ranking inside a
/// ranking, finds them busy and starts threads of its own.
class Workers {
public:
    /// Runs job(k) for k in [1, chunks) on kept threads, started as needed,
    /// and job(0) on the caller's, returning once all are done; false, with
    /// nothing run, when another caller has the threads.
    bool run(unsigned chunks, const std::function<void(unsigned)>& job)
    {
        // (A flag, not a mutex: the caller's own job may rank again.)
        if (busy_.exchange(true, std::memory_order_acquire))
            return false;
        const Release release { busy_ };
        startThreads(chunks);
        // The others are waited for even if the caller's job throws: theirs
        // refer to the caller's frame.
        std::latch done(chunks - 1);
        struct Wait {
            std::latch& done;
            ~Wait() { done.wait(); }
        } wait { done };
        for (unsigned k = 1; k < chunks; ++k) {
            try {
                queues_[k - 1]->async([&job, &done, k] {
                    job(k);
                    done.count_down();
                });
            } catch (...) {
                done.count_down(chunks - k);
                throw;
            }
        }
        job(0);
        return true;
    }

    /// Starts the threads that run() would start for `chunks`, unless
    /// another caller has them; returns at once.
    void prepare(unsigned chunks)
    {
        if (busy_.exchange(true, std::memory_order_acquire))
            return;
        const Release release { busy_ };
        startThreads(chunks);
    }

private:
    /// Hands the threads back, also when starting one failed.
    struct Release {
        std::atomic<bool>& busy;
        ~Release() { busy.store(false, std::memory_order_release); }
    };

    void startThreads(unsigned chunks)
    {
        while (queues_.size() + 1 < chunks)
            queues_.push_back(std::make_unique<ThreadSerialQueue>("ranking"));
    }

    std::atomic<bool> busy_ { false };
    /// Only the caller holding `busy_` touches these.
    std::vector<std::unique_ptr<ThreadSerialQueue>> queues_;
};

/// The process's kept threads, never destroyed: they wait until the
/// process ends.
Workers& workers()
{
    static Workers* const kept = new Workers;
    return *kept;
}

} // namespace

void forChunks(std::size_t count, unsigned chunks, const std::function<void(unsigned, std::size_t, std::size_t)>& body)
{
    if (chunks <= 1) {
        body(0, 0, count);
        return;
    }
    auto bound = [&](unsigned chunk) { return count * chunk / chunks; };
    const std::function<void(unsigned)> job = [&](unsigned chunk) { body(chunk, bound(chunk), bound(chunk + 1)); };
    if (workers().run(chunks, job))
        return;
    std::vector<std::thread> threads;
    threads.reserve(chunks - 1);
    for (unsigned chunk = 1; chunk < chunks; ++chunk)
        threads.emplace_back(job, chunk);
    job(0);
    for (auto& thread : threads)
        thread.join();
}

std::size_t piecesFor(unsigned threads)
{
    return threads <= 1 ? 1 : std::size_t { 8 } * threads;
}

void forPieces(std::size_t count, unsigned threads,
    const std::function<void(unsigned thread, std::size_t piece, std::size_t, std::size_t)>& body)
{
    const std::size_t pieces = piecesFor(threads);
    std::atomic<std::size_t> next { 0 };
    forChunks(threads, threads, [&](unsigned thread, std::size_t, std::size_t) {
        for (std::size_t piece; (piece = next.fetch_add(1, std::memory_order_relaxed)) < pieces;)
            body(thread, piece, count * piece / pieces, count * (piece + 1) / pieces);
    });
}

namespace {
/// `threads`, or where it is 0 the machine's.
unsigned threadsOrMachine(unsigned threads)
{
    return threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
}
} // namespace

unsigned threadsFor(std::size_t count, unsigned threads)
{
    threads = threadsOrMachine(threads);
    const std::size_t useful = std::max<std::size_t>(1, count / minimumPerThread);
    return static_cast<unsigned>(std::min<std::size_t>(threads, useful));
}

void order(std::vector<Scored>& scored, const TiebreakText& tiebreak, bool ownsTexts, unsigned threads)
{
    Reused<OrderScratch> reused;
    OrderScratch& scratch = *reused;
    // Candidates arrive in input order, so a stable sort by score alone
    // leaves equal scores in input order.
    sortBestFirst(scored, scratch);

    // Runs of exactly equal scores are ordered by collation; only their
    // members need their texts.
    auto& runs = scratch.runs;
    runs.clear();
    std::size_t tiedCount = 0;
    for (std::size_t begin = 0; begin < scored.size();) {
        std::size_t end = begin + 1;
        while (end < scored.size() && scored[end].score == scored[begin].score)
            ++end;
        if (end - begin > 1) {
            runs.emplace_back(begin, end);
            tiedCount += end - begin;
        }
        begin = end;
    }
    if (runs.empty())
        return;

    const unsigned chunks = std::max(1u, tiedCount >= minimumPerThread ? threads : 1);
    const std::size_t n = scored.size();
    constexpr std::uint32_t noRun = std::numeric_limits<std::uint32_t>::max();
    auto& runOf = scratch.runOf;
    auto& indexOf = scratch.indexOf;
    runOf.assign(n, noRun);
    indexOf.resize(n);
    for (std::size_t r = 0; r < runs.size(); ++r)
        for (std::size_t k = runs[r].first; k < runs[r].second; ++k) {
            runOf[scored[k].slot] = static_cast<std::uint32_t>(r);
            indexOf[scored[k].slot] = scored[k].index;
        }

    // Texts the plain collation covers are compared without the collator.
    // The tied texts are fetched and looked at by slot, that is in input
    // order, in one pass through memory rather than from all over.
    const TextUnicode::PlainCollation* plainOrder = TextUnicode::plainCollation();
    auto& texts = scratch.texts;
    auto& plain = scratch.plain;
    texts.resize(n);
    plain.resize(n);
    std::vector<std::string> storage(ownsTexts ? n : 0);
    forChunks(n, chunks, [&](unsigned, std::size_t from, std::size_t to) {
        std::string own; // for a tiebreak that views its texts: unused
        // Once a long run has a text that plain collation does not cover,
        // its keys decide (see below): its other texts are not looked at.
        std::vector<std::uint8_t> keyed(runs.size(), 0);
        for (std::size_t slot = from; slot < to; ++slot) {
            const std::uint32_t r = runOf[slot];
            if (r == noRun)
                continue;
            texts[slot] = tiebreak(indexOf[slot], ownsTexts ? storage[slot] : own);
            plain[slot] = keyed[r] == 0 && plainOrder != nullptr && plainOrder->covers(texts[slot]);
            if (plain[slot] == 0 && runs[r].second - runs[r].first > shortRunLength)
                keyed[r] = 1;
        }
    });

    auto collated = [&](const Scored& a, const Scored& b) {
        const int order = plain[a.slot] && plain[b.slot] ? plainOrder->compare(texts[a.slot], texts[b.slot])
                                                         : TextUnicode::compareLocalized(texts[a.slot], texts[b.slot]);
        return order != 0 ? order < 0 : a.index < b.index;
    };

    // Whether [begin, end) is in `collated` order, where `known(it)` says
    // whether the keys show *it and the one after it in that order. The
    // texts are read in that order, from all over memory: those a few
    // places ahead are asked for early.
    auto sortedByCollation = [&](std::vector<Scored>::iterator begin, std::vector<Scored>::iterator end, auto known) {
        constexpr std::ptrdiff_t ahead = 8;
        for (auto it = begin; it + 1 < end; ++it) {
            if (end - it > 2 * ahead)
                __builtin_prefetch(&texts[(it + 2 * ahead)->slot]);
            if (end - it > ahead)
                __builtin_prefetch(texts[(it + ahead)->slot].data());
            if (!known(it) && collated(it[1], it[0]))
                return false;
        }
        return true;
    };

    // Runs that need the collator for no pair are sorted by TieKey, the
    // texts deciding only what the keys cannot. Other short runs are sorted
    // with `collated` alone. In the other long runs each candidate gets an
    // approximate collation key, the first 24 bytes of its characters'
    // primary weights (the rest decide too seldom to pay for); the run is
    // sorted by key (the next 24 bytes, then `collated`, decide equal keys),
    // then `collated` checks each neighbouring pair, which in a total order
    // proves the whole run sorted.
    // A run where a contraction made the keys mislead is sorted by
    // `collated` alone.
    enum RunKind : std::uint8_t { plainRun, shortRun, keyedRun };
    auto& kinds = scratch.runKinds;
    auto& shared = scratch.shared;
    kinds.resize(runs.size());
    shared.assign(runs.size(), 0);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const auto begin = scored.begin() + static_cast<std::ptrdiff_t>(runs[r].first);
        const auto end = scored.begin() + static_cast<std::ptrdiff_t>(runs[r].second);
        if (std::all_of(begin, end, [&](const Scored& entry) { return plain[entry.slot] != 0; })) {
            kinds[r] = plainRun;
            // Tied texts often share a long beginning (the same
            // application, the same folder), which decides nothing: the
            // keys start after it. Where that is inside a character, every
            // key stops at once and the texts decide.
            const std::string_view head = texts[begin->slot];
            std::size_t same = head.size();
            for (auto it = begin + 1; it != end && same > 0; ++it)
                same = TextUnicode::commonPrefixBytes(head.substr(0, same), texts[it->slot]);
            shared[r] = same;
        } else {
            kinds[r] = end - begin <= static_cast<std::ptrdiff_t>(shortRunLength) ? shortRun : keyedRun;
        }
    }
    // A text's first byte is seldom in the cache: those a few slots ahead
    // are asked for early.
    constexpr std::size_t textsAhead = 8;
    auto prefetchText = [&](std::size_t slot, std::size_t to) {
        if (slot + textsAhead < to && runOf[slot + textsAhead] != noRun)
            __builtin_prefetch(texts[slot + textsAhead].data());
    };
    // The keys too are made by slot.
    auto& slotKeys = scratch.slotKeys;
    auto& resumes = scratch.resumes;
    auto& certainFirst = scratch.certainFirst;
    auto& certainNext = scratch.certainNext;
    slotKeys.resize(n);
    resumes.resize(n);
    certainFirst.resize(n);
    certainNext.resize(n);
    forChunks(n, chunks, [&](unsigned, std::size_t from, std::size_t to) {
        std::string bytes;
        for (std::size_t slot = from; slot < to; ++slot) {
            const std::uint32_t r = runOf[slot];
            if (r == noRun || kinds[r] == shortRun)
                continue;
            prefetchText(slot, to);
            slotKeys[slot] = kinds[r] == plainRun ? packed(keyOf(texts[slot], shared[r], *plainOrder))
                                                  : keyWords(texts[slot], bytes, {}, resumes[slot], certainFirst[slot]);
        }
    });

    // Runs are independent: each chunk of runs is sorted on its own thread,
    // with its own buffers (shared ones would have the threads writing to
    // the same cache lines).
    auto& differsAt = scratch.differsAt;
    differsAt.assign(n, 0);
    // Each thread takes consecutive runs whose weights (`weight(r)`, the
    // candidates it will work on) add up to about as much as the others':
    // a few long runs often hold most candidates.
    auto forBalancedRuns = [&](auto weight, const auto& body) {
        std::size_t total = 0;
        for (std::size_t r = 0; r < runs.size(); ++r)
            total += weight(r);
        const unsigned parts = total == 0 ? 1 : chunks;
        std::vector<std::size_t> bounds(parts + 1, runs.size());
        bounds[0] = 0;
        std::size_t sum = 0;
        for (std::size_t r = 0, part = 1; r < runs.size() && part < parts; ++r) {
            sum += weight(r);
            for (; part < parts && sum * parts >= total * part; ++part)
                bounds[part] = r + 1;
        }
        forChunks(parts, parts, [&](unsigned part, std::size_t, std::size_t) { body(bounds[part], bounds[part + 1]); });
    };
    auto length = [&](std::size_t r) { return runs[r].second - runs[r].first; };
    forBalancedRuns(length, [&](std::size_t from, std::size_t to) {
        std::vector<Keyed> keys, otherKeys;
        std::vector<TieKey> tieKeys;
        std::vector<Scored> entries;
        std::vector<RankedPlace> places, otherPlaces, stretch;
        std::vector<TieKey> stretchKeys;
        for (std::size_t r = from; r < to; ++r) {
            const auto begin = scored.begin() + static_cast<std::ptrdiff_t>(runs[r].first);
            const auto end = scored.begin() + static_cast<std::ptrdiff_t>(runs[r].second);
            if (kinds[r] == plainRun) {
                // The keys stay where they were put; the sorts move their
                // places and weights only.
                tieKeys.clear();
                entries.assign(begin, end);
                places.clear();
                for (std::size_t k = 0; k < entries.size(); ++k) {
                    tieKeys.push_back(unpacked(slotKeys[entries[k].slot]));
                    places.push_back({ tieKeys.back().ranks[0], tieKeys.back().ranks[1], static_cast<std::uint32_t>(k) });
                }
                auto textOf = [&](const RankedPlace& x) { return texts[entries[x.place].slot]; };
                auto exactly = [&](const RankedPlace& x, const RankedPlace& y) {
                    const std::uint32_t a = x.place;
                    const std::uint32_t b = y.place;
                    const std::optional<int> byKeys = compareKeys(tieKeys[a], tieKeys[b]);
                    const int order = byKeys ? *byKeys : plainOrder->compare(textOf(x), textOf(y));
                    return order != 0 ? order < 0 : entries[a].index < entries[b].index;
                };
                auto inStretch = [&](const RankedPlace& x, const RankedPlace& y) {
                    const std::optional<int> byKeys = compareKeys(stretchKeys[x.inStretch], stretchKeys[y.inStretch]);
                    const int order = byKeys ? *byKeys : plainOrder->compare(textOf(x), textOf(y));
                    return order != 0 ? order < 0 : entries[x.place].index < entries[y.place].index;
                };
                // Sorted by weights alone, then each stretch of equal ones
                // by `sortStretch`, the order is `before`'s wherever the
                // keys know the weights where neighbours of two stretches
                // first differ; where they stop short the texts are asked,
                // and all are sorted by `before` if a pair is out of order.
                auto sortInStretches = [&](std::vector<RankedPlace>& items, const auto& before, const auto& sortStretch) {
                    sortByWeights(items, otherPlaces);
                    bool sorted = true;
                    for (auto first = items.begin(); first != items.end();) {
                        auto last = first + 1;
                        while (last != items.end() && last->high == first->high && last->low == first->low)
                            ++last;
                        if (last - first > 1)
                            sortStretch(first, last);
                        if (first != items.begin() && before(*first, first[-1]))
                            sorted = false;
                        first = last;
                    }
                    if (!sorted)
                        std::sort(items.begin(), items.end(), before);
                };
                // A stretch's texts mostly share more than the run's do:
                // keys from where they part order it the same way (texts
                // alike so far compare as what follows), and it is sorted by
                // them as the run is.
                auto sortStretch = [&](std::vector<RankedPlace>::iterator first, std::vector<RankedPlace>::iterator last) {
                    const std::string_view head = textOf(*first);
                    std::size_t same = head.size();
                    for (auto it = first + 1; it != last && same > shared[r]; ++it)
                        same = TextUnicode::commonPrefixBytes(head.substr(0, same), textOf(*it));
                    if (same <= shared[r]) {
                        std::sort(first, last, exactly);
                        return;
                    }
                    stretch.assign(first, last);
                    stretchKeys.clear();
                    for (RankedPlace& x : stretch) {
                        stretchKeys.push_back(keyOf(textOf(x), same, *plainOrder));
                        x.high = stretchKeys.back().ranks[0];
                        x.low = stretchKeys.back().ranks[1];
                        x.inStretch = static_cast<std::uint32_t>(stretchKeys.size() - 1);
                    }
                    sortInStretches(stretch, inStretch, [&](auto from, auto to) { std::sort(from, to, inStretch); });
                    std::copy(stretch.begin(), stretch.end(), first);
                };
                sortInStretches(places, exactly, sortStretch);
                std::transform(places.begin(), places.end(), begin, [&](const RankedPlace& k) { return entries[k.place]; });
                continue;
            }
            if (kinds[r] == shortRun) {
                std::sort(begin, end, collated);
                continue;
            }
            keys.clear();
            for (auto it = begin; it != end; ++it)
                keys.push_back({ slotKeys[it->slot], *it });
            sortByKeyWords(keys, otherKeys);
            std::transform(keys.begin(), keys.end(), begin, [](const Keyed& k) { return k.entry; });
            for (std::size_t k = 1; k < keys.size(); ++k)
                differsAt[runs[r].first + k] = static_cast<std::uint8_t>(firstDifference(keys[k - 1].key, keys[k].key));
        }
    });

    // Texts whose keys begin alike (the same first word, in a script that
    // spends two or three key bytes a letter) get the key's next words, by
    // slot again, and are ordered by them and only then by the collator.
    std::vector<std::uint8_t> needsMore(n, 0);
    bool any = false;
    for (std::size_t k = 1; k < n; ++k)
        if (differsAt[k] == keyBytes) {
            needsMore[scored[k - 1].slot] = needsMore[scored[k].slot] = 1;
            any = true;
        }
    if (any)
        forChunks(n, chunks, [&](unsigned, std::size_t from, std::size_t to) {
            std::string bytes;
            for (std::size_t slot = from; slot < to; ++slot)
                if (needsMore[slot] != 0) {
                    const TextUnicode::KeyResume at = resumes[slot];
                    slotKeys[slot] = keyWords(texts[slot], bytes, at, resumes[slot], certainNext[slot]);
                }
        });
    // Where neighbours' keys first differ in bytes certain in both, the
    // keys order them as the collator would, which need not be asked. (Next
    // words count only where all of both first words are certain.)
    auto known = [&](std::vector<Scored>::iterator it) {
        const std::size_t at = differsAt[static_cast<std::size_t>(it + 1 - scored.begin())];
        const std::uint32_t a = it[0].slot;
        const std::uint32_t b = it[1].slot;
        if (at < keyBytes)
            return at < std::min(certainFirst[a], certainFirst[b]);
        return at < 2 * keyBytes && std::min(certainFirst[a], certainFirst[b]) >= keyBytes
            && at - keyBytes < std::min(certainNext[a], certainNext[b]);
    };
    forBalancedRuns([&](std::size_t r) { return kinds[r] == keyedRun ? length(r) : 0; }, [&](std::size_t from, std::size_t to) {
        std::vector<Keyed> keys;
        auto byKeyThenCollated = [&](const Keyed& a, const Keyed& b) {
            return byKey(a, b) || (!byKey(b, a) && collated(a.entry, b.entry));
        };
        for (std::size_t r = from; r < to; ++r) {
            if (kinds[r] != keyedRun)
                continue;
            const auto begin = scored.begin() + static_cast<std::ptrdiff_t>(runs[r].first);
            const auto end = scored.begin() + static_cast<std::ptrdiff_t>(runs[r].second);
            for (std::size_t first = runs[r].first; first < runs[r].second;) {
                std::size_t last = first + 1;
                while (last < runs[r].second && differsAt[last] >= keyBytes)
                    ++last;
                if (last - first > 1) {
                    keys.clear();
                    for (std::size_t k = first; k < last; ++k)
                        keys.push_back({ slotKeys[scored[k].slot], scored[k] });
                    std::sort(keys.begin(), keys.end(), byKeyThenCollated);
                    std::transform(keys.begin(), keys.end(), scored.begin() + static_cast<std::ptrdiff_t>(first),
                        [](const Keyed& k) { return k.entry; });
                    for (std::size_t k = 1; k < keys.size(); ++k)
                        differsAt[first + k] = static_cast<std::uint8_t>(keyBytes + firstDifference(keys[k - 1].key, keys[k].key));
                }
                first = last;
            }
            if (!sortedByCollation(begin, end, known))
                std::sort(begin, end, collated);
        }
    });
}

} // namespace vantrel::SearchRanker::detail

namespace vantrel::SearchRanker {

void prepareThreads(unsigned threads)
{
    detail::workers().prepare(detail::threadsOrMachine(threads));
}

} // namespace vantrel::SearchRanker
