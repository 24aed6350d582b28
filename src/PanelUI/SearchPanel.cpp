// The type-to-find panel: a query field over the ranked windows, in normal (keyboard) and fast (fed) modes.
#include "PanelUI/SearchPanel.h"

#include "PanelUI/PanelChrome.h"
#include "PanelUI/PanelDesktop.h"
#include "PanelUI/PanelFooterView.h"
#include "PanelUI/PanelMetrics.h"
#include "PanelUI/SwitcherRows.h"
#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/SelectionWrap.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace vantrel {

/// The query field. It never has Qt focus (the panel never takes X focus),
/// so it draws its own caret while the panel holds the keyboard.
class PanelSearchField final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    bool showsCaret = false;
    QColor caretColor;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLineEdit::paintEvent(event);
        if (!showsCaret)
            return;
        QPainter painter(this);
        QRect caret = cursorRect();
        painter.fillRect(QRect(caret.center().x(), caret.top() + 1, 2, caret.height() - 2), caretColor);
    }
};

namespace {

QString normalPlaceholder() { return QCoreApplication::translate("Panels", "Type to search windows…"); }
QString fastPlaceholder() { return QCoreApplication::translate("Panels", "Type while holding the modifier…"); }

QString fromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The field's own editing keys, as Qt key codes.
std::optional<Qt::Key> editingKey(std::uint16_t keyCode)
{
    namespace codes = KeyCodes;
    switch (keyCode) {
    case codes::deleteKey:
        return Qt::Key_Backspace;
    case codes::forwardDelete:
        return Qt::Key_Delete;
    case codes::left:
        return Qt::Key_Left;
    case codes::right:
        return Qt::Key_Right;
    case codes::home:
        return Qt::Key_Home;
    case codes::end:
        return Qt::Key_End;
    default:
        return std::nullopt;
    }
}

} // namespace

