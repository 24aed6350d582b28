// The application delegate: owns every long-lived object, starts and stops them in order, runs the tray menu.
#include "Vantrel/AppDelegate.h"

namespace vantrel {

AppDelegate::AppDelegate(RunLoop& runLoop, AppFactory& factory, AppEnvironment& environment,
                         std::shared_ptr<SettingsStore> settingsStore, std::string version)
    : runLoop_(runLoop), factory_(factory), environment_(environment), version_(std::move(version)),
      settingsStore_(std::move(settingsStore)), alive_(std::make_shared<AppDelegate*>(this))
{
}

AppDelegate::~AppDelegate()
{
    if (secureInputTimer_)
        secureInputTimer_->invalidate();
    // The stores outlive the callbacks that lead back here.
    settingsStore_->onChange = nullptr;
    settingsStore_->onRecordingChange = nullptr;
    if (store_)
        store_->onChange = nullptr;
}

template <class F>
auto AppDelegate::weakly(F action)
{
    return [weak = std::weak_ptr<AppDelegate*>(alive_), action](auto&&... args) {
        if (auto self = weak.lock())
            action(**self, std::forward<decltype(args)>(args)...);
    };
}

void AppDelegate::applicationDidFinishLaunching()
{
    environment_.installHotKeyGuard();
    if (environment_.reassertAtLaunch())
        log_.error("re-enabled system ⌘Tab left disabled by a previous run");
    updater_ = factory_.makeUpdater();
    installStatusItem();
    if (environment_.isDesktopReady())
        startSwitcher();
    else
        showOnboarding();
    if (environment_.variable("VANTREL_OPEN_SETTINGS") == "1")
        showSettings();
}

void AppDelegate::applicationWillTerminate()
{
    // Controllers that were never made registered nothing; making them now
    // would only build panels to tear them down again.
    if (controller_)
        controller_->stop();
    if (search_)
        search_->stop();
    environment_.restoreSystemHotKeys();
}

AppPanels& AppDelegate::panels()
{
    if (!panels_)
        panels_ = factory_.makePanels();
    return *panels_;
}

SwitcherService& AppDelegate::controller()
{
    if (!controller_) {
        if (!store_)
            store_ = factory_.makeStore();
        controller_ = factory_.makeSwitcher(*store_, panels(), *settingsStore_);
    }
    return *controller_;
}

SearchService& AppDelegate::search()
{
    if (!search_) {
        if (!store_)
            store_ = factory_.makeStore();
        search_ = factory_.makeSearch(
            *store_, panels(), *settingsStore_,
            weakly([](AppDelegate& self, const WindowInfo& window) { self.controller().focus(window); }),
            weakly([](AppDelegate& self, ItemAction action, const WindowInfo& window) {
                self.controller().perform(action, window);
            }));
    }
    return *search_;
}

void AppDelegate::startSwitcher()
{
    if (started_)
        return;
    started_ = true;
    panels();
    if (!store_)
        store_ = factory_.makeStore();
    runLoop_.post(weakly([](AppDelegate& self) { self.store_->start(); }));
    controller().start();
    search().start();
    store_->onChange = weakly([](AppDelegate& self) {
        self.controller().storeChanged();
        if (self.panels().search().isVisible())
            self.search().queryChanged(self.panels().search().query());
    });
    applyAppearance(settingsStore_->settings());
    settingsStore_->onChange = weakly([](AppDelegate& self, const Settings& settings) {
        self.applyAppearance(settings);
        self.controller().applySettings();
        self.search().applySettings();
    });
    settingsStore_->onRecordingChange = weakly([](AppDelegate& self, bool recording) {
        if (recording) {
            self.controller().pauseHotKeys();
            self.search().pause();
        } else {
            self.controller().applySettings();
            self.search().applySettings();
        }
    });
    refreshMenu();
    startSecureInputWatch();
}

void AppDelegate::applyAppearance(const Settings& settings)
{
    environment_.applyAppearance(settings.appearance);
    panels().applyStyle(settings.appearance, settings.textScale);
}

void AppDelegate::installStatusItem()
{
    tray_ = factory_.makeTray();
    if (!tray_ || !tray_->isDocked())
        log_.notice("no system tray on this desktop; vantrel --settings and vantrel --quit reach the menu's commands");
    if (!tray_)
        return;
    tray_->onAction = weakly([](AppDelegate& self, MenuAction action) { self.perform(action); });
    tray_->setMenu(buildMenu());
}

void AppDelegate::refreshMenu()
{
    if (tray_)
        tray_->setMenu(buildMenu());
}

std::vector<MenuItem> AppDelegate::buildMenu() const
{
    MenuState state;
    state.version = version_;
    state.desktopReady = environment_.isDesktopReady();
    state.secureInputCulprit = secureInputCulprit_;
    if (secureInputCulprit_ && *secureInputCulprit_ >= 1)
        state.culpritName = environment_.applicationName(*secureInputCulprit_);
    return vantrel::buildMenu(state);
}

void AppDelegate::perform(MenuAction action)
{
    switch (action) {
    case MenuAction::none:
        break;
    case MenuAction::showOnboarding:
        showOnboarding();
        break;
    case MenuAction::quitSecureInputApp:
        quitSecureInputApp();
        break;
    case MenuAction::checkForUpdates:
        checkForUpdates();
        break;
    case MenuAction::showSettings:
        showSettings();
        break;
    case MenuAction::quit:
        environment_.requestQuit();
        break;
    }
}

void AppDelegate::showOnboarding()
{
    if (!onboarding_) {
        onboarding_ = factory_.makeOnboarding();
        onboarding_->onGranted = weakly([](AppDelegate& self) { self.startSwitcher(); });
    }
    onboarding_->present();
}

void AppDelegate::showSettings()
{
    if (!settingsWindow_)
        settingsWindow_ = factory_.makeSettingsWindow(*settingsStore_, [weak = std::weak_ptr<AppDelegate*>(alive_)] {
            auto self = weak.lock();
            return self && (*self)->store_ ? (*self)->store_->ordered() : std::vector<WindowInfo>{};
        });
    settingsWindow_->present();
}

void AppDelegate::checkForUpdates()
{
    if (!updater_)
        updater_ = factory_.makeUpdater();
    updater_->checkForUpdates();
}

void AppDelegate::quitSecureInputApp()
{
    if (secureInputCulprit_ && *secureInputCulprit_ > 0)
        environment_.terminateApplication(*secureInputCulprit_);
}

void AppDelegate::startSecureInputWatch()
{
    if (secureInputTimer_)
        secureInputTimer_->invalidate();
    secureInputTimer_ = runLoop_.scheduleRepeating(secureInputInterval, secureInputInterval,
                                                   weakly([](AppDelegate& self) { self.checkSecureInput(); }));
}

void AppDelegate::checkSecureInput()
{
    search().retryFastSearchIfNeeded();
    std::optional<std::int32_t> culprit;
    if (environment_.secureInputEnabled())
        culprit = environment_.secureInputCulprit().value_or(-1);
    if (culprit == secureInputCulprit_)
        return;
    secureInputCulprit_ = culprit;
    if (tray_) {
        tray_->setWarning(culprit.has_value());
        tray_->setMenu(buildMenu());
    }
    if (culprit)
        log_.error("Secure Input enabled by pid %d; Fast Search unavailable", *culprit);
}

} // namespace vantrel
