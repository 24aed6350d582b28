// The application's real pieces: the factory and environment `main` hands the delegate.
#pragma once

#include "Runtime/Log.h"
#include "Runtime/RunLoop.h"
#include "Vantrel/AppParts.h"

#include <QPalette>

#include <functional>
#include <string>

namespace vantrel {

/// Builds every long-lived object over the installed bridge backends.
class DesktopFactory final : public AppFactory {
public:
    /// `openHelp` opens the help page (the onboarding window's button).
    DesktopFactory(RunLoop& runLoop, std::string version, std::function<void()> openHelp);

    std::unique_ptr<UpdaterService> makeUpdater() override;
    std::unique_ptr<TrayService> makeTray() override;
    std::unique_ptr<WindowStore> makeStore() override;
    std::unique_ptr<AppPanels> makePanels() override;
    std::unique_ptr<SwitcherService> makeSwitcher(WindowStore& store, AppPanels& panels, SettingsStore& settings) override;
    std::unique_ptr<SearchService> makeSearch(WindowStore& store, AppPanels& panels, SettingsStore& settings,
                                              std::function<void(const WindowInfo&)> focus,
                                              std::function<void(ItemAction, const WindowInfo&)> perform) override;
    std::unique_ptr<OnboardingService> makeOnboarding() override;
    std::unique_ptr<PresentedWindow> makeSettingsWindow(SettingsStore& settings,
                                                        std::function<std::vector<WindowInfo>()> windows) override;

private:
    RunLoop& runLoop_;
    std::string version_;
    std::function<void()> openHelp_;
};

/// The bridge, the input engine and the Qt application as the delegate sees them.
class DesktopAppEnvironment final : public AppEnvironment {
public:
    /// Remembers the desktop's palette, which `system` returns to.
    DesktopAppEnvironment();

    void installHotKeyGuard() override;
    bool reassertAtLaunch() override;
    void restoreSystemHotKeys() override;
    bool isDesktopReady() override;
    std::optional<std::string> variable(std::string_view name) override;
    bool secureInputEnabled() override;
    std::optional<std::int32_t> secureInputCulprit() override;
    std::optional<std::string> applicationName(std::int32_t pid) override;
    void terminateApplication(std::int32_t pid) override;
    void applyAppearance(AppearanceMode appearance) override;
    void requestQuit() override;

private:
    QPalette desktopPalette_;
};

} // namespace vantrel
