// Finding a window by typing: the search panel behind its chord, Fast Search behind a held key, and learning.
#pragma once

#include "InputEngine/FastSearchTap.h"
#include "InputEngine/HotKey.h"
#include "Runtime/Log.h"
#include "Runtime/RunLoop.h"
#include "SearchKit/LearnedShortcuts.h"
#include "SearchKit/SearchScorer.h"
#include "Vantrel/SearchPanels.h"
#include "VantrelCore/SettingsStore.h"
#include "VantrelCore/WindowInfo.h"
#include "VantrelCore/WindowStore.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// Both ways of searching share one ranking: fuzzy scores with learned
/// shortcuts lifted to the top. Committing a window that was not the top
/// result for a non-empty query teaches that query. Main thread only.
class SearchController {
public:
    /// The store, panel, settings store and run loop are shared and must
    /// outlive the controller. The search chord and the Fast Search tap use
    /// the process's input backend (`setCurrentInputBackend`); the input-source
    /// shortcuts go through the bridge. The learned shortcuts are read from
    /// `shortcutsFile` now and written there after each learning. Nothing is
    /// registered before `start`.
    SearchController(RunLoop& runLoop, WindowStore& store, SearchPanelInterface& panel, SettingsStore& settingsStore,
                     std::filesystem::path shortcutsFile = LearnedShortcuts::defaultFile());
    ~SearchController();
    SearchController(const SearchController&) = delete;
    SearchController& operator=(const SearchController&) = delete;

    /// Focuses a committed window (the application points it at the switcher's `focus`).
    std::function<void(const WindowInfo&)> focus;
    /// Carries out a panel's item action (the switcher's `perform`).
    std::function<void(const WindowInfo&, ItemAction)> perform;

    /// Installs the panel and Fast Search callbacks, then applies the settings. Once.
    void start();
    /// Registers the search chord afresh and follows the scorer, learning and
    /// Fast Search settings; while a chord is recorded, registers nothing and
    /// keeps Fast Search off.
    void applySettings();
    /// Fast Search off, search chord unregistered, input-source shortcuts given back.
    void pause();
    /// The same as `pause`, at quit.
    void stop();
    /// Installs the Fast Search tap once the platform allows watching keys.
    void retryFastSearchIfNeeded();
    /// The search panel's whole query after an edit (or, while it is visible,
    /// after the store changed): re-ranks its list.
    void queryChanged(std::string_view text);

    /// A press of the search chord: opens the search panel, or cancels it.
    void toggle();
    /// The user chose `window` for `query`: learns when it was not the top
    /// result, then has it focused. A window that is gone is left alone.
    void commit(const WindowInfo& window, std::string_view query);
    /// One event of a Fast Search hold.
    void fastEvent(const FastSearchTap::Event& event);

    /// Every searchable window, most recent first: not ignored by the rules,
    /// minimized and hidden ones placed as the settings say.
    std::vector<WindowInfo> candidates() const;
    /// `candidates` ranked for `query`: the learned windows first (most
    /// recently learned target first), then the fuzzy matches best first.
    std::vector<WindowInfo> rank(const std::vector<WindowInfo>& candidates, std::string_view query) const;

    /// The learning key of one window: "w:" + bundle id (else the name) + "|"
    /// + the first 24 characters of the title.
    static std::string key(const WindowInfo& window);
    /// The learning key of the window's application: "a:" + bundle id (else the name).
    static std::string appKey(const WindowInfo& window);

    const LearnedShortcuts& shortcuts() const { return shortcuts_; }
    FastSearchTap& fastTap() { return *fastTap_; }
    /// Whether the search chord holds a grab.
    bool hasHotKey() const { return hotKey_ != nullptr; }
    /// The id of the first window last shown or ranked, if any.
    std::optional<WindowID> topResultID() const { return topResultID_; }

private:
    void fastRerank();
    void restoreInputSources();

    RunLoop& runLoop_;
    WindowStore& store_;
    SearchPanelInterface& panel_;
    SettingsStore& settingsStore_;
    const std::filesystem::path shortcutsFile_;
    Logger log_{"search"};
    std::shared_ptr<HotKey> hotKey_;
    std::unique_ptr<FastSearchTap> fastTap_;
    std::string fastQuery_;
    std::vector<WindowInfo> fastItems_;
    std::ptrdiff_t fastSelection_ = 0;
    bool fastActive_ = false;
    SearchScorer scorer_{SearchScorer::Weights{}, false};
    LearnedShortcuts shortcuts_;
    std::optional<WindowID> topResultID_;
    std::string lastQuery_;
    // Jobs and callbacks hold this weakly; it dies with the controller.
    std::shared_ptr<SearchController*> alive_;
};

} // namespace vantrel
