// The switcher session: opening, stepping, key repeat, delayed showing, filtering, refreshing and committing.
#include "Vantrel/SwitcherController.h"

#include "SearchKit/SearchRanker.h"
#include "VantrelCore/SelectionWrap.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <span>
#include <utility>

namespace vantrel {

namespace {

constexpr std::string_view noSession = "none";
constexpr const char* focusSignpost = "focus";
constexpr const char* focusSignpostCategory = "switch";

// Spaces and tabs only: a pasted line break is part of what the user typed.
std::string_view trimBlanks(std::string_view text)
{
    auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string hexFlags(std::uint64_t flags)
{
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%llx", static_cast<unsigned long long>(flags));
    return buffer;
}

} // namespace

SwitcherController::SwitcherController(RunLoop& runLoop, WindowStore& store, SwitcherPanelInterface& panel,
                                       SettingsStore& settingsStore, SwitcherEnvironment& environment,
                                       std::unique_ptr<MirrorPanelsInterface> mirrors)
    : runLoop_(runLoop)
    , store_(store)
    , panel_(panel)
    , settingsStore_(settingsStore)
    , environment_(environment)
    , mirrors_(std::move(mirrors))
    , alive_(std::make_shared<SwitcherController*>(this))
{
}

SwitcherController::~SwitcherController()
{
    // The run loop may outlive the controller; its timers must not fire into it.
    endSession();
}

std::vector<WindowInfo> SwitcherController::items(const SwitcherConfig& config) const
{
    // Narrowed copies only where a step drops windows; the last step makes the
    // one copy that is returned.
    const std::vector<WindowInfo>& ordered = store_.ordered();
    std::span<const WindowInfo> windows = ordered;
    std::vector<WindowInfo> narrowed;
    if (config.scope == SwitcherScope::activeApp) {
        if (auto frontmost = environment_.frontmostProcess()) {
            std::copy_if(windows.begin(), windows.end(), std::back_inserter(narrowed),
                         [pid = *frontmost](const WindowInfo& window) { return window.pid == pid; });
            windows = narrowed;
        }
    }
    const Settings& settings = settingsStore_.settings();
    // Spaces before placement, so a minimized window on another desktop is
    // dropped rather than moved to the bottom.
    if (settings.spacesFilter != SpacesFilter::allSpaces) {
        narrowed = settings.spaceFilter(windows, store_.visibleSpaceIDs(), store_.fullscreenSpaceIDs());
        windows = narrowed;
    }
    return settings.filter(windows);
}

bool SwitcherController::hasSessionOf(std::string_view configID) const
{
    return session_ && session_->config.id == configID;
}

std::string SwitcherController::sessionDescription() const
{
    return session_ ? session_->config.id : std::string(noSession);
}

void SwitcherController::setSelection(std::ptrdiff_t index)
{
    session_->selection = wrapSelection(index, session_->items.size());
    if (panel_.isVisible()) {
        panel_.select(session_->selection);
        mirrors_->select(session_->selection);
    }
}

void SwitcherController::activate(const SwitcherConfig& config)
{
    log_.debug("activate %{public}s; session=%{public}s", config.id, sessionDescription());
    if (hasSessionOf(config.id)) {
        setSelection(session_->selection + 1);
        return;
    }

    std::vector<WindowInfo> list = items(config);
    if (list.empty())
        return;

    // A replaced session's pending show would otherwise fire into whatever
    // session is open by then, possibly a later one of the same switcher.
    if (session_ && session_->showTimer)
        session_->showTimer->invalidate();

    Session fresh;
    fresh.config = config;
    fresh.selection = list.size() >= 2 ? 1 : 0;
    fresh.baseItems = list;
    fresh.items = std::move(list);
    std::uint64_t serial = ++sessionSerial_;

    const std::int64_t delayMilliseconds = settingsStore_.settings().showDelayMilliseconds;
    if (delayMilliseconds <= 0) {
        session_ = std::move(fresh);
        showPanel(*session_);
        return;
    }

    std::weak_ptr<SwitcherController*> weak = alive_;
    fresh.showTimer = runLoop_.schedule(std::chrono::milliseconds(delayMilliseconds), [weak, serial, id = config.id] {
        auto self = weak.lock();
        if (!self)
            return;
        SwitcherController& controller = **self;
        if (controller.hasSessionOf(id) && controller.sessionSerial_ == serial)
            controller.showPanel(*controller.session_);
    });
    session_ = std::move(fresh);
}

void SwitcherController::moveUp(const SwitcherConfig& config)
{
    log_.debug("moveUp %{public}s; session=%{public}s", config.id, sessionDescription());
    if (hasSessionOf(config.id)) {
        setSelection(session_->selection - 1);
        return;
    }
    activate(config);
    // Only a session this press opened: with an empty list, another
    // switcher's session stays as it was, selection included.
    if (hasSessionOf(config.id))
        setSelection(static_cast<std::ptrdiff_t>(session_->items.size()) - 1);
}

void SwitcherController::startRepeat(int step, const SwitcherConfig& config)
{
    stopRepeat();
    SwitcherEnvironment::KeyRepeat repeat = environment_.keyRepeat();
    Duration delay = std::max(repeat.delay, Duration::zero());
    Duration interval = std::max(repeat.interval, Duration(minimumRepeatInterval));

    std::weak_ptr<SwitcherController*> weak = alive_;
    // One timer for the delay and the interval: the first tick comes after
    // the delay, every later one after the interval.
    repeatTimer_ = runLoop_.scheduleRepeating(delay, interval, [weak, step, id = config.id] {
        auto self = weak.lock();
        if (!self)
            return;
        SwitcherController& controller = **self;
        if (controller.hasSessionOf(id))
            controller.step(step);
        else
            controller.stopRepeat();
    });
}

void SwitcherController::stopRepeat()
{
    if (repeatTimer_) {
        repeatTimer_->invalidate();
        repeatTimer_.reset();
    }
}

void SwitcherController::step(int delta)
{
    if (!session_)
        return;
    session_->selection = wrapSelection(session_->selection + delta, session_->items.size());
    log_.debug("repeat step → %ld", static_cast<long>(session_->selection));
    if (panel_.isVisible()) {
        panel_.select(session_->selection);
        mirrors_->select(session_->selection);
    }
}

void SwitcherController::flagsChanged(std::uint64_t flags)
{
    log_.debug("flags 0x%{public}s; session=%{public}s", hexFlags(flags), sessionDescription());
    if (!session_ || (flags & session_->config.activate.modifiers) != 0)
        return;

    if (session_->items.empty()) {
        endSession();
        hideAll();
        return;
    }
    WindowInfo chosen = session_->items[static_cast<std::size_t>(wrapSelection(session_->selection, session_->items.size()))];
    log_.info("modifiers released → commit %{public}s", chosen.appName);
    endSession();
    hideAll();
    focus(chosen);
}

std::vector<WindowInfo> SwitcherController::filtered(const std::vector<WindowInfo>& base, std::string_view query) const
{
    std::string_view trimmed = trimBlanks(query);
    if (trimmed.empty())
        return base;
    SearchScorer scorer(SearchScorer::Weights{}, settingsStore_.settings().allowOneMismatch);
    auto ranked = SearchRanker::rank(
        base, trimmed, scorer, [](const WindowInfo& window) { return window.searchText(); },
        [](const WindowInfo& window) { return window.appName + " " + window.title; });
    std::vector<WindowInfo> result;
    result.reserve(ranked.size());
    for (auto& entry : ranked)
        result.push_back(std::move(entry.item));
    return result;
}

void SwitcherController::queryChanged(std::string_view text)
{
    if (!session_)
        return;
    session_->items = filtered(session_->baseItems, text);
    session_->selection = 0;
    session_->query = std::string(text);

    panel_.setQuery(session_->query);
    panel_.update(session_->items);
    panel_.select(0);
    mirrors_->update(session_->items);
    mirrors_->select(0);
}

void SwitcherController::storeChanged()
{
    if (!session_)
        return;
    std::optional<WindowID> selected;
    if (session_->selection >= 0 && static_cast<std::size_t>(session_->selection) < session_->items.size())
        selected = session_->items[static_cast<std::size_t>(session_->selection)].id;

    std::vector<WindowInfo> fresh = items(session_->config);
    if (fresh.empty()) {
        endSession();
        hideAll();
        return;
    }

    // The typed query keeps narrowing the refreshed list, so a window that
    // closes while the user types does not bring back the ones it hid.
    std::vector<WindowInfo> shown = filtered(fresh, session_->query);
    std::ptrdiff_t selection = 0;
    auto same = selected ? std::find_if(shown.begin(), shown.end(), [id = *selected](const WindowInfo& w) { return w.id == id; })
                         : shown.end();
    if (same != shown.end())
        selection = same - shown.begin();
    else
        selection = std::clamp<std::ptrdiff_t>(session_->selection, 0, std::max<std::ptrdiff_t>(0, static_cast<std::ptrdiff_t>(shown.size()) - 1));

    session_->baseItems = std::move(fresh);
    session_->items = std::move(shown);
    session_->selection = selection;

    if (panel_.isVisible()) {
        panel_.update(session_->items);
        panel_.select(session_->selection);
        mirrors_->update(session_->items);
        mirrors_->select(session_->selection);
    }
}

void SwitcherController::showPanel(const Session& session)
{
    panel_.setSpaceNumbers(store_.spaceNumbers());
    panel_.setVisibleSpaceIDs(store_.visibleSpaceIDs());
    panel_.show(session.items, session.selection, std::nullopt, true);
    if (settingsStore_.settings().panelDisplayMode == PanelDisplayMode::allDisplays) {
        std::optional<ScreenIdentifier> screen = panel_.screen();
        if (!screen)
            screen = environment_.mainScreen();
        mirrors_->show(session.items, session.selection, screen);
    }
}

void SwitcherController::endSession()
{
    stopRepeat();
    if (session_ && session_->showTimer)
        session_->showTimer->invalidate();
    session_.reset();
}

void SwitcherController::hideAll()
{
    panel_.hide();
    mirrors_->hide();
}

void SwitcherController::panelCommitted(const WindowInfo& window)
{
    endSession();
    mirrors_->hide();
    focus(window);
}

void SwitcherController::panelCancelled()
{
    endSession();
    mirrors_->hide();
}

void SwitcherController::installPanelCallbacks()
{
    std::weak_ptr<SwitcherController*> weak = alive_;
    panel_.onCommit = [weak](const WindowInfo& window) {
        if (auto self = weak.lock())
            (*self)->panelCommitted(window);
    };
    panel_.onCancel = [weak] {
        if (auto self = weak.lock())
            (*self)->panelCancelled();
    };
    panel_.onQueryChanged = [weak](const std::string& text) {
        if (auto self = weak.lock())
            (*self)->queryChanged(text);
    };
}

void SwitcherController::focus(const WindowInfo& window)
{
    SignpostInterval interval(focusSignpost, focusSignpostCategory);
    // Recorded first, so an immediate second press already sees the new order
    // whatever the focus attempt does.
    store_.noteFocused(window.id);
    environment_.focusWindow(window);
}

} // namespace vantrel
