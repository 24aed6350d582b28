// The floating switcher list: header with the query, one row per window, footer with counts and hints.
#include "PanelUI/SwitcherPanel.h"

#include "PanelUI/PanelChrome.h"
#include "PanelUI/PanelDesktop.h"
#include "PanelUI/PanelFooterView.h"
#include "PanelUI/PanelHeaderView.h"
#include "PanelUI/PanelMetrics.h"
#include "PanelUI/SwitcherRows.h"
#include "VantrelCore/SelectionWrap.h"

#include <QGuiApplication>
#include <QListView>
#include <QScreen>
#include <QVBoxLayout>

#include <cstdlib>
#include <cstring>

namespace vantrel {
namespace {

QString rectText(const QRect& rect)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

} // namespace

SwitcherPanel::SwitcherPanel()
    : parts_(QStringLiteral("Vantrel Switcher")), alive_(std::make_shared<SwitcherPanel*>(this))
{
    const char* noTransient = std::getenv("VANTREL_NO_TRANSIENT");
    transient_ = !(noTransient && std::strcmp(noTransient, "1") == 0);

    header_ = new PanelHeaderView(parts_.card);

    auto* layout = new QVBoxLayout(parts_.card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header_);
    layout->addSpacing(PanelMetrics::listInset);
    auto* listRow = new QHBoxLayout;
    listRow->setContentsMargins(PanelMetrics::listInset, 0, PanelMetrics::listInset, 0);
    listRow->addWidget(parts_.list);
    layout->addLayout(listRow, 1);
    layout->addSpacing(PanelMetrics::listInset);
    layout->addWidget(parts_.footer);

    // A click selects a row.
    QObject::connect(parts_.list->selectionModel(), &QItemSelectionModel::currentRowChanged, parts_.card,
                     [this](const QModelIndex& current) { selectedIndex_ = current.isValid() ? current.row() : 0; });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, parts_.card, [this](QScreen* screen) { screenRemoved(screen); });

    panelDesktop().markPanel(*parts_.window, transient_);
    applyStyle();
    warmUpPanel(*parts_.window, *parts_.model);
}

SwitcherPanel::~SwitcherPanel() { keyboard_.release(); }


void SwitcherPanel::show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting,
                         const std::optional<ScreenIdentifier>& on, bool takeKey)
{
    showOn(items, selecting, PanelScreens::chosen(on), takeKey);
}

void SwitcherPanel::showOn(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting, QScreen* screen,
                           bool takeKey)
{
    PanelChrome::assertMainThread();
    SignpostInterval signpost("show", "panel");
    parts_.model->setItems(items);
    query_.clear();
    selectedIndex_ = 0;
    refreshHeaderAndFooter();
    parts_.card->followCompositor();
    place(screen);
    select(selecting);
    // The keyboard first: a key pressed once the panel is on screen must
    // find it held, not go to the window below.
    if (takeKey) {
        std::weak_ptr<SwitcherPanel*> weak = alive_;
        keyboard_.take([weak](const PanelKey& key) {
            if (auto self = weak.lock())
                (*self)->handleKey(key);
        });
        // Losing key status: the user made another window active (a click
        // elsewhere); the panel goes and reports a cancel.
        activeWindowWatch_ = panelDesktop().watchActiveWindow([weak] {
            if (auto self = weak.lock(); self && (*self)->isVisible())
                (*self)->cancel();
        });
    }
    parts_.window->show();
    parts_.window->raise();
    if (!logEnabled(LogLevel::debug))
        return;
    log_.debug("shown: visible=%{bool}d key=%{bool}d rows=%ld frame=%{public}s", isVisible(), isKey(),
               static_cast<long>(items.size()), rectText(parts_.window->geometry()).toStdString());
}

void SwitcherPanel::place(QScreen* screen)
{
    int height = PanelMetrics::switcherHeight(parts_.model->items().size(), PanelStyle::rowHeight(PanelStyle::textScale()));
    QRect frame = screen ? PanelMetrics::switcherFrame(screen->availableGeometry(), height)
                         : QRect(parts_.window->pos(), QSize(PanelMetrics::panelWidth, height));
    if (screen && parts_.window->screen() != screen)
        parts_.window->setScreen(screen);
    parts_.window->setGeometry(frame);
}

void SwitcherPanel::screenRemoved(QScreen* screen)
{
    if (!isVisible() || parts_.window->screen() != screen)
        return;
    QScreen* remaining = nullptr;
    for (QScreen* candidate : QGuiApplication::screens())
        if (candidate != screen && (!remaining || candidate == PanelScreens::main()))
            remaining = candidate;
    place(remaining);
}

