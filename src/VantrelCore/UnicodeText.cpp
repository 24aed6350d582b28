// Case folding and lower-casing with ICU.
#include "VantrelCore/UnicodeText.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/unorm2.h>

namespace vantrel {

namespace {
icu::UnicodeString fromUTF8(std::string_view text)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}
} // namespace

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    icu::UnicodeString left = fromUTF8(a);
    icu::UnicodeString right = fromUTF8(b);
    UErrorCode status = U_ZERO_ERROR;
    std::int32_t order = unorm_compare(left.getBuffer(), left.length(), right.getBuffer(), right.length(),
                                       U_COMPARE_IGNORE_CASE | U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return left.caseCompare(right, U_FOLD_CASE_DEFAULT) == 0;
    return order == 0;
}

std::string lowercased(std::string_view text)
{
    icu::UnicodeString lower = fromUTF8(text);
    lower.toLower(icu::Locale::getRoot());
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) {
        icu::UnicodeString composed = nfc->normalize(lower, status);
        if (U_SUCCESS(status))
            lower = composed;
    }
    std::string result;
    lower.toUTF8String(result);
    return result;
}

} // namespace vantrel
