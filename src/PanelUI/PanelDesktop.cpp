// The desktop around the panels: the compositor, the active window, the displays, and how panel windows are marked.
#include "PanelUI/PanelDesktop.h"

#include "Platform/X11/X11PanelSupport.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace vantrel {
namespace {

class InertDesktop final : public PanelDesktop {
public:
    bool compositorActive() const override { return false; }
    std::optional<QPoint> activeWindowCentre() const override { return std::nullopt; }
    void markPanel(QWidget&, bool) override {}
    std::unique_ptr<Watch> watchActiveWindow(std::function<void()>) override { return nullptr; }
};

// Sees Qt's X events; Qt already listens to property changes on the root.
class ActiveWindowWatch final : public PanelDesktop::Watch, public QAbstractNativeEventFilter {
public:
    ActiveWindowWatch(xcb_connection_t* connection, std::function<void()> onChange)
        : connection_(connection), onChange_(std::move(onChange)), initial_(X11PanelSupport::activeWindow(connection)),
          alive_(std::make_shared<bool>(true))
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~ActiveWindowWatch() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t" || !X11PanelSupport::isActiveWindowChange(connection_, message))
            return false;
        // The window manager rewrites the property with the same window at
        // times; only a different window counts.
        if (X11PanelSupport::activeWindow(connection_) == initial_)
            return false;
        // Not from inside Qt's event dispatch: the callback may end this watch.
        std::weak_ptr<bool> alive = alive_;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, onChange = onChange_] {
                if (alive.lock())
                    onChange();
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    xcb_connection_t* connection_;
    std::function<void()> onChange_;
    std::optional<std::uint32_t> initial_;
    std::shared_ptr<bool> alive_;
};

class X11PanelDesktop final : public PanelDesktop {
public:
    explicit X11PanelDesktop(xcb_connection_t* connection) : connection_(connection) {}

    bool compositorActive() const override { return X11PanelSupport::compositorActive(connection_, 0); }
    std::optional<QPoint> activeWindowCentre() const override
    {
        auto centre = X11PanelSupport::activeWindowCentre(connection_);
        if (!centre)
            return std::nullopt;
        // Root coordinates are device pixels; Qt's global ones are not.
        QPoint devicePixels(centre->x, centre->y);
        for (QScreen* screen : QGuiApplication::screens()) {
            qreal ratio = screen->devicePixelRatio();
            QRect native(screen->geometry().topLeft(), screen->geometry().size() * ratio);
            if (native.contains(devicePixels))
                return screen->geometry().topLeft() + (devicePixels - screen->geometry().topLeft()) / ratio;
        }
        return devicePixels;
    }
    void markPanel(QWidget& panel, bool transient) override
    {
        X11PanelSupport::setPanelWindowType(connection_, static_cast<std::uint32_t>(panel.winId()), transient);
    }
    std::unique_ptr<Watch> watchActiveWindow(std::function<void()> onChange) override
    {
        return std::make_unique<ActiveWindowWatch>(connection_, std::move(onChange));
    }

private:
    xcb_connection_t* connection_;
};

std::unique_ptr<PanelDesktop>& installed()
{
    static std::unique_ptr<PanelDesktop> desktop;
    return desktop;
}

std::unique_ptr<PanelDesktop> makeDefault()
{
    if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        if (x11->connection())
            return std::make_unique<X11PanelDesktop>(x11->connection());
    return std::make_unique<InertDesktop>();
}

} // namespace

PanelDesktop& panelDesktop()
{
    auto& desktop = installed();
    if (!desktop)
        desktop = makeDefault();
    return *desktop;
}

void setPanelDesktop(std::unique_ptr<PanelDesktop> desktop) { installed() = std::move(desktop); }

namespace PanelScreens {

QScreen* named(const ScreenIdentifier& identifier)
{
    for (QScreen* screen : QGuiApplication::screens())
        if (PanelScreens::identifier(*screen) == identifier)
            return screen;
    return nullptr;
}

QScreen* main()
{
    if (auto centre = panelDesktop().activeWindowCentre())
        if (QScreen* screen = QGuiApplication::screenAt(*centre))
            return screen;
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

QScreen* chosen(const std::optional<ScreenIdentifier>& identifier)
{
    if (identifier)
        if (QScreen* screen = named(*identifier))
            return screen;
    return main();
}

ScreenIdentifier identifier(const QScreen& screen) { return screen.name().toStdString(); }

} // namespace PanelScreens
} // namespace vantrel
