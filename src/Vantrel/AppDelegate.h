// The application delegate: owns every long-lived object, starts and stops them in order, runs the tray menu.
#pragma once

#include "Runtime/Log.h"
#include "Runtime/RunLoop.h"
#include "Vantrel/AppMenu.h"
#include "Vantrel/AppParts.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

/// One per process, main thread only. Everything it owns is created through
/// the factory when first needed; callbacks it installs refer to it without
/// owning it and do nothing once it is gone.
class AppDelegate {
public:
    /// How often secure input is checked (and Fast Search retried).
    static constexpr Duration secureInputInterval = std::chrono::seconds(2);

    /// The loop, factory and environment must outlive the delegate.
    AppDelegate(RunLoop& runLoop, AppFactory& factory, AppEnvironment& environment,
                std::shared_ptr<SettingsStore> settingsStore, std::string version);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    /// The launch steps: hot-key guard, updater, tray, switching or
    /// onboarding, then the settings window when VANTREL_OPEN_SETTINGS is "1".
    void applicationDidFinishLaunching();
    /// The quit steps: switcher, search, then every system shortcut given back.
    void applicationWillTerminate();

    /// Starts switching; does nothing after the first call.
    void startSwitcher();
    void showOnboarding();
    void showSettings();
    void checkForUpdates();
    /// Asks the application holding secure input to quit.
    void quitSecureInputApp();
    /// Runs a menu row's action.
    void perform(MenuAction action);
    /// One tick of the secure-input watch.
    void checkSecureInput();
    /// Applies the look and the text scale to the application and both panels.
    void applyAppearance(const Settings& settings);

    /// The tray menu as it stands now.
    std::vector<MenuItem> buildMenu() const;

    bool isStarted() const { return started_; }
    const std::optional<std::int32_t>& secureInputCulprit() const { return secureInputCulprit_; }
    /// Whether a tray icon exists.
    bool hasTray() const { return tray_ != nullptr; }

private:
    void installStatusItem();
    void startSecureInputWatch();
    void refreshMenu();
    AppPanels& panels();
    SwitcherService& controller();
    SearchService& search();
    /// `action` run later on the delegate, if it still exists.
    template <class F>
    auto weakly(F action);

    RunLoop& runLoop_;
    AppFactory& factory_;
    AppEnvironment& environment_;
    Logger log_{"app"};
    std::string version_;
    std::shared_ptr<SettingsStore> settingsStore_;

    std::unique_ptr<TrayService> tray_;
    std::unique_ptr<UpdaterService> updater_;
    std::unique_ptr<OnboardingService> onboarding_;
    std::unique_ptr<PresentedWindow> settingsWindow_;
    std::unique_ptr<WindowStore> store_;
    std::unique_ptr<AppPanels> panels_;
    // Destroyed before the store and panels they were built from.
    std::unique_ptr<SwitcherService> controller_;
    std::unique_ptr<SearchService> search_;
    bool started_ = false;
    std::shared_ptr<Timer> secureInputTimer_;
    std::optional<std::int32_t> secureInputCulprit_;
    std::shared_ptr<AppDelegate*> alive_;
};

} // namespace vantrel
