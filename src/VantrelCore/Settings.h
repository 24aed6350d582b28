// The complete user configuration as one value, with its defaults and the
// list filters it defines.
#pragma once

#include "VantrelCore/FastSearch.h"
#include "VantrelCore/Hasher.h"
#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/RawValue.h"
#include "VantrelCore/Rules.h"
#include "VantrelCore/WindowInfo.h"

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// Which windows a switcher lists.
enum class SwitcherScope { allApps, activeApp };
/// Placement of minimized windows or windows of hidden applications.
enum class WindowFilter { show, bottom, hide };
/// Which Spaces' windows to list.
enum class SpacesFilter { allSpaces, visibleAndFullscreen, visibleSpaces };
/// The panels' look.
enum class AppearanceMode { system, light, dark };
/// Where the switcher panel appears.
enum class PanelDisplayMode { activeDisplay, allDisplays };

template <>
struct EnumCases<SwitcherScope> {
    static constexpr std::array values{SwitcherScope::allApps, SwitcherScope::activeApp};
};
template <>
struct EnumCases<WindowFilter> {
    static constexpr std::array values{WindowFilter::show, WindowFilter::bottom, WindowFilter::hide};
};
template <>
struct EnumCases<SpacesFilter> {
    static constexpr std::array values{SpacesFilter::allSpaces, SpacesFilter::visibleAndFullscreen,
                                       SpacesFilter::visibleSpaces};
};
template <>
struct EnumCases<AppearanceMode> {
    static constexpr std::array values{AppearanceMode::system, AppearanceMode::light, AppearanceMode::dark};
};
template <>
struct EnumCases<PanelDisplayMode> {
    static constexpr std::array values{PanelDisplayMode::activeDisplay, PanelDisplayMode::allDisplays};
};

/// The persisted names of the cases (equal to the case names).
std::string_view rawValue(SwitcherScope value);
std::string_view rawValue(WindowFilter value);
std::string_view rawValue(SpacesFilter value);
std::string_view rawValue(AppearanceMode value);
std::string_view rawValue(PanelDisplayMode value);

/// Labels offered in the settings window.
std::string_view displayName(SpacesFilter value);
std::string_view displayName(AppearanceMode value);
std::string_view displayName(PanelDisplayMode value);

/// One switcher: a hot-key pair with a scope.
struct SwitcherConfig {
    /// Stable identifier.
    std::string id;
    /// Label in the settings window.
    std::string name;
    /// Opens the switcher and moves the selection down.
    KeyChord activate;
    /// Moves the selection up while the switcher is open.
    std::optional<KeyChord> moveUp;
    SwitcherScope scope = SwitcherScope::allApps;
    /// Whether its hot keys are registered.
    bool isEnabled = true;

    /// ⌘Tab over all windows.
    static SwitcherConfig commandTab();
    /// ⌘ and the key above Tab over the frontmost application's windows.
    static SwitcherConfig commandGrave();
    /// ⌃⌥Tab over all windows.
    static SwitcherConfig controlOptionTab();

    /// Feeds every field in declaration order (moveUp behind a presence flag).
    void hash(Hasher& hasher) const;

    bool operator==(const SwitcherConfig&) const = default;
};

/// The user configuration. Default-constructed it equals the defaults.
struct Settings {
    /// The Space key's code.
    static constexpr std::uint32_t space = KeyCodes::space;

    std::vector<SwitcherConfig> switchers{SwitcherConfig::commandTab(), SwitcherConfig::commandGrave(),
                                          SwitcherConfig::controlOptionTab()};
    /// Delay between a switcher's hot key and the panel appearing.
    std::int64_t showDelayMilliseconds = 150;
    WindowFilter minimizedWindows = WindowFilter::bottom;
    WindowFilter hiddenApps = WindowFilter::bottom;
    /// The search panel's hot key; none for no hot key.
    std::optional<KeyChord> searchChord = KeyChord{space, KeyChord::control};
    /// Longest query recorded as a learned shortcut; 0 disables learning.
    std::int64_t learnedShortcutMaxLength = 3;
    /// Lets the search scorer skip one query character.
    bool allowOneMismatch = false;
    FastSearchModifier fastSearchModifier = FastSearchModifier::fn;
    SpacesFilter spacesFilter = SpacesFilter::allSpaces;
    PanelDisplayMode panelDisplayMode = PanelDisplayMode::activeDisplay;
    Rules rules;
    AppearanceMode appearance = AppearanceMode::system;
    /// Factor applied to the panels' text size.
    double textScale = 1.0;

    /// The defaults.
    static Settings defaults() { return {}; }

    /// Main list then the windows placed at the bottom, each in input order;
    /// windows set to hide are dropped. A minimized window follows
    /// `minimizedWindows` alone, even when its application is hidden.
    std::vector<WindowInfo> filter(std::span<const WindowInfo> windows) const;

    /// The windows on allowed Spaces (or on no known Space), in input order.
    std::vector<WindowInfo> spaceFilter(std::span<const WindowInfo> windows, const std::set<SpaceID>& visible,
                                        const std::set<SpaceID>& fullscreen) const;

    /// An enabled switcher's activate chord uses Command-Tab.
    bool replacesCommandTab() const;

    /// The search chord is control+Space or control+option+Space, the two
    /// system shortcuts that switch the input source.
    bool searchChordIsInputSourceShortcut() const;

    bool operator==(const Settings&) const = default;
};

} // namespace vantrel

/// Agrees with SwitcherConfig::hash.
template <>
struct std::hash<vantrel::SwitcherConfig> {
    std::size_t operator()(const vantrel::SwitcherConfig& config) const { return vantrel::hashValue(config); }
};
