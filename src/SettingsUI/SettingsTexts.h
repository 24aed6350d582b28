// The settings window's numbers and texts, as pure functions of the settings:
// slider ranges and steps, value labels, conditional captions, row texts.
#pragma once

#include "VantrelCore/Settings.h"

#include <QString>

#include <array>
#include <cstdint>
#include <string_view>

class QFontMetrics;

namespace vantrel::SettingsTexts {

/// One tab of the sidebar: its title and its freedesktop theme icon.
struct Tab {
    std::string_view title;
    std::string_view icon;
};
/// The tabs in sidebar order.
enum class TabID { switchers, panel, search, fastSearch, appearance, rules, general };
inline constexpr std::array<Tab, 7> tabs{{
    {"Switchers", "preferences-system-windows"},
    {"Panel", "video-display"},
    {"Search", "system-search"},
    {"Fast Search", "preferences-desktop-keyboard-shortcuts"},
    {"Appearance", "preferences-desktop-theme"},
    {"Rules", "preferences-system-privacy"},
    {"General", "preferences-system"},
}};

/// A slider over whole steps: the stored value is `offset + step × index`
/// (divided by `divisor`), index 0 … `steps`.
struct SliderScale {
    int offset;
    int step;
    int steps;
    int divisor = 1;

    /// The index showing `value`: clamped into the range, nearest step.
    int index(double value) const;
    /// The value of an index, which the slider never takes out of range.
    double value(int index) const;
    double minimum() const { return double(offset) / divisor; }
    double maximum() const { return double(offset + step * steps) / divisor; }
};
/// 0 … 500 ms in steps of 10.
inline constexpr SliderScale showDelay{0, 10, 50};
/// 0 … 5 characters in steps of 1.
inline constexpr SliderScale learnedLength{0, 1, 5};
/// 0.85 … 1.3 in steps of 0.05, kept in hundredths so every step is exact.
inline constexpr SliderScale textScale{85, 5, 9, 100};

/// "150 ms", of the value clamped into the slider's range.
QString showDelayLabel(std::int64_t milliseconds);
/// "Off" at 0, else "N chars", of the value clamped into 0 … 5.
QString learnedLengthLabel(std::int64_t length);
/// The whole percentage followed by "%", of the value clamped into range.
QString textScaleLabel(double scale);

/// Under the switchers: what becomes of the desktop's own shortcuts.
QString switchersCaption(const Settings& settings);
/// When the search chord is Ctrl+Space or Ctrl+Alt+Space (input methods
/// often hold these); empty otherwise.
QString inputSourceCaption(const Settings& settings);

/// Fast Search's captions, each empty when its condition does not hold.
struct FastSearchCaptions {
    QString always;
    /// The keyboard cannot be watched at all.
    QString cannotWatch;
    /// Caps Lock must be remapped first.
    QString capsLock;
    /// The chosen key never reaches X11 programs.
    QString unavailableKey;
};
FastSearchCaptions fastSearchCaptions(FastSearchModifier modifier, bool canWatchKeyboard, bool canHoldModifier);

/// A window-filter picker's label for `filter`.
QString windowFilterLabel(WindowFilter filter);
/// An ignore rule's row: the app, then "· title contains “pattern”" when it
/// has a pattern.
QString ruleText(const IgnoreRule& rule);
/// A switcher's toggle text: the name elided to `width` pixels of `metrics`
/// ("Unnamed switcher" for an empty name), with "&" kept literal.
QString switcherToggleText(const std::string& name, const QFontMetrics& metrics, int width);

} // namespace vantrel::SettingsTexts
