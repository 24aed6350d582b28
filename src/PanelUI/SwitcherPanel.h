// The floating switcher list: header with the query, one row per window, footer with counts and hints.
#pragma once

#include "PanelUI/PanelDesktop.h"
#include "PanelUI/PanelKeyboard.h"
#include "PanelUI/PanelKeys.h"
#include "PanelUI/PanelParts.h"
#include "Runtime/Log.h"
#include "Vantrel/SwitcherPanels.h"

#include <QString>

#include <memory>

class QListView;
class QScreen;
class QWidget;

namespace vantrel {

class PanelFooterView;
class PanelHeaderView;

/// Never takes X focus; while shown with `takeKey` it holds the keyboard grab
/// and handles the keys itself. Builds and draws itself once off screen at
/// construction so that the first real show is fast. Main thread only.
class SwitcherPanel final : public SwitcherPanelInterface {
public:
    SwitcherPanel();
    ~SwitcherPanel() override;
    SwitcherPanel(const SwitcherPanel&) = delete;
    SwitcherPanel& operator=(const SwitcherPanel&) = delete;

    void show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting, const std::optional<ScreenIdentifier>& on,
              bool takeKey) override;
    void update(const std::vector<WindowInfo>& items) override;
    void select(std::ptrdiff_t index) override;
    void setQuery(std::string_view query) override;
    void hide() override;
    bool isVisible() const override;
    std::optional<ScreenIdentifier> screen() const override;
    void setSpaceNumbers(const std::map<SpaceID, int>& spaceNumbers) override;
    void setVisibleSpaceIDs(const std::set<SpaceID>& visibleSpaceIDs) override;

    /// Shows on `screen` (mirrors name theirs directly).
    void showOn(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting, QScreen* screen, bool takeKey);
    /// Selects by `delta` rows from the selected one.
    void moveSelection(std::ptrdiff_t delta) { select(selectedIndex_ + delta); }
    /// Hides, then reports the selected window, or a cancel without one.
    void commit();
    /// Hides, then reports a cancel.
    void cancel();
    /// Re-reads the text scale and the theme, and re-lays out a shown panel.
    void applyStyle();
    /// One key press while the panel holds the keyboard.
    void handleKey(const PanelKey& key);

    const std::vector<WindowInfo>& items() const;
    std::ptrdiff_t selectedIndex() const { return selectedIndex_; }
    const std::string& query() const { return query_; }
    /// Whether the panel holds the keyboard grab ("is key").
    bool isKey() const { return keyboard_.isHeld(); }
    const std::map<SpaceID, int>& spaceNumbers() const;
    const std::set<SpaceID>& visibleSpaceIDs() const;
    /// Drawn as a translucent card (a compositor runs), else opaque and shaped.
    bool isTranslucent() const;
    /// Marked transient (not when `VANTREL_NO_TRANSIENT` is "1").
    bool isTransient() const { return transient_; }

    /// The window, its parts and the rows, for tests and renders.
    QWidget& window() { return *parts_.window; }
    const PanelHeaderView& header() const { return *header_; }
    const PanelFooterView& footer() const { return *parts_.footer; }
    QListView& list() { return *parts_.list; }

private:
    void refreshHeaderAndFooter();
    void place(QScreen* screen);
    void screenRemoved(QScreen* screen);

    Logger log_{"panel"};
    PanelParts parts_;
    PanelHeaderView* header_ = nullptr;
    PanelKeyboard keyboard_{log_};
    // While key: another window becoming active is a click elsewhere.
    std::unique_ptr<PanelDesktop::Watch> activeWindowWatch_;
    std::string query_;
    std::ptrdiff_t selectedIndex_ = 0;
    bool transient_ = true;
    // Callbacks from Qt and the grab hold this weakly.
    std::shared_ptr<SwitcherPanel*> alive_;
};

} // namespace vantrel
