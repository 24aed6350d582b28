// The pieces the application delegate owns and the system it asks, each behind a narrow interface.
#pragma once

#include "Vantrel/SearchPanels.h"
#include "Vantrel/SwitcherPanels.h"
#include "VantrelCore/Settings.h"
#include "VantrelCore/SettingsStore.h"
#include "VantrelCore/WindowStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// The switcher controller as the delegate drives it.
class SwitcherService {
public:
    virtual ~SwitcherService() = default;
    /// Observes the frontmost application, wires the panel, registers hot keys.
    virtual void start() = 0;
    /// Unregisters every hot key and gives back what was taken over.
    virtual void stop() = 0;
    /// Registers the hot keys the current settings ask for.
    virtual void applySettings() = 0;
    /// Unregisters every hot key until the next `applySettings`.
    virtual void pauseHotKeys() = 0;
    /// The window store changed.
    virtual void storeChanged() = 0;
    /// Records the window as most recently used, then focuses it.
    virtual void focus(const WindowInfo& window) = 0;
    /// Carries out a panel's item action on the window.
    virtual void perform(ItemAction action, const WindowInfo& window) = 0;
};

/// The search controller as the delegate drives it.
class SearchService {
public:
    virtual ~SearchService() = default;
    /// Registers the search chord and installs Fast Search.
    virtual void start() = 0;
    /// Fast Search off, search chord unregistered.
    virtual void stop() = 0;
    /// Search chord and Fast Search removed until the next `applySettings`.
    virtual void pause() = 0;
    /// Registers what the current settings ask for.
    virtual void applySettings() = 0;
    /// Re-ranks the visible search panel for `query`.
    virtual void queryChanged(const std::string& query) = 0;
    /// Installs Fast Search if it is wanted and was not available before.
    virtual void retryFastSearchIfNeeded() = 0;
};

/// Both panels, created together.
class AppPanels {
public:
    virtual ~AppPanels() = default;
    virtual SwitcherPanelInterface& switcher() = 0;
    virtual SearchPanelInterface& search() = 0;
    /// Sets the panels' text scale and look, and redraws both.
    virtual void applyStyle(AppearanceMode appearance, double textScale) = 0;
};

/// A window the delegate creates once and brings forward on request.
class PresentedWindow {
public:
    virtual ~PresentedWindow() = default;
    /// Shows the window (again) and brings it to the front.
    virtual void present() = 0;
};

/// The window shown while the desktop is not ready for switching.
class OnboardingService : public PresentedWindow {
public:
    /// Called when the desktop has become ready.
    std::function<void()> onGranted;
};

/// "Check for Updates…".
class UpdaterService {
public:
    virtual ~UpdaterService() = default;
    virtual void checkForUpdates() = 0;
};

/// What a menu item does when chosen.
enum class MenuAction { none, showOnboarding, quitSecureInputApp, checkForUpdates, showSettings, quit };

/// One row of the tray menu.
struct MenuItem {
    std::string title;
    MenuAction action = MenuAction::none;
    /// The shortcut shown beside the title ("Ctrl+,"), empty for none.
    std::string shortcut;
    bool separator = false;

    /// Rows without an action are shown disabled.
    bool enabled() const { return !separator && action != MenuAction::none; }
    bool operator==(const MenuItem&) const = default;
};

/// The tray icon with its menu.
class TrayService {
public:
    virtual ~TrayService() = default;
    /// Replaces the menu.
    virtual void setMenu(const std::vector<MenuItem>& items) = 0;
    /// The warning icon while secure input is on, else the normal one.
    virtual void setWarning(bool warning) = 0;
    /// Whether a system tray holds the icon now; a tray that appears later
    /// (a panel started after us at login) takes it then.
    virtual bool isDocked() const = 0;
    /// A menu row was chosen.
    std::function<void(MenuAction)> onAction;
};

/// Creates the long-lived objects; each is made once, when first needed.
class AppFactory {
public:
    virtual ~AppFactory() = default;
    virtual std::unique_ptr<UpdaterService> makeUpdater() = 0;
    /// Null when the desktop can never show one.
    virtual std::unique_ptr<TrayService> makeTray() = 0;
    /// The window store over the window tracker; not started.
    virtual std::unique_ptr<WindowStore> makeStore() = 0;
    virtual std::unique_ptr<AppPanels> makePanels() = 0;
    virtual std::unique_ptr<SwitcherService> makeSwitcher(WindowStore& store, AppPanels& panels,
                                                          SettingsStore& settings) = 0;
    /// `focus` and `perform` reach the switcher without owning it.
    virtual std::unique_ptr<SearchService> makeSearch(WindowStore& store, AppPanels& panels, SettingsStore& settings,
                                                      std::function<void(const WindowInfo&)> focus,
                                                      std::function<void(ItemAction, const WindowInfo&)> perform) = 0;
    virtual std::unique_ptr<OnboardingService> makeOnboarding() = 0;
    /// `windows` lists the window store's windows (none before switching starts).
    virtual std::unique_ptr<PresentedWindow> makeSettingsWindow(SettingsStore& settings,
                                                                std::function<std::vector<WindowInfo>()> windows) = 0;
};

/// What the delegate asks of the system around it.
class AppEnvironment {
public:
    virtual ~AppEnvironment() = default;
    /// Exit and signal hooks that give back taken-over system shortcuts.
    virtual void installHotKeyGuard() = 0;
    /// Repairs shortcuts an earlier run left off; true when it did.
    virtual bool reassertAtLaunch() = 0;
    /// Gives back every system shortcut recorded as taken over.
    virtual void restoreSystemHotKeys() = 0;
    /// The desktop can be switched on (on X11: an EWMH window manager answers).
    virtual bool isDesktopReady() = 0;
    /// An environment variable of the process.
    virtual std::optional<std::string> variable(std::string_view name) = 0;
    /// Secure keyboard input is on.
    virtual bool secureInputEnabled() = 0;
    /// The process that turned it on, when reported.
    virtual std::optional<std::int32_t> secureInputCulprit() = 0;
    /// The running application's name.
    virtual std::optional<std::string> applicationName(std::int32_t pid) = 0;
    /// Asks the application to quit.
    virtual void terminateApplication(std::int32_t pid) = 0;
    /// The application's light, dark or desktop-following look.
    virtual void applyAppearance(AppearanceMode appearance) = 0;
    /// Ends the event loop; the owner then runs the quit steps.
    virtual void requestQuit() = 0;
};

} // namespace vantrel
