// What the files of TextUnicode share among themselves: the ASCII case
// tables, the fast ASCII scan, UTF-16 conversion and the per-block cache
// of which scalars change when lower-cased.
#pragma once

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
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

/// The scalar beyond ASCII (or ill-formed sequence, U+FFFD) at `at`, which
/// moves past it. Two- and three-byte sequences that cannot be ill-formed
/// (most letters beyond Latin, CJK, punctuation) are decoded inline; the
/// rest by ICU.
inline char32_t nextBeyondAscii(const uint8_t*& at, const uint8_t* end)
{
    char32_t c = 0;
    const uint8_t lead = at[0];
    const std::ptrdiff_t left = end - at;
    auto continues = [at](int k) { return (at[k] & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF && left >= 2 && continues(1)) {
        c = (lead & 0x1Fu) << 6 | (at[1] & 0x3Fu);
        at += 2;
    } else if (lead >= 0xE1 && lead <= 0xEF && lead != 0xED && left >= 3 && continues(1) && continues(2)) {
        c = (lead & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
        at += 3;
    } else {
        int32_t i = 0;
        UChar32 scalar;
        U8_NEXT_OR_FFFD(at, i, static_cast<int32_t>(left), scalar);
        c = static_cast<char32_t>(scalar);
        at += i;
    }
    return c;
}

void appendUtf16(char32_t c, std::u16string& out);
std::u16string toUtf16(std::u32string_view text);
std::u32string fromUtf16(std::u16string_view text);

using LowercaseChanges = std::bitset<256>;

/// Which of the 256 scalars from (c & ~0xFF) change when lower-cased, c at
/// most U+FFFF (TextCase.cpp).
const LowercaseChanges& lowercaseChanges(char32_t c);

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

} // namespace vantrel::TextUnicode::detail
