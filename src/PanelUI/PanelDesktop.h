// The desktop around the panels: the compositor, the active window, the displays, and how panel windows are marked.
#pragma once

#include "Vantrel/SwitcherPanels.h"

#include <QPoint>

#include <functional>
#include <memory>
#include <optional>

class QScreen;
class QWidget;

namespace vantrel {

/// What the panels ask of the window system beyond Qt. The X11 one works
/// on Qt's own connection; elsewhere (the offscreen platform) nothing
/// composites and no window is active.
class PanelDesktop {
public:
    virtual ~PanelDesktop() = default;
    /// Whether a compositing manager runs, so translucency shows.
    virtual bool compositorActive() const = 0;
    /// The centre of the active window in global coordinates.
    virtual std::optional<QPoint> activeWindowCentre() const = 0;
    /// Marks a panel's native window as transient or not.
    virtual void markPanel(QWidget& panel, bool transient) = 0;

    /// Something watched until the token is destroyed.
    class Watch {
    public:
        virtual ~Watch() = default;
    };
    /// Calls `onChange` (later, from the event loop) once another window than
    /// the one active now becomes active; null where that cannot be seen.
    virtual std::unique_ptr<Watch> watchActiveWindow(std::function<void()> onChange) = 0;
};

/// The process's desktop: X11 under the xcb platform, else an inert one.
PanelDesktop& panelDesktop();
/// Replaces it (tests); null restores the default.
void setPanelDesktop(std::unique_ptr<PanelDesktop> desktop);

namespace PanelScreens {

/// The display named `identifier`, if attached.
QScreen* named(const ScreenIdentifier& identifier);
/// The display holding the active window's centre, else the pointer's,
/// else the primary one; null without displays.
QScreen* main();
/// `identifier`'s display when given and attached, else `main()`.
QScreen* chosen(const std::optional<ScreenIdentifier>& identifier);
/// The identifier the controllers use for a display.
ScreenIdentifier identifier(const QScreen& screen);

} // namespace PanelScreens
} // namespace vantrel
