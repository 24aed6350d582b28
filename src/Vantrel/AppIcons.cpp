// Vantrel's own icons, drawn from shapes: the tray's two stacked windows and its warning variant.
#include "Vantrel/AppIcons.h"

#include <QPainter>
#include <QPainterPath>

namespace vantrel::AppIcons {

namespace {

// Mid-tone colours read on both light and dark panels.
const QColor frame(0x2f, 0x6f, 0xd6);
const QColor back(0x9c, 0xbc, 0xf0);
const QColor front(0xf4, 0xf7, 0xfc);
const QColor amber(0xf2, 0xa9, 0x00);
const QColor ink(0x20, 0x20, 0x20);

void window(QPainter& painter, QRectF rect, double unit, const QColor& fill)
{
    painter.setPen(QPen(frame, std::max(1.0, unit * 1.5)));
    painter.setBrush(fill);
    painter.drawRoundedRect(rect, unit * 2, unit * 2);
    // The title bar.
    painter.setBrush(frame);
    painter.drawRect(QRectF(rect.left(), rect.top(), rect.width(), rect.height() * 0.22));
}

} // namespace

QImage draw(int size, bool warning)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double unit = size / 24.0;
    window(painter, QRectF(2 * unit, 3 * unit, 14 * unit, 11 * unit), unit, back);
    window(painter, QRectF(8 * unit, 9 * unit, 14 * unit, 11 * unit), unit, front);
    if (warning) {
        QPainterPath triangle;
        triangle.moveTo(17 * unit, 10 * unit);
        triangle.lineTo(24 * unit, 23.5 * unit);
        triangle.lineTo(10 * unit, 23.5 * unit);
        triangle.closeSubpath();
        painter.setPen(QPen(ink, std::max(1.0, unit)));
        painter.setBrush(amber);
        painter.drawPath(triangle);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawRect(QRectF(16.2 * unit, 14 * unit, 1.6 * unit, 5.5 * unit));
        painter.drawEllipse(QRectF(16.2 * unit, 20.3 * unit, 1.6 * unit, 1.6 * unit));
    }
    return image;
}

QIcon icon(bool warning)
{
    const char* name = warning ? warningName : normalName;
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    QIcon drawn;
    for (int size : sizes)
        drawn.addPixmap(QPixmap::fromImage(draw(size, warning)));
    return drawn;
}

} // namespace vantrel::AppIcons
