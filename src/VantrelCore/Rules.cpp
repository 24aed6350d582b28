// Matching windows against ignore rules and the frontmost application against
// the pause list.
#include "VantrelCore/Rules.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/unorm2.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <cctype>

namespace vantrel {

namespace {

icu::UnicodeString fromUTF8(std::string_view text)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

/// Application names: full default case folding (ß matches "ss", the Turkish
/// dotted and dotless i stay distinct) and canonical equivalence.
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

/// Titles and patterns: locale-independent lower-casing, composed to NFC so
/// that byte comparison is character comparison.
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

} // namespace

bool IgnoreRule::matches(std::string_view appKey, std::string_view title) const
{
    if (!equalIgnoringCase(app, appKey))
        return false;
    if (!titlePattern || titlePattern->empty())
        return true;

    std::string_view pattern = *titlePattern;
    // Both anchors are decided on the pattern as stored, before either is cut.
    const bool anchoredStart = pattern.starts_with('^');
    const bool anchoredEnd = pattern.ends_with('$');
    if (anchoredStart)
        pattern.remove_prefix(1);
    if (anchoredEnd && !pattern.empty())
        pattern.remove_suffix(1);

    const std::string needle = lowercased(pattern);
    if (needle.empty())
        return true;
    const std::string haystack = lowercased(title);
    if (anchoredStart && anchoredEnd)
        return haystack == needle;
    if (anchoredStart)
        return haystack.starts_with(needle);
    if (anchoredEnd)
        return haystack.ends_with(needle);
    return haystack.find(needle) != std::string::npos;
}

std::string IgnoreRule::makeID()
{
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_lower(uuid, text);
    return text;
}

bool IgnoreRule::isValidID(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

void IgnoreRule::hash(Hasher& hasher) const
{
    hasher.combine(std::string_view(id));
    hasher.combine(std::string_view(app));
    hasher.combine(titlePattern.has_value());
    if (titlePattern)
        hasher.combine(std::string_view(*titlePattern));
}

bool Rules::isIgnored(const WindowInfo& window) const
{
    const std::string& identity = window.bundleID ? *window.bundleID : window.appName;
    return std::any_of(ignored.begin(), ignored.end(), [&](const IgnoreRule& rule) {
        return rule.matches(identity, window.title) || rule.matches(window.appName, window.title);
    });
}

std::vector<WindowInfo> Rules::apply(std::span<const WindowInfo> windows) const
{
    if (ignored.empty())
        return {windows.begin(), windows.end()};
    std::vector<WindowInfo> kept;
    kept.reserve(windows.size());
    for (const WindowInfo& window : windows) {
        if (!isIgnored(window))
            kept.push_back(window);
    }
    return kept;
}

bool Rules::shouldPause(const std::optional<std::string>& frontmostBundleID,
                        const std::optional<std::string>& frontmostName) const
{
    return std::any_of(pauseApps.begin(), pauseApps.end(), [&](const std::string& entry) {
        return (frontmostBundleID && equalIgnoringCase(entry, *frontmostBundleID))
            || (frontmostName && equalIgnoringCase(entry, *frontmostName));
    });
}

} // namespace vantrel
