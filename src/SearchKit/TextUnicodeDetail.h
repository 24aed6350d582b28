// What the files of TextUnicode share among themselves: the ASCII case
// tables, the fast ASCII scan, UTF-16 conversion, tables of answers per
// character for all threads, and which scalars change when lower-cased.
#pragma once

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel::TextUnicode::detail {

// ASCII answers are asked for on every character of every candidate; they are
// taken from ICU once so that the fast path cannot drift from the slow one.
struct AsciiTables {
    std::array<char32_t, 128> lower {};
    std::array<bool, 128> lowercase {};
    std::array<bool, 128> uppercase {};

    AsciiTables();
};

const AsciiTables& asciiTables();

/// The first index from `i` on whose byte is not ASCII, or `length`; many
/// bytes at a time, since most text is ASCII (TextAscii.cpp).
int32_t skipAscii(const uint8_t* bytes, int32_t i, int32_t length);

/// Decodes the sequence at `at` into `c` and moves past it where it takes
/// two or three bytes and cannot be ill-formed (most letters beyond Latin,
/// CJK, punctuation); false, nothing moved, for anything else.
inline bool nextTwoOrThreeBytes(const uint8_t*& at, const uint8_t* end, char32_t& c)
{
    const uint8_t lead = at[0];
    const std::ptrdiff_t left = end - at;
    auto continues = [at](int k) { return static_cast<uint8_t>(at[k] ^ 0x80) < 0x40; };
    if (lead >= 0xC2 && lead <= 0xDF && left >= 2 && continues(1)) {
        // 110xxxxx 10yyyyyy: both markers taken off at once.
        c = (char32_t { lead } << 6) + at[1] - 0x3080;
        at += 2;
        return true;
    }
    if (lead >= 0xE1 && lead <= 0xEF && lead != 0xED && left >= 3 && continues(1) && continues(2)) {
        c = (lead & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
        at += 3;
        return true;
    }
    return false;
}

/// The scalar beyond ASCII (or ill-formed sequence, U+FFFD) at `at`, which
/// moves past it: by nextTwoOrThreeBytes where it can, else by ICU.
inline char32_t nextBeyondAscii(const uint8_t*& at, const uint8_t* end)
{
    char32_t c = 0;
    if (nextTwoOrThreeBytes(at, end, c))
        return c;
    int32_t i = 0;
    UChar32 scalar;
    U8_NEXT_OR_FFFD(at, i, static_cast<int32_t>(end - at), scalar);
    at += i;
    return static_cast<char32_t>(scalar);
}

void appendUtf16(char32_t c, std::u16string& out);
std::u16string toUtf16(std::u32string_view text);
std::u32string fromUtf16(std::u16string_view text);

/// A value per character of the Basic Multilingual Plane, for all threads,
/// 0 until set: kept in blocks of 256 characters, each made when one of its
/// characters is first set. (A flat table in static memory costs far more
/// in a process that ranks once: each of its pages is first read as the
/// system's shared page of zeros, and the first write to it then has to
/// take that page back from every core the process runs on.) The blocks
/// last as long as the process, as a static table would: threads still
/// ranking while it exits may go on reading them.
template <class T>
class BasicPlaneTable {
public:
    BasicPlaneTable() = default;
    BasicPlaneTable(const BasicPlaneTable&) = delete;
    BasicPlaneTable& operator=(const BasicPlaneTable&) = delete;

    T get(char32_t c) const
    {
        const Block* block = blocks_[c >> 8].load(std::memory_order_acquire);
        return block != nullptr ? (*block)[c & 0xFF].load(std::memory_order_relaxed) : T {};
    }

    void set(char32_t c, T value)
    {
        std::atomic<Block*>& slot = blocks_[c >> 8];
        Block* block = slot.load(std::memory_order_acquire);
        if (block == nullptr) {
            // Another thread may make the block at the same time: one of
            // the two is kept.
            auto made = std::make_unique<Block>();
            if (slot.compare_exchange_strong(block, made.get(), std::memory_order_acq_rel))
                block = made.release();
        }
        (*block)[c & 0xFF].store(value, std::memory_order_relaxed);
    }

private:
    using Block = std::array<std::atomic<T>, 256>;
    std::array<std::atomic<Block*>, 256> blocks_ {};
};

/// changesWhenLowercased of a scalar of the Basic Multilingual Plane beyond
/// ASCII: asked of ICU (which lower-cases it to answer) once per process and
/// scalar, when it first turns up (TextCase.cpp).
bool basicChangesWhenLowercased(char32_t c);

/// changesWhenLowercased for scalars beyond ASCII, as asked of every
/// scalar of the texts scanned.
inline bool beyondAsciiChangesWhenLowercased(char32_t c)
{
    if (c > 0xFFFF)
        return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_CHANGES_WHEN_LOWERCASED);
    return basicChangesWhenLowercased(c);
}

} // namespace vantrel::TextUnicode::detail
