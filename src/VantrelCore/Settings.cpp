// Settings defaults, enumeration names and the list filters.
#include "VantrelCore/Settings.h"

#include <algorithm>

namespace vantrel {

std::string_view rawValue(SwitcherScope value)
{
    return value == SwitcherScope::activeApp ? "activeApp" : "allApps";
}

std::string_view rawValue(WindowFilter value)
{
    switch (value) {
    case WindowFilter::show: return "show";
    case WindowFilter::bottom: return "bottom";
    case WindowFilter::hide: return "hide";
    }
    return "show";
}

std::string_view rawValue(SpacesFilter value)
{
    switch (value) {
    case SpacesFilter::allSpaces: return "allSpaces";
    case SpacesFilter::visibleAndFullscreen: return "visibleAndFullscreen";
    case SpacesFilter::visibleSpaces: return "visibleSpaces";
    }
    return "allSpaces";
}

std::string_view rawValue(AppearanceMode value)
{
    switch (value) {
    case AppearanceMode::system: return "system";
    case AppearanceMode::light: return "light";
    case AppearanceMode::dark: return "dark";
    }
    return "system";
}

std::string_view rawValue(PanelDisplayMode value)
{
    return value == PanelDisplayMode::allDisplays ? "allDisplays" : "activeDisplay";
}

std::string_view displayName(SpacesFilter value)
{
    switch (value) {
    case SpacesFilter::allSpaces: return "All Spaces";
    case SpacesFilter::visibleAndFullscreen: return "Visible + fullscreen Spaces";
    case SpacesFilter::visibleSpaces: return "Visible Spaces";
    }
    return "All Spaces";
}

std::string_view displayName(AppearanceMode value)
{
    switch (value) {
    case AppearanceMode::system: return "Match system";
    case AppearanceMode::light: return "Light";
    case AppearanceMode::dark: return "Dark";
    }
    return "Match system";
}

std::string_view displayName(PanelDisplayMode value)
{
    return value == PanelDisplayMode::allDisplays ? "All displays" : "Active display";
}

SwitcherConfig SwitcherConfig::commandTab()
{
    return {"cmd-tab", "⌘Tab — all windows", KeyChord{KeyChord::tab, KeyChord::command},
            KeyChord{KeyChord::tab, KeyChord::command | KeyChord::shift}, SwitcherScope::allApps, true};
}

SwitcherConfig SwitcherConfig::commandGrave()
{
    return {"cmd-grave", "⌘` — active app's windows", KeyChord{KeyChord::keyAboveTab, KeyChord::command},
            KeyChord{KeyChord::keyAboveTab, KeyChord::command | KeyChord::shift}, SwitcherScope::activeApp, true};
}

SwitcherConfig SwitcherConfig::controlOptionTab()
{
    return {"ctrl-opt-tab", "⌃⌥Tab — all windows", KeyChord{KeyChord::tab, KeyChord::control | KeyChord::option},
            KeyChord{KeyChord::tab, KeyChord::control | KeyChord::option | KeyChord::shift}, SwitcherScope::allApps,
            true};
}

void SwitcherConfig::hash(Hasher& hasher) const
{
    hasher.combine(std::string_view(id));
    hasher.combine(std::string_view(name));
    activate.hash(hasher);
    hasher.combine(moveUp.has_value());
    if (moveUp)
        moveUp->hash(hasher);
    hasher.combine(scope);
    hasher.combine(isEnabled);
}

std::vector<WindowInfo> Settings::filter(std::span<const WindowInfo> windows) const
{
    std::vector<WindowInfo> main;
    std::vector<WindowInfo> bottom;
    main.reserve(windows.size());
    for (const WindowInfo& window : windows) {
        std::optional<WindowFilter> mode;
        if (window.isMinimized)
            mode = minimizedWindows;
        else if (window.isAppHidden)
            mode = hiddenApps;
        if (!mode || *mode == WindowFilter::show)
            main.push_back(window);
        else if (*mode == WindowFilter::bottom)
            bottom.push_back(window);
    }
    main.insert(main.end(), std::make_move_iterator(bottom.begin()), std::make_move_iterator(bottom.end()));
    return main;
}

std::vector<WindowInfo> Settings::spaceFilter(std::span<const WindowInfo> windows, const std::set<SpaceID>& visible,
                                              const std::set<SpaceID>& fullscreen) const
{
    if (spacesFilter == SpacesFilter::allSpaces)
        return {windows.begin(), windows.end()};
    auto allowed = [&](SpaceID space) {
        return visible.contains(space)
            || (spacesFilter == SpacesFilter::visibleAndFullscreen && fullscreen.contains(space));
    };
    std::vector<WindowInfo> kept;
    for (const WindowInfo& window : windows) {
        if (window.spaceIDs.empty() || std::any_of(window.spaceIDs.begin(), window.spaceIDs.end(), allowed))
            kept.push_back(window);
    }
    return kept;
}

bool Settings::replacesCommandTab() const
{
    return std::any_of(switchers.begin(), switchers.end(),
                       [](const SwitcherConfig& s) { return s.isEnabled && s.activate.usesCommandTab(); });
}

bool Settings::searchChordIsInputSourceShortcut() const
{
    return searchChord && searchChord->keyCode == space
        && (searchChord->modifiers & ~KeyChord::option) == KeyChord::control;
}

} // namespace vantrel
