// The rows of both panels: one model listing the windows and one delegate painting the visible rows.
#pragma once

#include "PanelUI/PanelStyle.h"
#include "VantrelCore/WindowInfo.h"

#include <QAbstractListModel>
#include <QFont>
#include <QRect>
#include <QStyledItemDelegate>

#include <map>
#include <optional>
#include <set>
#include <vector>

namespace vantrel {

/// The windows in display order and the desktop facts their badges need.
class SwitcherRowModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setItems(std::vector<WindowInfo> items);
    const std::vector<WindowInfo>& items() const { return items_; }
    void setSpaces(std::map<SpaceID, int> spaceNumbers, std::set<SpaceID> visibleSpaceIDs);
    const std::map<SpaceID, int>& spaceNumbers() const { return spaceNumbers_; }
    const std::set<SpaceID>& visibleSpaceIDs() const { return visibleSpaceIDs_; }
    /// Whether rows carry desktop badges (the search panel's do not).
    bool showsBadges = true;

    /// The desktop badge of row `row`.
    std::optional<int> badge(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    /// Display and accessible text: "App, Title".
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<WindowInfo> items_;
    std::map<SpaceID, int> spaceNumbers_;
    std::set<SpaceID> visibleSpaceIDs_;
};

/// Where the parts of one row go.
struct RowLayout {
    QRect selection;
    QRect icon;
    QRect appLabel;
    QRect titleLabel;
    QRect badge;
    QRect returnGlyph;
    bool operator==(const RowLayout&) const = default;
};

/// The row's parts in `row` (y down, left to right): icon 20 × 20 at 8; the
/// application name 10 after it at its natural width (it gives way only when
/// nothing else is left); the title 8 after that up to 8 before the badge;
/// the return glyph 10 from the trailing edge and the badge 8 before it, at
/// least 58 wide. Hidden badge and glyph keep their place.
RowLayout rowLayout(const QRect& row, int appNameWidth, int badgeTextWidth, int glyphWidth);

/// Paints rows: the selection as a rounded accent fill, the icon, the
/// application name in semibold, the title, the badge and, on the selected
/// row of the switcher, the return glyph.
class SwitcherRowDelegate final : public QStyledItemDelegate {
public:
    SwitcherRowDelegate(const SwitcherRowModel& model, QObject* parent);

    /// Whether the selected row shows the return glyph.
    bool showsReturnGlyph = true;
    /// Re-reads the text scale and the theme.
    void applyStyle();

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const SwitcherRowModel& model_;
    PanelColors colors_;
    QFont appFont_;
    QFont titleFont_;
    QFont glyphFont_;
    QFont badgeFont_;
    int rowHeight_ = 30;
};

} // namespace vantrel

class QListView;

namespace vantrel {

/// The list both panels show their rows in: transparent, frameless, no
/// focus (keys come through the grab), one selected row, scrolling
/// vertically only, every row one delegate paint.
QListView* makeRowList(QWidget* parent, SwitcherRowModel* model, SwitcherRowDelegate* delegate);

/// Draws `window` once off screen with one placeholder row, then hides it
/// and empties `model`, so that the first real show paints at once.
void warmUpPanel(QWidget& window, SwitcherRowModel& model);

} // namespace vantrel
