// Matching windows against ignore rules and the frontmost application against
// the pause list.
#include "VantrelCore/Rules.h"

#include "VantrelCore/UnicodeText.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <cctype>

namespace vantrel {

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
