// Application icons for the rows: the window's own, else its theme icon, else a generic one; cached per process.
#include "PanelUI/PanelIcons.h"

#include "SystemBridge/Backends.h"

#include <QPainter>
#include <QPainterPath>

#include <unordered_map>

namespace vantrel::PanelIcons {
namespace {

std::optional<QImage> workspaceIcon(ProcessID pid)
{
    auto workspace = SystemBridge::installed().workspace;
    if (!workspace)
        return std::nullopt;
    auto icon = workspace->icon(pid);
    if (!icon || icon->width <= 0 || icon->height <= 0 ||
        icon->argb.size() != static_cast<std::size_t>(icon->width) * static_cast<std::size_t>(icon->height))
        return std::nullopt;
    QImage image(icon->width, icon->height, QImage::Format_ARGB32);
    for (int y = 0; y < icon->height; ++y)
        std::copy_n(icon->argb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(icon->width),
                    icon->width, reinterpret_cast<std::uint32_t*>(image.scanLine(y)));
    return image;
}

struct Cache {
    Source source = workspaceIcon;
    std::unordered_map<ProcessID, QIcon> byProcess;
    QIcon generic;
};

Cache& cache()
{
    static Cache instance;
    return instance;
}

QIcon drawnGeneric()
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(6, 10, 52, 44), 8, 8);
    painter.fillPath(frame, QColor(120, 128, 140));
    painter.fillRect(QRectF(12, 22, 40, 26), QColor(236, 238, 242));
    painter.setBrush(QColor(236, 238, 242));
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i)
        painter.drawEllipse(QPointF(14 + 7 * i, 16), 2.2, 2.2);
    return QIcon(QPixmap::fromImage(image));
}

} // namespace

QIcon genericIcon()
{
    Cache& c = cache();
    if (c.generic.isNull())
        c.generic = QIcon::fromTheme(QStringLiteral("application-x-executable"), drawnGeneric());
    return c.generic;
}

QIcon icon(const WindowInfo& window)
{
    Cache& c = cache();
    if (auto found = c.byProcess.find(window.pid); found != c.byProcess.end())
        return found->second;
    QIcon result;
    if (window.pid >= 1 && c.source)
        if (auto image = c.source(window.pid))
            result = QIcon(QPixmap::fromImage(*image));
    if (result.isNull() && window.bundleID && !window.bundleID->empty())
        result = QIcon::fromTheme(QString::fromStdString(*window.bundleID));
    if (result.isNull())
        result = genericIcon();
    if (window.pid >= 1)
        c.byProcess.emplace(window.pid, result);
    return result;
}

void setSource(Source source)
{
    Cache& c = cache();
    c.source = std::move(source);
    c.byProcess.clear();
}

} // namespace vantrel::PanelIcons
