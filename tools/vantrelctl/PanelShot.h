// The renders of `vantrelctl panel-shot`: a table other files add to with a static `PanelShotRegistration`.
#pragma once

#include <QImage>

#include <functional>
#include <string>
#include <vector>

namespace vantrelctl {

/// One named render. `render` runs with the offscreen application up, the
/// appearance and text scale already applied to the panels, and returns the
/// picture; the command writes it as "<stem>-<light|dark>-<scale>.png".
struct PanelShot {
    std::string stem;
    std::string description;
    std::function<QImage()> render;
};

void registerPanelShot(PanelShot shot);
/// Every registered render, in registration order.
const std::vector<PanelShot>& panelShots();

struct PanelShotRegistration {
    explicit PanelShotRegistration(PanelShot shot) { registerPanelShot(std::move(shot)); }
};

/// Draws `window` (a top-level widget, shown) into an image with
/// transparent corners, at its own size.
QImage renderWidget(class QWidget& window);

} // namespace vantrelctl
