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

SwitcherPanel::SwitcherPanel() : window_(std::make_unique<QWidget>()), alive_(std::make_shared<SwitcherPanel*>(this))
{
    const char* noTransient = std::getenv("VANTREL_NO_TRANSIENT");
    transient_ = !(noTransient && std::strcmp(noTransient, "1") == 0);

    PanelChrome::configureWindow(*window_);
    window_->setWindowTitle(QStringLiteral("Vantrel Switcher"));
    window_->resize(PanelMetrics::panelWidth, 200);
    auto* outer = new QVBoxLayout(window_.get());
    outer->setContentsMargins(0, 0, 0, 0);
    card_ = new PanelCard(window_.get());
    outer->addWidget(card_);

    header_ = new PanelHeaderView(card_);
    footer_ = new PanelFooterView(card_);
    model_ = new SwitcherRowModel(card_);
    delegate_ = new SwitcherRowDelegate(*model_, card_);
    list_ = makeRowList(card_, model_, delegate_);

    auto* layout = new QVBoxLayout(card_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header_);
    layout->addSpacing(PanelMetrics::listInset);
    auto* listRow = new QHBoxLayout;
    listRow->setContentsMargins(PanelMetrics::listInset, 0, PanelMetrics::listInset, 0);
    listRow->addWidget(list_);
    layout->addLayout(listRow, 1);
    layout->addSpacing(PanelMetrics::listInset);
    layout->addWidget(footer_);

    // A click selects a row.
    QObject::connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, card_,
                     [this](const QModelIndex& current) { selectedIndex_ = current.isValid() ? current.row() : 0; });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, card_, [this](QScreen* screen) { screenRemoved(screen); });

    panelDesktop().markPanel(*window_, transient_);
    applyStyle();
    warmUpPanel(*window_, *model_);
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
    model_->setItems(items);
    query_.clear();
    selectedIndex_ = 0;
    refreshHeaderAndFooter();
    card_->followCompositor();
    place(screen);
    select(selecting);
    window_->show();
    window_->raise();
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
    if (!logEnabled(LogLevel::debug))
        return;
    log_.debug("shown: visible=%{bool}d key=%{bool}d rows=%ld frame=%{public}s", isVisible(), isKey(),
               static_cast<long>(items.size()), rectText(window_->geometry()).toStdString());
}

void SwitcherPanel::place(QScreen* screen)
{
    int height = PanelMetrics::switcherHeight(model_->items().size(), PanelStyle::rowHeight(PanelStyle::textScale()));
    QRect frame = screen ? PanelMetrics::switcherFrame(screen->availableGeometry(), height)
                         : QRect(window_->pos(), QSize(PanelMetrics::panelWidth, height));
    if (screen && window_->screen() != screen)
        window_->setScreen(screen);
    window_->setGeometry(frame);
}

void SwitcherPanel::screenRemoved(QScreen* screen)
{
    if (!isVisible() || window_->screen() != screen)
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
    const std::ptrdiff_t kept = items.empty() ? selectedIndex_ : keptSelection(model_->items(), selectedIndex_, items);
    model_->setItems(items);
    refreshHeaderAndFooter();
    if (!items.empty())
        select(kept);
}

void SwitcherPanel::select(std::ptrdiff_t index)
{
    PanelChrome::assertMainThread();
    const auto count = model_->items().size();
    if (count == 0)
        return;
    selectedIndex_ = wrapSelection(index, count);
    QModelIndex row = model_->index(static_cast<int>(selectedIndex_));
    list_->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
    list_->scrollTo(row);
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
    footer_->update(model_->items().size(), PanelMetrics::distinctDesktops(model_->items(), model_->spaceNumbers()),
                    PanelMetrics::switcherHints(query_.empty()));
}

void SwitcherPanel::hide()
{
    PanelChrome::assertMainThread();
    keyboard_.release();
    activeWindowWatch_.reset();
    window_->hide();
}

bool SwitcherPanel::isVisible() const { return window_->isVisible(); }

std::optional<ScreenIdentifier> SwitcherPanel::screen() const
{
    if (!isVisible() || !window_->screen())
        return std::nullopt;
    return PanelScreens::identifier(*window_->screen());
}

void SwitcherPanel::setSpaceNumbers(const std::map<SpaceID, int>& spaceNumbers)
{
    model_->setSpaces(spaceNumbers, model_->visibleSpaceIDs());
}

void SwitcherPanel::setVisibleSpaceIDs(const std::set<SpaceID>& visibleSpaceIDs)
{
    model_->setSpaces(model_->spaceNumbers(), visibleSpaceIDs);
}

const std::vector<WindowInfo>& SwitcherPanel::items() const { return model_->items(); }

bool SwitcherPanel::isTranslucent() const { return card_->isTranslucent(); }

const std::map<SpaceID, int>& SwitcherPanel::spaceNumbers() const { return model_->spaceNumbers(); }

const std::set<SpaceID>& SwitcherPanel::visibleSpaceIDs() const { return model_->visibleSpaceIDs(); }

void SwitcherPanel::commit()
{
    const auto& rows = model_->items();
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
    card_->applyStyle();
    header_->setColors(card_->colors());
    footer_->setColors(card_->colors());
    delegate_->applyStyle();
    list_->reset();
    list_->doItemsLayout();
    if (!model_->items().empty())
        select(selectedIndex_);
}

void SwitcherPanel::handleKey(const PanelKey& key)
{
    PanelChrome::assertMainThread();
    using namespace PanelKeyActions;
    const auto& rows = model_->items();
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
