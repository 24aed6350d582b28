// UTF conversion: UTF-8 to scalars and back, to UTF-16, and repair.
#include "SearchKit/TextUnicode.h"
#include "SearchKit/TextUnicodeDetail.h"

#include "Runtime/Utf8Repair.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>

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

} // namespace vantrel::TextUnicode
