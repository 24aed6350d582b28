// The rows of both panels: one model listing the windows and one delegate painting the visible rows.
#include "PanelUI/SwitcherRows.h"

#include "PanelUI/PanelIcons.h"
#include "PanelUI/PanelMetrics.h"

#include <QPainter>
#include <QPainterPath>

namespace vantrel {
namespace {

constexpr int iconSide = 20;
constexpr int iconLeading = 8;
constexpr int appGap = 10;
constexpr int titleGap = 8;
constexpr int badgeGap = 8;
constexpr int glyphTrailing = 10;
constexpr int minimumBadgeWidth = 58;
constexpr int selectionRadius = 7;
const QString returnGlyph = QStringLiteral("⏎");

QRect centredVertically(const QRect& row, int left, int width, int height)
{
    return QRect(left, row.y() + (row.height() - height) / 2, std::max(width, 0), height);
}

} // namespace

void SwitcherRowModel::setItems(std::vector<WindowInfo> items)
{
    beginResetModel();
    items_ = std::move(items);
    endResetModel();
}

void SwitcherRowModel::setSpaces(std::map<SpaceID, int> spaceNumbers, std::set<SpaceID> visibleSpaceIDs)
{
    spaceNumbers_ = std::move(spaceNumbers);
    visibleSpaceIDs_ = std::move(visibleSpaceIDs);
    if (!items_.empty())
        Q_EMIT dataChanged(index(0), index(static_cast<int>(items_.size()) - 1));
}

std::optional<int> SwitcherRowModel::badge(int row) const
{
    if (!showsBadges || row < 0 || static_cast<std::size_t>(row) >= items_.size())
        return std::nullopt;
    return PanelMetrics::badgeNumber(items_[static_cast<std::size_t>(row)], spaceNumbers_, visibleSpaceIDs_);
}

int SwitcherRowModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(std::min<std::size_t>(items_.size(), INT_MAX));
}

QVariant SwitcherRowModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= items_.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return PanelMetrics::accessibleLabel(items_[static_cast<std::size_t>(index.row())]);
    return {};
}

RowLayout rowLayout(const QRect& row, int appNameWidth, int badgeTextWidth, int glyphWidth)
{
    RowLayout layout;
    // Rows are 2 taller than their content; the selection leaves 1 above and below.
    layout.selection = row.adjusted(0, 1, 0, -1);
    const QRect content = layout.selection;
    layout.icon = centredVertically(content, row.x() + iconLeading, iconSide, iconSide);
    layout.returnGlyph = centredVertically(content, row.right() + 1 - glyphTrailing - glyphWidth, glyphWidth, content.height());
    int badgeWidth = std::max(minimumBadgeWidth, badgeTextWidth);
    int badgeHeight = std::min(content.height() - 4, 18);
    layout.badge = centredVertically(content, layout.returnGlyph.x() - badgeGap - badgeWidth, badgeWidth, badgeHeight);
    int appLeft = layout.icon.right() + 1 + appGap;
    int titleRight = layout.badge.x() - badgeGap;
    int appWidth = std::min(appNameWidth, std::max(titleRight - titleGap - appLeft, 0));
    layout.appLabel = centredVertically(content, appLeft, appWidth, content.height());
    int titleLeft = std::min(appLeft + appWidth + titleGap, titleRight);
    layout.titleLabel = centredVertically(content, titleLeft, titleRight - titleLeft, content.height());
    return layout;
}

SwitcherRowDelegate::SwitcherRowDelegate(const SwitcherRowModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model)
{
    applyStyle();
}

void SwitcherRowDelegate::applyStyle()
{
    colors_ = PanelStyle::colors(PanelStyle::theme(PanelStyle::appearance()));
    appFont_ = PanelStyle::rowFontSemibold();
    titleFont_ = PanelStyle::rowFont();
    glyphFont_ = PanelStyle::font(13);
    badgeFont_ = PanelStyle::monospacedFont(11);
    rowHeight_ = PanelStyle::rowHeight(PanelStyle::textScale());
}

