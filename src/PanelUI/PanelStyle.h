// The panels' shared look: text scale, row metrics, fonts and the light and dark colours.
#pragma once

#include "VantrelCore/Settings.h"

#include <QColor>
#include <QFont>

#include <string_view>

namespace vantrel {

/// Light or dark, as the card is drawn.
enum class PanelTheme { light, dark };

/// The colour roles of a card. Translucent colours are for a composited
/// desktop; `window` is the opaque card without one.
struct PanelColors {
    QColor label;
    QColor secondaryLabel;
    QColor separator;
    QColor accent;
    QColor translucentCard;
    QColor window;
    bool operator==(const PanelColors&) const = default;
};

namespace PanelStyle {

/// Row height and row text size at scale 1.
inline constexpr int baseRowHeight = 30;
inline constexpr int baseRowFontSize = 14;

/// Rounds halves away from zero.
int roundPoints(double value);

/// round(scale × 30).
int rowHeight(double scale);
/// round(scale × 14).
int rowFontSize(double scale);

/// The process-wide text scale of the panels' rows; 1.0 at start. Panels
/// read it in `applyStyle` and when they show.
double textScale();
void setTextScale(double scale);

/// The process-wide appearance; `system` follows the desktop's palette.
AppearanceMode appearance();
void setAppearance(AppearanceMode mode);
/// The theme `mode` stands for; `system` follows `desktopPrefersDark` over
/// $GTK_THEME, the GTK 3 settings file and the application palette.
PanelTheme theme(AppearanceMode mode);
/// Whether the desktop asks for dark: `gtkTheme` ($GTK_THEME) names a dark
/// variant ("Adwaita:dark", "Arc-Dark"); else the GTK 3 `settings.ini` text
/// prefers a dark theme or names one; else the palette is dark.
bool desktopPrefersDark(std::string_view gtkTheme, std::string_view gtkSettings, bool darkPalette);

/// The colour roles of a theme.
PanelColors colors(PanelTheme theme);

/// The system font at `pixels` with `weight`.
QFont font(int pixels, QFont::Weight weight = QFont::Normal);
/// The monospaced system font at `pixels`.
QFont monospacedFont(int pixels);
/// Row fonts at the current text scale.
QFont rowFont();
QFont rowFontSemibold();

} // namespace PanelStyle
} // namespace vantrel
