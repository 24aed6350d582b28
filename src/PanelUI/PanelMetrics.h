// The panels' numbers and texts as pure functions: heights, placement, footer and badge texts.
#pragma once

#include "VantrelCore/WindowInfo.h"

#include <QRect>
#include <QString>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantrel::PanelMetrics {

/// Both panels are this wide; their lists are inset 8 on each side.
inline constexpr int panelWidth = 600;
inline constexpr int listInset = 8;
/// Header and footer strips.
inline constexpr int headerHeight = 52;
inline constexpr int footerHeight = 38;
/// The vertical gap between rows.
inline constexpr int rowSpacing = 2;
/// Rows shown before the list scrolls.
inline constexpr int switcherVisibleRows = 14;
inline constexpr int searchVisibleRows = 12;
/// The search field: inset from the edges, from the top, and its height.
inline constexpr int fieldInset = 18;
inline constexpr int fieldTop = 12;
inline constexpr int fieldHeight = 28;

/// (rowHeight + 2) × rows + 106, rows clamped to 1 ... 14.
int switcherHeight(std::size_t rows, int rowHeight);
/// (rowHeight + 2) × rows + 98, rows clamped to 1 ... 12.
int searchHeight(std::size_t rows, int rowHeight);

/// The switcher panel's frame in `visible` (y down): centred horizontally,
/// its centre 10 % of the visible height above the visible centre; kept
/// inside `visible` where it fits.
QRect switcherFrame(const QRect& visible, int height);
/// The search panel's frame: centred horizontally, its top a quarter of the
/// visible height below the visible top; kept inside `visible` where it fits.
QRect searchFrame(const QRect& visible, int height);

/// "1 window", "0 windows", "12 windows  ·  3 Spaces" (the Spaces part only
/// from 2 desktops on).
QString footerSummary(std::size_t windowCount, std::size_t spaceCount);
/// The switcher's key hints, which depend on whether a query is typed.
QString switcherHints(bool queryEmpty);
/// The search panel's key hints.
QString searchHints();
/// The header's text when the query is empty.
QString searchPlaceholder();

/// The number of distinct desktops the rows are on (ids `spaceNumbers` does
/// not know are skipped); at least 1.
std::size_t distinctDesktops(const std::vector<WindowInfo>& items, const std::map<SpaceID, int>& spaceNumbers);
/// The desktop badge of a window on no visible desktop: the smallest desktop
/// number it is on; none for a window on a visible desktop or without Spaces.
std::optional<int> badgeNumber(const WindowInfo& window, const std::map<SpaceID, int>& spaceNumbers,
                               const std::set<SpaceID>& visibleSpaceIDs);
/// " Space 3 ".
QString badgeText(int number);

/// Text of a title or name for one line: invalid UTF-8 replaced, control
/// characters and line breaks turned into spaces, and cut at `maxChars`
/// (nobody reads further; it keeps eliding cheap).
QString singleLine(const std::string& text, int maxChars = 512);
/// A row's title: "▽ " before a minimized window's title.
QString rowTitle(const WindowInfo& window);
/// "App, Title", or the application name alone for an empty title.
QString accessibleLabel(const WindowInfo& window);

} // namespace vantrel::PanelMetrics
