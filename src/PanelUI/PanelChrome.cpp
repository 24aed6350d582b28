// The card every panel is drawn on, and the window flags that keep a panel floating and never focused.
#include "PanelUI/PanelChrome.h"

#include "PanelUI/PanelDesktop.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThread>
#include <QPainterPath>

namespace vantrel {

namespace PanelChrome {

void configureWindow(QWidget& window)
{
    window.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.setFocusPolicy(Qt::NoFocus);
}

void assertMainThread()
{
    Q_ASSERT(QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread());
}

QRegion roundedRegion(QSize size, int radius)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), size), radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

} // namespace PanelChrome

PanelCard::PanelCard(QWidget* parent) : QWidget(parent) { applyStyle(); }

void PanelCard::applyStyle()
{
    colors_ = PanelStyle::colors(PanelStyle::theme(PanelStyle::appearance()));
    translucent_ = panelDesktop().compositorActive();
    updateMask();
    update();
}

void PanelCard::followCompositor()
{
    bool translucent = panelDesktop().compositorActive();
    if (translucent == translucent_)
        return;
    translucent_ = translucent;
    updateMask();
    update();
}

void PanelCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath card;
    card.addRoundedRect(bounds, PanelChrome::cornerRadius, PanelChrome::cornerRadius);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillPath(card, translucent_ ? colors_.translucentCard : colors_.window);
    painter.setPen(QPen(colors_.separator, 1));
    painter.drawPath(card);
}

void PanelCard::resizeEvent(QResizeEvent*) { updateMask(); }

void PanelCard::updateMask()
{
    // Without a compositor the ARGB visual's alpha is ignored: the corners
    // would show as black squares, so the window is cut to the card instead.
    QWidget* window = this->window();
    if (translucent_)
        window->clearMask();
    else
        window->setMask(PanelChrome::roundedRegion(window->size()));
}

} // namespace vantrel
