// The window record's derived text and hashing.
#include "VantrelCore/WindowInfo.h"

namespace vantrel {

std::string WindowInfo::searchText() const
{
    if (title.empty())
        return appName;
    std::string text;
    text.reserve(appName.size() + 1 + title.size());
    text += appName;
    text += ' ';
    text += title;
    return text;
}

void WindowInfo::hash(Hasher& hasher) const
{
    hasher.combine(id);
    hasher.combine(pid);
    hasher.combine(bundleID.has_value());
    if (bundleID)
        hasher.combine(std::string_view(*bundleID));
    hasher.combine(std::string_view(appName));
    hasher.combine(std::string_view(title));
    hasher.combine(isMinimized);
    hasher.combine(isAppHidden);
    hasher.combine(spaceIDs.size());
    for (SpaceID space : spaceIDs)
        hasher.combine(space);
}

} // namespace vantrel
