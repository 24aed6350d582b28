// The parts both panels are built from: a panel window filled by a card, the rows on the card and the footer.
#include "PanelUI/PanelParts.h"

#include "PanelUI/PanelChrome.h"
#include "PanelUI/PanelFooterView.h"
#include "PanelUI/PanelMetrics.h"
#include "PanelUI/SwitcherRows.h"

#include <QListView>
#include <QVBoxLayout>

namespace vantrel {

PanelParts::PanelParts(const QString& title) : window(std::make_unique<QWidget>())
{
    PanelChrome::configureWindow(*window);
    window->setWindowTitle(title);
    window->resize(PanelMetrics::panelWidth, 200);
    auto* outer = new QVBoxLayout(window.get());
    outer->setContentsMargins(0, 0, 0, 0);
    card = new PanelCard(window.get());
    outer->addWidget(card);

    model = new SwitcherRowModel(card);
    delegate = new SwitcherRowDelegate(*model, card);
    list = makeRowList(card, model, delegate);
    footer = new PanelFooterView(card);
}

void PanelParts::applyStyle()
{
    card->applyStyle();
    footer->setColors(card->colors());
    delegate->applyStyle();
    list->reset();
    list->doItemsLayout();
}

} // namespace vantrel
