// The switcher session: opening, stepping, key repeat, delayed showing, filtering, refreshing and committing;
// the hot keys, the pause list, focusing and the item actions.
#include "Vantrel/SwitcherController.h"

#include "SearchKit/SearchRanker.h"
#include "SystemBridge/SymbolicHotKeys.h"
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
constexpr const char* workQueueLabel = "org.vantrel.switcher.work";

// Spaces and tabs only: a pasted line break is part of what the user typed.
std::string_view trimBlanks(std::string_view text)
{
    auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string_view actionName(ItemAction action)
{
    switch (action) {
    case ItemAction::close: return "close";
    case ItemAction::quit: return "quit";
    case ItemAction::minimize: return "minimize";
    case ItemAction::hide: return "hide";
    }
    return "?";
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
                                       std::unique_ptr<MirrorPanelsInterface> mirrors, std::shared_ptr<SerialQueue> workQueue)
    : runLoop_(runLoop)
    , store_(store)
    , panel_(panel)
    , settingsStore_(settingsStore)
    , environment_(environment)
    , mirrors_(std::move(mirrors))
    , workQueue_(workQueue ? std::move(workQueue) : std::make_shared<ThreadSerialQueue>(workQueueLabel))
    , alive_(std::make_shared<SwitcherController*>(this))
{
}

SwitcherController::~SwitcherController()
{
    // The run loop may outlive the controller; its timers must not fire into it.
    endSession();
    // Registered hot keys live in the process's table; their handlers would
    // find nothing, but the grabs must not outlive their owner.
    for (auto& hotKey : hotKeys_)
        hotKey->unregister();
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

    const Duration delay = settingDelay(settingsStore_.settings().showDelayMilliseconds);
    if (delay <= Duration::zero()) {
        session_ = std::move(fresh);
        showPanel(*session_);
        commitIfReleasedBefore(config);
        return;
    }

    std::weak_ptr<SwitcherController*> weak = alive_;
    fresh.showTimer = runLoop_.schedule(delay, [weak, serial, id = config.id] {
        auto self = weak.lock();
        if (!self)
            return;
        SwitcherController& controller = **self;
        if (controller.hasSessionOf(id) && controller.sessionSerial_ == serial)
            controller.showPanel(*controller.session_);
    });
    session_ = std::move(fresh);
    commitIfReleasedBefore(config);
}

void SwitcherController::commitIfReleasedBefore(const SwitcherConfig& config)
{
    // The modifier feed and the hot keys are separate streams: with a quick
    // tap the release of the modifiers may come first. Waiting for another
    // release would leave the panel up with nothing held.
    constexpr Duration window = std::chrono::milliseconds(250);
    const auto release = std::exchange(earlyRelease_, std::nullopt);
    const std::uint64_t modifiers = config.activate.modifiers;
    if (release && (release->modifiers & modifiers) != 0 && (lastFlags_ & modifiers) == 0 &&
        runLoop_.now() - release->at <= window)
        flagsChanged(lastFlags_);
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
    const std::uint64_t released = lastFlags_ & ~flags;
    if ((flags & ~lastFlags_) != 0)
        earlyRelease_.reset();
    lastFlags_ = flags;
    if (!session_ && released != 0)
        earlyRelease_ = EarlyRelease{released, runLoop_.now()};
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
    const auto ranked = SearchRanker::rankIndices(
        base, trimmed, scorer, [](const WindowInfo& window) { return window.searchText(); },
        [](const WindowInfo& window) { return window.appName + " " + window.title; }, 1);
    std::vector<WindowInfo> result;
    result.reserve(ranked.size());
    for (const auto& entry : ranked)
        result.push_back(base[entry.index]);
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
    std::vector<WindowInfo> fresh = items(session_->config);
    if (fresh.empty()) {
        endSession();
        hideAll();
        return;
    }

    // The typed query keeps narrowing the refreshed list, so a window that
    // closes while the user types does not bring back the ones it hid.
    std::vector<WindowInfo> shown = filtered(fresh, session_->query);
    const std::ptrdiff_t selection = shown.empty() ? 0 : keptSelection(session_->items, session_->selection, shown);

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

void SwitcherController::start()
{
    std::weak_ptr<SwitcherController*> weak = alive_;
    activationObserver_ = environment_.observeFrontmost(
        [weak](const std::optional<std::string>& bundleID, const std::optional<std::string>& name) {
            if (auto self = weak.lock())
                (*self)->frontmostChanged(bundleID, name);
        });
    installPanelCallbacks();
    panel_.onAction = [weak](const WindowInfo& window, ItemAction action) {
        if (auto self = weak.lock())
            (*self)->perform(action, window);
    };
    modifierWatcher_ = ModifierWatcher::make();
    if (!modifierWatcher_) {
        log_.error("could not install flagsChanged tap; release-to-select disabled");
    } else {
        modifierWatcher_->onFlagsChanged = [weak](std::uint64_t flags) {
            if (auto self = weak.lock())
                (*self)->flagsChanged(flags);
        };
    }
    applySettings();
}

void SwitcherController::stop()
{
    unregisterHotKeys();
    restoreCommandTab();
}

void SwitcherController::applySettings()
{
    if (settingsStore_.isRecordingChord() || isPausedForFrontmostApp_)
        return;
    const Settings settings = settingsStore_.settings();
    unregisterHotKeys();
    const bool replaces = settings.replacesCommandTab();
    if (replaces)
        takeOverCommandTab(replaces);
    else
        restoreCommandTab();

    for (const SwitcherConfig& config : settings.switchers) {
        if (!config.isEnabled)
            continue;
        if (!registerChord(config, config.activate, false))
            log_.error("could not register activate chord for %{public}s", config.name);
        // Whatever became of the activate chord: moving up still works in a
        // session opened by the move-up chord itself.
        if (config.moveUp)
            registerChord(config, *config.moveUp, true);
    }
    log_.info("settings applied: %ld hotkeys, replacesCommandTab=%{bool}d", static_cast<long>(hotKeys_.size()), replaces);
}

bool SwitcherController::registerChord(const SwitcherConfig& config, const KeyChord& chord, bool up)
{
    std::weak_ptr<SwitcherController*> weak = alive_;
    // The id is known only once made; the handler learns it from the hot key.
    auto id = std::make_shared<std::uint32_t>(0);
    auto hotKey = HotKey::make(HotKey::Chord::from(chord), [weak, config, up, id] {
        if (auto self = weak.lock())
            (*self)->pressed(config, *id, up);
    });
    if (!hotKey)
        return false;
    *id = hotKey->id();
    hotKey->onRelease = [weak, id] {
        if (auto self = weak.lock())
            (*self)->released(*id);
    };
    hotKeys_.push_back(std::move(hotKey));
    return true;
}

void SwitcherController::pressed(const SwitcherConfig& config, std::uint32_t hotKeyID, bool up)
{
    heldHotKey_ = hotKeyID;
    // Never inline: the hot key's own dispatch is still on the stack.
    std::weak_ptr<SwitcherController*> weak = alive_;
    runLoop_.post([weak, config, hotKeyID, up] {
        auto self = weak.lock();
        if (!self)
            return;
        SwitcherController& controller = **self;
        up ? controller.moveUp(config) : controller.activate(config);
        // A release that came before this job already ended the hold.
        if (controller.heldHotKey_ == hotKeyID)
            controller.startRepeat(up ? -1 : +1, config);
    });
}

void SwitcherController::released(std::uint32_t hotKeyID)
{
    if (heldHotKey_ == hotKeyID)
        heldHotKey_.reset();
    stopRepeat();
}

void SwitcherController::unregisterHotKeys()
{
    for (auto& hotKey : hotKeys_)
        hotKey->unregister();
    hotKeys_.clear();
    heldHotKey_.reset();
    stopRepeat();
}

void SwitcherController::takeOverCommandTab(bool replaces)
{
    // Desktops without a system switcher shortcut (X11) answer unavailable;
    // there is nothing to take over, and saying so once is enough.
    if (!SymbolicHotKeys::isAvailable()) {
        if (replaces && !commandTabUnavailableLogged_) {
            commandTabUnavailableLogged_ = true;
            log_.info("no system ⌘Tab to disable on this desktop");
        }
        return;
    }
    if (!SymbolicHotKeys::takeOver(SymbolicHotKey::commandTab))
        log_.error("could not disable system ⌘Tab");
}

void SwitcherController::restoreCommandTab()
{
    if (SymbolicHotKeys::isAvailable())
        SymbolicHotKeys::restore(SymbolicHotKey::commandTab);
}

void SwitcherController::pauseHotKeys()
{
    endSession();
    panel_.hide();
    mirrors_->hide();
    unregisterHotKeys();
    restoreCommandTab();
}

void SwitcherController::frontmostChanged(const std::optional<std::string>& bundleID, const std::optional<std::string>& name)
{
    const bool pause = settingsStore_.settings().rules.shouldPause(bundleID, name);
    if (pause == isPausedForFrontmostApp_)
        return;
    isPausedForFrontmostApp_ = pause;
    log_.info("%s shortcuts for frontmost %{public}s", pause ? "pausing" : "resuming",
              name ? *name : bundleID ? *bundleID : std::string("?"));
    if (pause)
        pauseHotKeys();
    else
        applySettings();
}

void SwitcherController::focus(const WindowInfo& window)
{
    auto interval = std::make_shared<SignpostInterval>(focusSignpost, focusSignpostCategory);
    // A window that closed after it was listed: its id may already belong to
    // another window.
    if (!store_.window(window.id)) {
        log_.info("not focusing %{public}s: the window is gone", window.appName);
        return;
    }
    // Recorded first, so an immediate second press already sees the new order
    // whatever the focus attempt does.
    store_.noteFocused(window.id);
    workQueue_->async([interval, window, &environment = environment_, log = log_] {
        WindowFocus::Trace trace = environment.focusWindow(window);
        interval->end();
        if (!trace.succeeded())
            log.error("focus failed for %{public}s: %{public}s", window.appName, trace.summary());
    });
}

void SwitcherController::perform(ItemAction action, const WindowInfo& window)
{
    log_.info("action %{public}s on %{public}s", actionName(action), window.appName);
    switch (action) {
    case ItemAction::quit:
        environment_.quitApplication(window.pid);
        return;
    case ItemAction::hide:
        environment_.hideApplication(window.pid);
        return;
    case ItemAction::close:
    case ItemAction::minimize:
        // The window may be gone by the time this runs; the environment then
        // finds nothing and does nothing.
        workQueue_->async([action, window, &environment = environment_] {
            action == ItemAction::close ? environment.closeWindow(window) : environment.minimizeWindow(window);
        });
        return;
    }
}

} // namespace vantrel
