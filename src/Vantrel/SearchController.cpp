// The search panel behind its chord, Fast Search behind a held key, ranking with learned shortcuts, and learning.
#include "Vantrel/SearchController.h"

#include "SearchKit/SearchRanker.h"
#include "SearchKit/TextUnicode.h"
#include "SystemBridge/SymbolicHotKeys.h"
#include "VantrelCore/SelectionWrap.h"

#include <algorithm>
#include <climits>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <variant>

namespace vantrel {

namespace {

constexpr std::size_t titleCharactersInKey = 24;
constexpr const char* rankSignpost = "rank";
constexpr const char* rankSignpostCategory = "search";

std::string_view appIdentity(const WindowInfo& window)
{
    return window.bundleID ? std::string_view(*window.bundleID) : std::string_view(window.appName);
}

/// Whether a learned target names this window, by its window key or its
/// application key; builds no key unless the application matches.
bool targetNames(std::string_view target, const WindowInfo& window)
{
    const std::string_view app = appIdentity(window);
    if (target.starts_with("a:"))
        return target.substr(2) == app;
    if (!target.starts_with("w:") || target.size() < 3 + app.size() || target.substr(2, app.size()) != app ||
        target[2 + app.size()] != '|')
        return false;
    return target.substr(3 + app.size()) == TextUnicode::graphemePrefix(window.title, titleCharactersInKey);
}

std::optional<WindowID> firstID(const std::vector<WindowInfo>& windows)
{
    return windows.empty() ? std::nullopt : std::optional<WindowID>(windows.front().id);
}

} // namespace

SearchController::SearchController(RunLoop& runLoop, WindowStore& store, SearchPanelInterface& panel,
                                   SettingsStore& settingsStore, std::filesystem::path shortcutsFile)
    : runLoop_(runLoop)
    , store_(store)
    , panel_(panel)
    , settingsStore_(settingsStore)
    , shortcutsFile_(std::move(shortcutsFile))
    , fastTap_(std::make_unique<FastSearchTap>())
    , shortcuts_(LearnedShortcuts::load(shortcutsFile_))
    , alive_(std::make_shared<SearchController*>(this))
{
}

SearchController::~SearchController()
{
    if (hotKey_)
        hotKey_->unregister();
    fastTap_->onEvent = nullptr;
}

std::string SearchController::key(const WindowInfo& window)
{
    std::string key = "w:";
    key += appIdentity(window);
    key += '|';
    key += TextUnicode::graphemePrefix(window.title, titleCharactersInKey);
    return key;
}

std::string SearchController::appKey(const WindowInfo& window)
{
    return "a:" + std::string(appIdentity(window));
}

void SearchController::start()
{
    std::weak_ptr<SearchController*> weak = alive_;
    panel_.onQueryChanged = [weak](const std::string& text) {
        if (auto self = weak.lock())
            (*self)->queryChanged(text);
    };
    panel_.onCommit = [weak](const WindowInfo& window, const std::string& query) {
        if (auto self = weak.lock())
            (*self)->commit(window, query);
    };
    panel_.onAction = [weak](const WindowInfo& window, ItemAction action) {
        if (auto self = weak.lock(); self && (*self)->perform)
            (*self)->perform(window, action);
    };
    fastTap_->onEvent = [weak](const FastSearchTap::Event& event) {
        if (auto self = weak.lock())
            (*self)->fastEvent(event);
    };
    applySettings();
}

void SearchController::applySettings()
{
    const Settings settings = settingsStore_.settings();
    const bool recording = settingsStore_.isRecordingChord();
    if (hotKey_) {
        hotKey_->unregister();
        hotKey_.reset();
    }
    scorer_ = SearchScorer(SearchScorer::Weights{}, settings.allowOneMismatch);
    shortcuts_.maxQueryLength = static_cast<int>(std::clamp<std::int64_t>(settings.learnedShortcutMaxLength, INT_MIN, INT_MAX));
    fastTap_->setModifier(recording ? FastSearchModifier::off : settings.fastSearchModifier);
    // Desktops without system input-source shortcuts (X11) have nothing to take over.
    if (SymbolicHotKeys::isAvailable()) {
        if (settings.searchChordIsInputSourceShortcut())
            SymbolicHotKeys::takeOver(SymbolicHotKey::inputSources);
        else
            SymbolicHotKeys::restore(SymbolicHotKey::inputSources);
    }
    if (recording || !settings.searchChord)
        return;
    std::weak_ptr<SearchController*> weak = alive_;
    hotKey_ = HotKey::make(HotKey::Chord::from(*settings.searchChord), [weak, &runLoop = runLoop_] {
        runLoop.post([weak] {
            if (auto self = weak.lock())
                (*self)->toggle();
        });
    });
    if (!hotKey_)
        log_.error("could not register search chord");
}

void SearchController::pause()
{
    fastTap_->setModifier(FastSearchModifier::off);
    if (hotKey_) {
        hotKey_->unregister();
        hotKey_.reset();
    }
    restoreInputSources();
}

void SearchController::stop()
{
    pause();
}

void SearchController::restoreInputSources()
{
    if (SymbolicHotKeys::isAvailable())
        SymbolicHotKeys::restore(SymbolicHotKey::inputSources);
}

void SearchController::retryFastSearchIfNeeded()
{
    const FastSearchModifier modifier = settingsStore_.settings().fastSearchModifier;
    // A key this keyboard lacks never becomes available by waiting.
    if (modifier == FastSearchModifier::off || fastTap_->isInstalled() || !fastTap_->hasInputMonitoring() ||
        settingsStore_.isRecordingChord() || !fastTap_->canHold(modifier))
        return;
    log_.info("Input Monitoring granted → installing Fast Search tap");
    fastTap_->setModifier(modifier);
}

std::vector<WindowInfo> SearchController::candidates() const
{
    const Settings& settings = settingsStore_.settings();
    return settings.filter(settings.rules.apply(store_.ordered()));
}

std::vector<WindowInfo> SearchController::rank(const std::vector<WindowInfo>& candidates, std::string_view query) const
{
    const std::string_view trimmed = TextUnicode::trimSpaces(query);
    if (trimmed.empty())
        return candidates;
    const auto scored = SearchRanker::rankIndices(
        candidates, trimmed, scorer_, [](const WindowInfo& window) { return window.searchText(); },
        [](const WindowInfo& window) { return window.appName + " " + window.title; }, 1);
    std::vector<WindowInfo> ranked;
    ranked.reserve(scored.size());
    for (const auto& entry : scored)
        ranked.push_back(candidates[entry.index]);

    const std::vector<std::string> targets = shortcuts_.targets(trimmed);
    if (targets.empty())
        return ranked;

    // Each target's windows, in most-recent order, go in front of those of
    // the targets learned before it; a window is listed once, where its
    // newest target puts it.
    std::vector<WindowInfo> boosted;
    std::unordered_set<WindowID> lifted;
    for (auto target = targets.rbegin(); target != targets.rend(); ++target) {
        std::vector<WindowInfo> block;
        for (const WindowInfo& window : candidates)
            if (targetNames(*target, window))
                block.push_back(window);
        if (block.empty())
            continue;
        std::unordered_set<WindowID> ids;
        for (const auto& window : block)
            ids.insert(window.id);
        std::erase_if(boosted, [&](const WindowInfo& window) { return ids.contains(window.id); });
        boosted.insert(boosted.begin(), block.begin(), block.end());
        lifted.insert(ids.begin(), ids.end());
    }
    std::erase_if(ranked, [&](const WindowInfo& window) { return lifted.contains(window.id); });
    boosted.insert(boosted.end(), std::make_move_iterator(ranked.begin()), std::make_move_iterator(ranked.end()));
    return boosted;
}

void SearchController::toggle()
{
    if (panel_.isVisible()) {
        panel_.cancel();
        return;
    }
    lastQuery_.clear();
    std::vector<WindowInfo> list = candidates();
    topResultID_ = firstID(list);
    panel_.show(list, std::nullopt);
}

void SearchController::queryChanged(std::string_view text)
{
    SignpostInterval interval(rankSignpost, rankSignpostCategory);
    lastQuery_ = std::string(text);
    std::vector<WindowInfo> ranked = rank(candidates(), text);
    topResultID_ = firstID(ranked);
    panel_.update(ranked);
}

void SearchController::commit(const WindowInfo& window, std::string_view query)
{
    // Closed since it was listed: its id may belong to another window by now.
    if (!store_.window(window.id)) {
        log_.info("not focusing %{public}s: the window is gone", window.appName);
        return;
    }
    const std::string_view trimmed = TextUnicode::trimSpaces(query);
    if (!trimmed.empty() && (!topResultID_ || window.id != *topResultID_)) {
        // The application first, so the chosen window, learned a moment
        // later, leads its application's windows next time.
        const LearnedShortcuts before = shortcuts_;
        shortcuts_.record(trimmed, appKey(window), LearnedShortcuts::Date::now());
        shortcuts_.record(trimmed, key(window), LearnedShortcuts::Date::now());
        // Only a real change is written: an unreadable file stays as it is
        // until something is learned.
        if (shortcuts_ != before) {
            if (auto error = shortcuts_.save(shortcutsFile_))
                log_.error("could not save learned shortcuts: %{public}s", *error);
            log_.info("learned “%{public}s” → %{public}s", trimmed, window.appName);
        }
    }
    if (focus)
        focus(window);
}

void SearchController::fastEvent(const FastSearchTap::Event& event)
{
    std::visit(
        [this](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, FastSearchTap::Began>) {
                if (panel_.isVisible())
                    return;
                fastActive_ = true;
                fastQuery_.clear();
                fastSelection_ = 0;
                fastItems_ = candidates();
                topResultID_ = firstID(fastItems_);
                log_.info("fast search began: %ld windows", static_cast<long>(fastItems_.size()));
                std::weak_ptr<SearchController*> weak = alive_;
                runLoop_.post([weak] {
                    auto self = weak.lock();
                    if (self && (*self)->fastActive_)
                        (*self)->panel_.showFast((*self)->fastQuery_, (*self)->fastItems_, std::nullopt);
                });
            } else if constexpr (std::is_same_v<E, FastSearchTap::Character>) {
                if (!fastActive_)
                    return;
                fastQuery_ += e.text;
                fastRerank();
                log_.info("fast query “%{public}s” → %ld results, top %{public}s", fastQuery_,
                          static_cast<long>(fastItems_.size()), fastItems_.empty() ? std::string("none") : fastItems_.front().appName);
            } else if constexpr (std::is_same_v<E, FastSearchTap::Backspace>) {
                if (!fastActive_ || fastQuery_.empty())
                    return;
                // One character, not one byte.
                do
                    fastQuery_.pop_back();
                while (!fastQuery_.empty() && (static_cast<unsigned char>(fastQuery_.back()) & 0xC0) == 0x80);
                fastRerank();
            } else if constexpr (std::is_same_v<E, FastSearchTap::MoveSelection>) {
                if (!fastActive_ || fastItems_.empty())
                    return;
                fastSelection_ = wrapSelection(fastSelection_ + e.delta, fastItems_.size());
                panel_.select(fastSelection_);
            } else if constexpr (std::is_same_v<E, FastSearchTap::Ended>) {
                if (!fastActive_)
                    return;
                fastActive_ = false;
                panel_.hide();
                log_.info("fast ended committed=%{bool}d query=“%{public}s” sel=%ld count=%ld", e.committed, fastQuery_,
                          static_cast<long>(fastSelection_), static_cast<long>(fastItems_.size()));
                // A bare press and release of the key switches nothing.
                if (!e.committed || (fastQuery_.empty() && fastSelection_ == 0))
                    return;
                if (fastSelection_ < 0 || static_cast<std::size_t>(fastSelection_) >= fastItems_.size())
                    return;
                const WindowInfo chosen = fastItems_[static_cast<std::size_t>(fastSelection_)];
                commit(chosen, std::string(fastQuery_));
            }
        },
        event);
}

void SearchController::fastRerank()
{
    fastItems_ = rank(candidates(), fastQuery_);
    topResultID_ = firstID(fastItems_);
    fastSelection_ = 0;
    panel_.updateFast(fastQuery_, fastItems_);
}

} // namespace vantrel
