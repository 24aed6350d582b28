// Case: ASCII tables taken from ICU once, lower-casing, and the letters
// that change when lower-cased.
#include "SearchKit/TextUnicode.h"
#include "SearchKit/TextUnicodeDetail.h"

#include <unicode/ustring.h>

namespace vantrel::TextUnicode {

using namespace detail;

namespace detail {

AsciiTables::AsciiTables()
{
    for (char32_t c = 0; c < 128; ++c) {
        lower[c] = static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
        lowercase[c] = u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_LOWERCASE);
        uppercase[c] = u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_UPPERCASE);
    }
}

const AsciiTables& asciiTables()
{
    static const AsciiTables tables;
    return tables;
}

bool basicChangesWhenLowercased(char32_t c)
{
    // 0 not asked yet, else 1 plus the answer.
    static BasicPlaneTable<std::uint8_t> answers;
    std::uint8_t answer = answers.get(c);
    if (answer == 0) {
        answer = 1 + static_cast<std::uint8_t>(u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_CHANGES_WHEN_LOWERCASED));
        answers.set(c, answer);
    }
    return answer == 2;
}

} // namespace detail

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

bool changesWhenLowercased(char32_t c)
{
    if (c < 128)
        return asciiTables().lower[c] != c;
    return beyondAsciiChangesWhenLowercased(c);
}

bool anyBeyondAsciiLowersIntoAscii(std::string_view utf8)
{
    // Only U+212A (E2 84 AA) and U+0130 (C4 B0), in Unicode's lower-case
    // mappings (the tests ask ICU about every scalar). The Kelvin sign is
    // looked for by its last two bytes, which a few other scalars share:
    // searching from E2 would stop at every dash.
    return utf8.find("\xC4\xB0") != std::string_view::npos || utf8.find("\x84\xAA") != std::string_view::npos;
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

} // namespace vantrel::TextUnicode
