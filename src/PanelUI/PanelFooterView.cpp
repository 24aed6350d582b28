// The footer strip: window and desktop counts on the left, key hints on the right.
#include "PanelUI/PanelFooterView.h"

#include "PanelUI/PanelMetrics.h"

#include <QPainter>

namespace vantrel {

PanelFooterView::PanelFooterView(QWidget* parent) : QWidget(parent), colors_(PanelStyle::colors(PanelTheme::light))
{
    setFixedHeight(height);
}

void PanelFooterView::update(std::size_t windowCount, std::size_t spaceCount, const QString& hintText)
{
    summary_ = PanelMetrics::footerSummary(windowCount, spaceCount);
    hints_ = hintText;
    QWidget::update();
}

void PanelFooterView::setColors(const PanelColors& colors)
{
    colors_ = colors;
    QWidget::update();
}

void PanelFooterView::paintEvent(QPaintEvent*)
{
    constexpr int inset = 18, minimumGap = 12;
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, width(), 1), colors_.separator);
    painter.setFont(PanelStyle::monospacedFont(12));
    painter.setPen(colors_.secondaryLabel);
    const QFontMetrics metrics = painter.fontMetrics();
    // Eliding measures a little wider than the advance; the slack keeps a fitting text whole.
    int summaryWidth = std::min(metrics.horizontalAdvance(summary_) + 2, width() - 2 * inset);
    QRect summary(inset, 0, summaryWidth, height);
    painter.drawText(summary, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(summary_, Qt::ElideRight, summary.width()));
    int hintsLeft = summary.right() + 1 + minimumGap;
    QRect hints(hintsLeft, 0, std::max(width() - inset - hintsLeft, 0), height);
    painter.drawText(hints, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(hints_, Qt::ElideRight, hints.width()));
}

} // namespace vantrel
