// Vantrel's own icons, drawn from shapes: the tray's two stacked windows and its warning variant.
#pragma once

#include <QIcon>
#include <QImage>

namespace vantrel::AppIcons {

/// The theme names the icons are installed under in hicolor.
inline constexpr const char* normalName = "vantrel";
inline constexpr const char* warningName = "vantrel-warning";
/// The sizes installed and drawn.
inline constexpr int sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

/// Two overlapping window frames; with `warning`, an amber triangle with an
/// exclamation mark over the lower right. Transparent background.
QImage draw(int size, bool warning);

/// The installed theme icon, else the same icon drawn here.
QIcon icon(bool warning);

} // namespace vantrel::AppIcons
