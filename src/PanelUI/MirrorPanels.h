// Read-only copies of the switcher panel on every other display.
#pragma once

#include "Vantrel/SwitcherPanels.h"

#include <QList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QObject;
class QScreen;

namespace vantrel {

class SwitcherPanel;

/// One `SwitcherPanel` per display, made on the first show there and kept
/// until the display goes away. Mirrors carry no callbacks and never hold
/// the keyboard. Main thread only.
class MirrorPanels final : public MirrorPanelsInterface {
public:
    /// The attached displays, in the platform's order.
    using ScreenList = std::function<QList<QScreen*>()>;

    /// `source` (the main panel, may be null) lends the mirrors its desktop
    /// numbers for the row badges; it must outlive the mirrors.
    explicit MirrorPanels(const SwitcherPanel* source = nullptr, ScreenList screens = {});
    ~MirrorPanels() override;

    void show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting,
              const std::optional<ScreenIdentifier>& excluding) override;
    void update(const std::vector<WindowInfo>& items) override;
    void select(std::ptrdiff_t index) override;
    void hide() override;

    /// Drops (and hides) the panels of displays no longer attached.
    void rebuild();
    /// The mirror on `screen`, if one was made.
    SwitcherPanel* panelOn(const QScreen* screen) const;
    std::size_t count() const { return panels_.size(); }

private:
    const SwitcherPanel* source_;
    ScreenList screens_;
    std::vector<std::pair<QScreen*, std::unique_ptr<SwitcherPanel>>> panels_;
    std::unique_ptr<QObject> context_;
};

} // namespace vantrel