SearchPanel::SearchPanel() : parts_(QStringLiteral("Vantrel Search")), alive_(std::make_shared<SearchPanel*>(this))
{
    field_ = new PanelSearchField(parts_.card);
    field_->setFrame(false);
    field_->setFocusPolicy(Qt::NoFocus);
    field_->setAttribute(Qt::WA_TranslucentBackground);
    field_->setFixedHeight(PanelMetrics::fieldHeight);
    field_->setFont(PanelStyle::font(20));
    field_->setPlaceholderText(normalPlaceholder());
    parts_.model->showsBadges = false;
    parts_.delegate->showsReturnGlyph = false;
    emptyLabel_ = new QLabel(QCoreApplication::translate("Panels", "No matching windows"), parts_.card);
    emptyLabel_->setFont(PanelStyle::font(14));
    emptyLabel_->hide();

    auto* layout = new QVBoxLayout(parts_.card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addSpacing(PanelMetrics::fieldTop);
    auto* fieldRow = new QHBoxLayout;
    fieldRow->setContentsMargins(PanelMetrics::fieldInset, 0, PanelMetrics::fieldInset, 0);
    fieldRow->addWidget(field_);
    layout->addLayout(fieldRow);
    layout->addSpacing(PanelMetrics::listInset);
    auto* listArea = new QGridLayout;
    listArea->setContentsMargins(PanelMetrics::listInset, 0, PanelMetrics::listInset, 0);
    listArea->addWidget(parts_.list, 0, 0);
    listArea->addWidget(emptyLabel_, 0, 0, Qt::AlignCenter);
    layout->addLayout(listArea, 1);
    layout->addSpacing(PanelMetrics::listInset);
    layout->addWidget(parts_.footer);

    QObject::connect(parts_.list->selectionModel(), &QItemSelectionModel::currentRowChanged, parts_.card,
                     [this](const QModelIndex& current) { selectedIndex_ = current.isValid() ? current.row() : 0; });
    QObject::connect(parts_.list, &QAbstractItemView::doubleClicked, parts_.card, [this](const QModelIndex&) { commit(); });

    panelDesktop().markPanel(*parts_.window, true);
    applyStyle();
    warmUpPanel(*parts_.window, *parts_.model);
}

SearchPanel::~SearchPanel() { keyboard_.release(); }


void SearchPanel::show(const std::vector<WindowInfo>& items, const std::optional<ScreenIdentifier>& on)
{
    PanelChrome::assertMainThread();
    SignpostInterval signpost("show", "search");
    field_->clear();
    field_->setPlaceholderText(normalPlaceholder());
    // The keyboard before the window, as the switcher does.
    std::weak_ptr<SearchPanel*> weak = alive_;
    keyboard_.take([weak](const PanelKey& key) {
        if (auto self = weak.lock())
            (*self)->handleKey(key);
    });
    present(PanelScreens::chosen(on), items);
    field_->showsCaret = keyboard_.isHeld();
    field_->update();
}

void SearchPanel::showFast(std::string_view query, const std::vector<WindowInfo>& items,
                           const std::optional<ScreenIdentifier>& on)
{
    PanelChrome::assertMainThread();
    SignpostInterval signpost("show", "search");
    keyboard_.release();
    field_->showsCaret = false;
    field_->setText(fromUtf8(query));
    field_->setPlaceholderText(fastPlaceholder());
    present(PanelScreens::chosen(on), items);
}

void SearchPanel::present(QScreen* screen, const std::vector<WindowInfo>& items)
{
    parts_.card->followCompositor();
    layOut(items, screen);
    parts_.window->show();
    parts_.window->raise();
}

void SearchPanel::update(const std::vector<WindowInfo>& items)
{
    PanelChrome::assertMainThread();
    layOut(items, parts_.window->screen());
}

void SearchPanel::updateFast(std::string_view query, const std::vector<WindowInfo>& items)
{
    PanelChrome::assertMainThread();
    field_->setText(fromUtf8(query));
    layOut(items, parts_.window->screen());
}

void SearchPanel::layOut(const std::vector<WindowInfo>& items, QScreen* screen)
{
    parts_.model->setItems(items);
    int height = PanelMetrics::searchHeight(items.size(), PanelStyle::rowHeight(PanelStyle::textScale()));
    if (screen) {
        if (parts_.window->screen() != screen)
            parts_.window->setScreen(screen);
        parts_.window->setGeometry(PanelMetrics::searchFrame(screen->availableGeometry(), height));
    } else {
        parts_.window->resize(PanelMetrics::panelWidth, height);
    }
    emptyLabel_->setVisible(items.empty());
    parts_.footer->update(items.size(), 1, PanelMetrics::searchHints());
    select(0);
}

void SearchPanel::select(std::ptrdiff_t index)
{
    PanelChrome::assertMainThread();
    const auto count = parts_.model->items().size();
    if (count == 0) {
        selectedIndex_ = 0;
        return;
    }
    selectedIndex_ = wrapSelection(index, count);
    QModelIndex row = parts_.model->index(static_cast<int>(selectedIndex_));
    parts_.list->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
    parts_.list->scrollTo(row);
}

void SearchPanel::hide()
{
    PanelChrome::assertMainThread();
    keyboard_.release();
    field_->showsCaret = false;
    parts_.window->hide();
}

void SearchPanel::cancel()
{
    hide();
    if (onCancel)
        onCancel();
}

void SearchPanel::commit()
{
    const auto& rows = parts_.model->items();
    if (selectedIndex_ >= 0 && static_cast<std::size_t>(selectedIndex_) < rows.size()) {
        WindowInfo chosen = rows[static_cast<std::size_t>(selectedIndex_)];
        std::string text = query();
        hide();
        if (onCommit)
            onCommit(chosen, text);
        return;
    }
    cancel();
}

std::string SearchPanel::query() const { return field_->text().toStdString(); }

bool SearchPanel::isVisible() const { return parts_.window->isVisible(); }

const std::vector<WindowInfo>& SearchPanel::items() const { return parts_.model->items(); }

QString SearchPanel::placeholder() const { return field_->placeholderText(); }

bool SearchPanel::showsEmptyLabel() const { return !emptyLabel_->isHidden(); }

std::optional<ScreenIdentifier> SearchPanel::screen() const
{
    if (!isVisible() || !parts_.window->screen())
        return std::nullopt;
    return PanelScreens::identifier(*parts_.window->screen());
}

void SearchPanel::applyStyle()
{
    parts_.applyStyle();
    const PanelColors& colors = parts_.card->colors();
    QPalette palette = field_->palette();
    palette.setColor(QPalette::Text, colors.label);
    palette.setColor(QPalette::PlaceholderText, colors.secondaryLabel);
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Highlight, colors.accent);
    field_->setPalette(palette);
    field_->caretColor = colors.accent;
    QPalette labelPalette = emptyLabel_->palette();
    labelPalette.setColor(QPalette::WindowText, colors.secondaryLabel);
    emptyLabel_->setPalette(labelPalette);
    if (!parts_.model->items().empty())
        select(selectedIndex_);
}

void SearchPanel::handleKey(const PanelKey& key)
{
    PanelChrome::assertMainThread();
    using namespace PanelKeyActions;
    const auto& rows = parts_.model->items();
    const bool hasSelection = selectedIndex_ >= 0 && static_cast<std::size_t>(selectedIndex_) < rows.size();
    PanelKeyAction action = searchKeyAction(key, hasSelection);
    if (auto* move = std::get_if<Move>(&action))
        moveSelection(move->delta);
    else if (std::holds_alternative<Commit>(action))
        commit();
    else if (std::holds_alternative<Cancel>(action))
        cancel();
    else if (auto* item = std::get_if<Action>(&action)) {
        if (onAction)
            onAction(WindowInfo(rows[static_cast<std::size_t>(selectedIndex_)]), item->action);
    } else if (std::holds_alternative<EditField>(action))
        editField(key);
}

void SearchPanel::editField(const PanelKey& key)
{
    const QString before = field_->text();
    if (auto qtKey = editingKey(key.keyCode)) {
        Qt::KeyboardModifiers modifiers;
        if (key.flags & KeyChord::shift)
            modifiers |= Qt::ShiftModifier;
        QKeyEvent event(QEvent::KeyPress, *qtKey, modifiers);
        QCoreApplication::sendEvent(field_, &event);
    } else if (!(key.flags & (KeyChord::command | KeyChord::control)) && !key.characters.empty() &&
               std::ranges::none_of(key.characters, [](char c) {
                   return static_cast<unsigned char>(c) < 32 || c == 127;
               })) {
        field_->insert(fromUtf8(key.characters));
    }
    field_->update();
    if (field_->text() != before && onQueryChanged)
        onQueryChanged(field_->text().toStdString());
}

} // namespace vantrel
