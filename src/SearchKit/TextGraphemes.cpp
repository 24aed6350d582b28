// Characters as users see them: grapheme clusters, and trimming spaces.
#include "SearchKit/TextUnicode.h"
#include "SearchKit/TextUnicodeDetail.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>

namespace vantrel::TextUnicode {

using namespace detail;

namespace {

bool isTrimmable(UChar32 c)
{
    return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

} // namespace

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

} // namespace vantrel::TextUnicode
