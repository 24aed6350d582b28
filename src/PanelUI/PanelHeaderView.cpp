// The header strip: a search glyph and the query, or the placeholder while the query is empty.
#include "PanelUI/PanelHeaderView.h"

#include "PanelUI/PanelMetrics.h"

#include <QIcon>
#include <QPainter>

namespace vantrel {

PanelHeaderView::PanelHeaderView(QWidget* parent)
    : QWidget(parent), placeholder(PanelMetrics::searchPlaceholder()),
      colors_(PanelStyle::colors(PanelTheme::light))
{
    setFixedHeight(height);
    setAccessibleName(tr("Search"));
    update(QString());
}

void PanelHeaderView::update(const QString& query)
{
    showsPlaceholder_ = query.isEmpty();
    text_ = showsPlaceholder_ ? placeholder : query;
    textColor_ = showsPlaceholder_ ? colors_.secondaryLabel : colors_.label;
    QWidget::update();
}

void PanelHeaderView::setColors(const PanelColors& colors)
{
    colors_ = colors;
    textColor_ = showsPlaceholder_ ? colors_.secondaryLabel : colors_.label;
    QWidget::update();
}

void PanelHeaderView::paintEvent(QPaintEvent*)
{
    constexpr int glyphLeading = 18, glyphSize = 18, labelGap = 10, trailing = 18;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRect glyph(glyphLeading, (height - glyphSize) / 2, glyphSize, glyphSize);
    paintSearchGlyph(painter, glyph, colors_.secondaryLabel);

    QFont font = PanelStyle::font(18);
    painter.setFont(font);
    painter.setPen(textColor_);
    int left = glyph.right() + 1 + labelGap;
    QRect label(left, 0, width() - left - trailing, height);
    QString elided = painter.fontMetrics().elidedText(PanelMetrics::singleLine(text_.toStdString()), Qt::ElideRight,
                                                      label.width());
    painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, elided);

    painter.fillRect(QRect(0, height - 1, width(), 1), colors_.separator);
}

void paintSearchGlyph(QPainter& painter, const QRect& rect, const QColor& color)
{
    static const QIcon themed = QIcon::fromTheme(QStringLiteral("system-search"));
    if (!themed.isNull()) {
        themed.paint(&painter, rect);
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, 2.0, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    double side = rect.width();
    QRectF lens(rect.x() + 1.5, rect.y() + 1.5, side * 0.62, side * 0.62);
    painter.drawEllipse(lens);
    QPointF from = lens.center() + QPointF(lens.width() * 0.36, lens.height() * 0.36);
    painter.drawLine(from, QPointF(rect.right() - 1.0, rect.bottom() - 1.0));
    painter.restore();
}

} // namespace vantrel
