// Read-only copies of the switcher panel on every other display.
#include "PanelUI/MirrorPanels.h"

#include "PanelUI/PanelChrome.h"
#include "PanelUI/PanelDesktop.h"
#include "PanelUI/SwitcherPanel.h"

#include <QGuiApplication>
#include <QScreen>

namespace vantrel {

MirrorPanels::MirrorPanels(const SwitcherPanel* source, ScreenList screens)
    : source_(source), screens_(screens ? std::move(screens) : ScreenList([] { return QGuiApplication::screens(); })),
      context_(std::make_unique<QObject>())
{
    // Qt drops a removed display from its list before it says so; panels on
    // it go at once, new displays get theirs on the next show.
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, context_.get(), [this](QScreen*) { rebuild(); });
}

MirrorPanels::~MirrorPanels() = default;

void MirrorPanels::show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting,
                        const std::optional<ScreenIdentifier>& excluding)
{
    PanelChrome::assertMainThread();
    for (QScreen* screen : screens_()) {
        if (excluding && PanelScreens::identifier(*screen) == *excluding)
            continue;
        SwitcherPanel* panel = panelOn(screen);
        if (!panel)
            panel = panels_.emplace_back(screen, std::make_unique<SwitcherPanel>()).second.get();
        if (source_) {
            panel->setSpaceNumbers(source_->spaceNumbers());
            panel->setVisibleSpaceIDs(source_->visibleSpaceIDs());
        }
        panel->showOn(items, selecting, screen, false);
    }
}

void MirrorPanels::update(const std::vector<WindowInfo>& items)
{
    PanelChrome::assertMainThread();
    for (auto& [screen, panel] : panels_)
        if (panel->isVisible())
            panel->update(items);
}

void MirrorPanels::select(std::ptrdiff_t index)
{
    PanelChrome::assertMainThread();
    for (auto& [screen, panel] : panels_)
        if (panel->isVisible())
            panel->select(index);
}

void MirrorPanels::hide()
{
    PanelChrome::assertMainThread();
    for (auto& [screen, panel] : panels_)
        panel->hide();
}

void MirrorPanels::rebuild()
{
    const QList<QScreen*> attached = screens_();
    std::erase_if(panels_, [&](auto& entry) {
        if (attached.contains(entry.first))
            return false;
        entry.second->hide();
        return true;
    });
}

SwitcherPanel* MirrorPanels::panelOn(const QScreen* screen) const
{
    for (const auto& [candidate, panel] : panels_)
        if (candidate == screen)
            return panel.get();
    return nullptr;
}

} // namespace vantrel
