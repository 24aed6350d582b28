// The type-to-find panel: a query field over the ranked windows, in normal (keyboard) and fast (fed) modes.
#pragma once

#include "PanelUI/PanelKeyboard.h"
#include "PanelUI/PanelKeys.h"
#include "PanelUI/PanelParts.h"
#include "Runtime/Log.h"
#include "Vantrel/SearchPanels.h"

#include <QString>

#include <memory>

class QLabel;
class QListView;
class QScreen;
class QWidget;

namespace vantrel {

class PanelFooterView;
class PanelSearchField;

/// In normal mode it holds the keyboard grab and edits its field from the
/// grab's keys; in fast mode the owner sets the query and it never holds the
/// keyboard. Never takes X focus. Main thread only.
class SearchPanel final : public SearchPanelInterface {
public:
    SearchPanel();
    ~SearchPanel() override;
    SearchPanel(const SearchPanel&) = delete;
    SearchPanel& operator=(const SearchPanel&) = delete;

    void show(const std::vector<WindowInfo>& items, const std::optional<ScreenIdentifier>& on) override;
    void showFast(std::string_view query, const std::vector<WindowInfo>& items,
                  const std::optional<ScreenIdentifier>& on) override;
    void update(const std::vector<WindowInfo>& items) override;
    void updateFast(std::string_view query, const std::vector<WindowInfo>& items) override;
    void select(std::ptrdiff_t index) override;
    void hide() override;
    void cancel() override;
    std::string query() const override;
    bool isVisible() const override;

    void moveSelection(std::ptrdiff_t delta) { select(selectedIndex_ + delta); }
    /// Hides, then reports the selected window and the query; a cancel without rows.
    void commit();
    /// Re-reads the text scale and the theme.
    void applyStyle();
    /// One key press while the panel holds the keyboard.
    void handleKey(const PanelKey& key);

    const std::vector<WindowInfo>& items() const;
    std::ptrdiff_t selectedIndex() const { return selectedIndex_; }
    bool isKey() const { return keyboard_.isHeld(); }
    /// The field's placeholder, and whether "No matching windows" shows.
    QString placeholder() const;
    bool showsEmptyLabel() const;
    /// The display the panel is on.
    std::optional<ScreenIdentifier> screen() const;

    QWidget& window() { return *parts_.window; }
    const PanelFooterView& footer() const { return *parts_.footer; }
    QListView& list() { return *parts_.list; }

private:
    void layOut(const std::vector<WindowInfo>& items, QScreen* screen);
    void present(QScreen* screen, const std::vector<WindowInfo>& items);
    void editField(const PanelKey& key);

    Logger log_{"search"};
    PanelParts parts_;
    PanelSearchField* field_ = nullptr;
    QLabel* emptyLabel_ = nullptr;
    PanelKeyboard keyboard_{log_};
    std::ptrdiff_t selectedIndex_ = 0;
    std::shared_ptr<SearchPanel*> alive_;
};

} // namespace vantrel