QSize SwitcherRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return QSize(option.rect.width() > 0 ? option.rect.width() : 584, rowHeight_ + 2);
}

void SwitcherRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= model_.items().size())
        return;
    const WindowInfo& window = model_.items()[row];
    const bool selected = option.state & QStyle::State_Selected;
    const auto badge = model_.badge(index.row());
    const QString badgeText = badge ? PanelMetrics::badgeText(*badge) : QString();

    const QString appName = PanelMetrics::singleLine(window.appName);
    const QFontMetrics appMetrics(appFont_);
    const QFontMetrics titleMetrics(titleFont_);
    const QFontMetrics badgeMetrics(badgeFont_);
    const QFontMetrics glyphMetrics(glyphFont_);
    const RowLayout layout = rowLayout(option.rect, appMetrics.horizontalAdvance(appName) + 1,
                                       badge ? badgeMetrics.horizontalAdvance(badgeText) + 8 : 0,
                                       glyphMetrics.horizontalAdvance(returnGlyph));

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (selected) {
        QPainterPath highlight;
        highlight.addRoundedRect(QRectF(layout.selection), selectionRadius, selectionRadius);
        painter->fillPath(highlight, colors_.accent);
    }
    PanelIcons::icon(window).paint(painter, layout.icon, Qt::AlignCenter);

    const QColor primary = selected ? QColor(Qt::white) : colors_.label;
    const QColor secondary = selected ? QColor(255, 255, 255, 204) : colors_.secondaryLabel;
    constexpr auto flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    painter->setFont(appFont_);
    painter->setPen(primary);
    painter->drawText(layout.appLabel, flags, appMetrics.elidedText(appName, Qt::ElideRight, layout.appLabel.width()));
    painter->setFont(titleFont_);
    painter->setPen(secondary);
    painter->drawText(layout.titleLabel, flags,
                      titleMetrics.elidedText(PanelMetrics::rowTitle(window), Qt::ElideRight, layout.titleLabel.width()));

    if (badge) {
        painter->setPen(QPen(selected ? secondary : colors_.separator, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(layout.badge).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        painter->setFont(badgeFont_);
        painter->setPen(secondary);
        painter->drawText(layout.badge, Qt::AlignCenter | Qt::TextSingleLine, badgeText);
    }
    if (selected && showsReturnGlyph) {
        painter->setFont(glyphFont_);
        painter->setPen(secondary);
        painter->drawText(layout.returnGlyph, Qt::AlignCenter | Qt::TextSingleLine, returnGlyph);
    }
    painter->restore();
}

} // namespace vantrel

#include <QListView>
#include <QScrollBar>

namespace vantrel {

QListView* makeRowList(QWidget* parent, SwitcherRowModel* model, SwitcherRowDelegate* delegate)
{
    auto* list = new QListView(parent);
    list->setModel(model);
    list->setItemDelegate(delegate);
    list->setUniformItemSizes(true);
    // The panel sizes the list from its rows; the scroll area's own minimum
    // would make a one-row panel taller than that.
    list->setMinimumSize(1, 1);
    list->setFrameShape(QFrame::NoFrame);
    list->setFocusPolicy(Qt::NoFocus);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setAttribute(Qt::WA_TranslucentBackground);
    list->viewport()->setAutoFillBackground(false);
    list->setAutoFillBackground(false);
    list->setStyleSheet(QStringLiteral(
        "QListView { background: transparent; }"
        "QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }"
        "QScrollBar::handle:vertical { background: rgba(128,128,128,110); border-radius: 3px; min-height: 24px; }"
        "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
    return list;
}

void warmUpPanel(QWidget& window, SwitcherRowModel& model)
{
    WindowInfo row;
    row.appName = "Vantrel";
    row.title = "warming up";
    model.setItems({row});
    window.move(-20000, -20000);
    window.show();
    window.repaint();
    window.hide();
    model.setItems({});
}

} // namespace vantrel
