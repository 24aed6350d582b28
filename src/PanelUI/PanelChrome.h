// The card every panel is drawn on, and the window flags that keep a panel floating and never focused.
#pragma once

#include "PanelUI/PanelStyle.h"

#include <QRegion>
#include <QWidget>

namespace vantrel {

namespace PanelChrome {

/// The card's corner radius, and the radius of its inner background.
inline constexpr int cornerRadius = 14;
inline constexpr int innerRadius = 12;

/// Makes `window` a panel: frameless, above everything, bypassing the window
/// manager (override-redirect, so it is on every desktop and never managed),
/// never taking focus, and on an ARGB visual for translucency.
void configureWindow(QWidget& window);

/// Panels are widgets: every entry point runs on the application's thread
/// (checked in debug builds).
void assertMainThread();

/// The rounded shape of a card of `size`, for the shape mask of an opaque card.
QRegion roundedRegion(QSize size, int radius = cornerRadius);

} // namespace PanelChrome

/// The card: a rounded, translucent background when a compositor draws
/// translucency, else an opaque one in the theme's window colour whose
/// window is cut to the rounded shape. Panels put their views into it.
class PanelCard final : public QWidget {
public:
    explicit PanelCard(QWidget* parent);

    /// Re-reads the theme and asks the desktop whether it composites.
    void applyStyle();
    /// Asks the desktop again whether it composites (a compositor may have
    /// started or stopped since); panels call it on every show.
    void followCompositor();
    bool isTranslucent() const { return translucent_; }
    const PanelColors& colors() const { return colors_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateMask();

    PanelColors colors_;
    bool translucent_ = false;
};

} // namespace vantrel
