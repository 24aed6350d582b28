// Application icons for the rows: the window's own, else its theme icon, else a generic one; cached per process.
#pragma once

#include "VantrelCore/WindowInfo.h"

#include <QIcon>
#include <QImage>

#include <functional>
#include <optional>

namespace vantrel::PanelIcons {

/// Where a process's own icon comes from; none when it has none.
using Source = std::function<std::optional<QImage>(ProcessID)>;

/// The icon of the window's application. Processes with an id of 1 or more
/// are looked up once: their own icon, else the theme icon named by the
/// bundle identifier (the desktop entry), else the generic icon; the result
/// is kept for the life of the process. Main thread only.
QIcon icon(const WindowInfo& window);
/// The generic application icon: the theme's, else a drawn one.
QIcon genericIcon();
/// Replaces the source of processes' own icons (the installed workspace
/// backend's by default) and forgets every cached icon.
void setSource(Source source);

} // namespace vantrel::PanelIcons