void SwitcherPanel::update(const std::vector<WindowInfo>& items)
{
    PanelChrome::assertMainThread();
    if (!isVisible())
        return;
    const std::ptrdiff_t kept = items.empty() ? selectedIndex_ : keptSelection(parts_.model->items(), selectedIndex_, items);
    parts_.model->setItems(items);
    refreshHeaderAndFooter();
    if (!items.empty())
        select(kept);
}

void SwitcherPanel::select(std::ptrdiff_t index)
{
    PanelChrome::assertMainThread();
    const auto count = parts_.model->items().size();
    if (count == 0)
        return;
    selectedIndex_ = wrapSelection(index, count);
    QModelIndex row = parts_.model->index(static_cast<int>(selectedIndex_));
    parts_.list->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
    parts_.list->scrollTo(row);
}

void SwitcherPanel::setQuery(std::string_view query)
{
    PanelChrome::assertMainThread();
    query_ = std::string(query);
    refreshHeaderAndFooter();
}

void SwitcherPanel::refreshHeaderAndFooter()
{
    header_->update(QString::fromUtf8(query_.data(), static_cast<qsizetype>(query_.size())));
    parts_.footer->update(parts_.model->items().size(), PanelMetrics::distinctDesktops(parts_.model->items(), parts_.model->spaceNumbers()),
                    PanelMetrics::switcherHints(query_.empty()));
}

void SwitcherPanel::hide()
{
    PanelChrome::assertMainThread();
    keyboard_.release();
    activeWindowWatch_.reset();
    parts_.window->hide();
}

bool SwitcherPanel::isVisible() const { return parts_.window->isVisible(); }

std::optional<ScreenIdentifier> SwitcherPanel::screen() const
{
    if (!isVisible() || !parts_.window->screen())
        return std::nullopt;
    return PanelScreens::identifier(*parts_.window->screen());
}

void SwitcherPanel::setSpaceNumbers(const std::map<SpaceID, int>& spaceNumbers)
{
    parts_.model->setSpaces(spaceNumbers, parts_.model->visibleSpaceIDs());
}

void SwitcherPanel::setVisibleSpaceIDs(const std::set<SpaceID>& visibleSpaceIDs)
{
    parts_.model->setSpaces(parts_.model->spaceNumbers(), visibleSpaceIDs);
}

const std::vector<WindowInfo>& SwitcherPanel::items() const { return parts_.model->items(); }

bool SwitcherPanel::isTranslucent() const { return parts_.card->isTranslucent(); }

const std::map<SpaceID, int>& SwitcherPanel::spaceNumbers() const { return parts_.model->spaceNumbers(); }

const std::set<SpaceID>& SwitcherPanel::visibleSpaceIDs() const { return parts_.model->visibleSpaceIDs(); }

void SwitcherPanel::commit()
{
    const auto& rows = parts_.model->items();
    if (selectedIndex_ >= 0 && static_cast<std::size_t>(selectedIndex_) < rows.size()) {
        WindowInfo chosen = rows[static_cast<std::size_t>(selectedIndex_)];
        hide();
        if (onCommit)
            onCommit(chosen);
        return;
    }
    cancel();
}

void SwitcherPanel::cancel()
{
    hide();
    if (onCancel)
        onCancel();
}

void SwitcherPanel::applyStyle()
{
    parts_.applyStyle();
    header_->setColors(parts_.card->colors());
    if (!parts_.model->items().empty())
        select(selectedIndex_);
}

void SwitcherPanel::handleKey(const PanelKey& key)
{
    PanelChrome::assertMainThread();
    using namespace PanelKeyActions;
    const auto& rows = parts_.model->items();
    const bool hasSelection = selectedIndex_ >= 0 && static_cast<std::size_t>(selectedIndex_) < rows.size();
    PanelKeyAction action = switcherKeyAction(key, query_, hasSelection);
    if (auto* move = std::get_if<Move>(&action)) {
        moveSelection(move->delta);
    } else if (std::holds_alternative<Commit>(action)) {
        commit();
    } else if (std::holds_alternative<Cancel>(action)) {
        cancel();
    } else if (auto* item = std::get_if<Action>(&action)) {
        if (onAction)
            onAction(WindowInfo(rows[static_cast<std::size_t>(selectedIndex_)]), item->action);
    } else if (auto* proposal = std::get_if<ProposeQuery>(&action)) {
        if (onQueryChanged)
            onQueryChanged(proposal->text);
    }
}

} // namespace vantrel
