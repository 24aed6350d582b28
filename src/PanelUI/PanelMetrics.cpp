// The panels' numbers and texts as pure functions: heights, placement, footer and badge texts.
#include "PanelUI/PanelMetrics.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace vantrel::PanelMetrics {
namespace {

int listHeight(std::size_t rows, std::size_t maxRows, int rowHeight)
{
    auto shown = static_cast<int>(std::clamp<std::size_t>(rows, 1, maxRows));
    return (rowHeight + rowSpacing) * shown;
}

// Moves `frame` vertically into `visible`; a frame taller than `visible`
// keeps its top on the visible top.
QRect keptInside(QRect frame, const QRect& visible)
{
    if (frame.bottom() > visible.bottom())
        frame.moveBottom(visible.bottom());
    if (frame.top() < visible.top())
        frame.moveTop(visible.top());
    return frame;
}

QString tr(const char* text) { return QCoreApplication::translate("Panels", text); }

} // namespace

int switcherHeight(std::size_t rows, int rowHeight)
{
    return listHeight(rows, switcherVisibleRows, rowHeight) + headerHeight + footerHeight + 2 * listInset;
}

int searchHeight(std::size_t rows, int rowHeight)
{
    return listHeight(rows, searchVisibleRows, rowHeight) + 74 + 2 * listInset + listInset;
}

QRect switcherFrame(const QRect& visible, int height)
{
    double centreX = visible.x() + visible.width() / 2.0;
    double centreY = visible.y() + visible.height() / 2.0;
    auto left = static_cast<int>(std::lround(centreX - panelWidth / 2.0));
    auto top = static_cast<int>(std::lround(centreY - height / 2.0 - 0.1 * visible.height()));
    return keptInside(QRect(left, top, panelWidth, height), visible);
}

QRect searchFrame(const QRect& visible, int height)
{
    double centreX = visible.x() + visible.width() / 2.0;
    auto left = static_cast<int>(std::lround(centreX - panelWidth / 2.0));
    auto top = static_cast<int>(std::lround(visible.y() + 0.25 * visible.height()));
    return keptInside(QRect(left, top, panelWidth, height), visible);
}

QString footerSummary(std::size_t windowCount, std::size_t spaceCount)
{
    QString summary = QString::number(windowCount) + (windowCount == 1 ? tr(" window") : tr(" windows"));
    if (spaceCount >= 2)
        summary += QStringLiteral("  ·  ") + QString::number(spaceCount) + tr(" Spaces");
    return summary;
}

QString switcherHints(bool queryEmpty)
{
    return queryEmpty ? tr("↑↓ move  ·  ⏎ switch  ·  type to search") : tr("↑↓ move  ·  ⏎ switch  ·  esc clear");
}

QString searchHints() { return tr("↑↓ move  ·  ⏎ switch  ·  esc close"); }

QString searchPlaceholder() { return tr("Search windows…"); }

std::size_t distinctDesktops(const std::vector<WindowInfo>& items, const std::map<SpaceID, int>& spaceNumbers)
{
    std::set<int> numbers;
    for (const auto& window : items)
        for (SpaceID space : window.spaceIDs)
            if (auto found = spaceNumbers.find(space); found != spaceNumbers.end())
                numbers.insert(found->second);
    return std::max<std::size_t>(numbers.size(), 1);
}

std::optional<int> badgeNumber(const WindowInfo& window, const std::map<SpaceID, int>& spaceNumbers,
                               const std::set<SpaceID>& visibleSpaceIDs)
{
    if (window.spaceIDs.empty())
        return std::nullopt;
    if (std::ranges::any_of(window.spaceIDs, [&](SpaceID space) { return visibleSpaceIDs.contains(space); }))
        return std::nullopt;
    std::optional<int> smallest;
    for (SpaceID space : window.spaceIDs)
        if (auto found = spaceNumbers.find(space); found != spaceNumbers.end())
            smallest = smallest ? std::min(*smallest, found->second) : found->second;
    return smallest;
}

QString badgeText(int number) { return tr(" Space ") + QString::number(number) + QStringLiteral(" "); }

QString singleLine(const std::string& text, int maxChars)
{
    QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(std::min(text.size(), std::size_t(4 * maxChars))));
    if (line.size() > maxChars)
        line.truncate(maxChars);
    // Don't leave half a surrogate pair at the cut.
    if (!line.isEmpty() && line.back().isHighSurrogate())
        line.chop(1);
    for (QChar& c : line) {
        ushort u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            c = QChar(u' ');
    }
    return line;
}

QString rowTitle(const WindowInfo& window)
{
    QString title = singleLine(window.title);
    return window.isMinimized ? QStringLiteral("▽ ") + title : title;
}

QString accessibleLabel(const WindowInfo& window)
{
    QString app = singleLine(window.appName);
    return window.title.empty() ? app : app + QStringLiteral(", ") + singleLine(window.title);
}

} // namespace vantrel::PanelMetrics
