// The parts both panels are built from: a panel window filled by a card, the rows on the card and the footer.
#pragma once

#include <QString>

#include <memory>

class QListView;
class QWidget;

namespace vantrel {

class PanelCard;
class PanelFooterView;
class SwitcherRowDelegate;
class SwitcherRowModel;

/// A panel window (see `PanelChrome::configureWindow`) titled `title` and
/// filled by a card; on the card the row model, the one delegate painting its
/// rows, the list showing them and the footer, which the panel lays out with
/// its own views. Qt parents own every widget; the parts own the window.
struct PanelParts {
    explicit PanelParts(const QString& title);

    /// Re-reads the theme and the text scale for the card, footer and rows,
    /// and lays the rows out again.
    void applyStyle();

    std::unique_ptr<QWidget> window;
    PanelCard* card = nullptr;
    SwitcherRowModel* model = nullptr;
    SwitcherRowDelegate* delegate = nullptr;
    QListView* list = nullptr;
    PanelFooterView* footer = nullptr;
};

} // namespace vantrel
