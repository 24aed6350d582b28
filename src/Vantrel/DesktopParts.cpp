// The application's real pieces: the factory and environment `main` hands the delegate.
#include "Vantrel/DesktopParts.h"

#include "Commerce/Updater.h"
#include "InputEngine/SecureInput.h"
#include "PanelUI/MirrorPanels.h"
#include "PanelUI/PanelStyle.h"
#include "PanelUI/SearchPanel.h"
#include "PanelUI/SwitcherPanel.h"
#include "SettingsUI/SettingsModel.h"
#include "SettingsUI/SettingsView.h"
#include "SystemBridge/AXBridge.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/SymbolicHotKeys.h"
#include "Vantrel/DesktopEnvironment.h"
#include "Vantrel/OnboardingWindow.h"
#include "Vantrel/SearchController.h"
#include "Vantrel/SwitcherController.h"
#include "Vantrel/TrayIcon.h"
#include "WindowTracker/AXWindowTracker.h"

#include <QApplication>
#include <QStyle>

#include <cstdlib>

namespace vantrel {

namespace {

class UpdaterDialog final : public UpdaterService {
public:
    explicit UpdaterDialog(std::string version) : updater_(std::move(version)) {}
    void checkForUpdates() override { updater_.checkForUpdates(); }

private:
    Updater updater_;
};

class QtPanels final : public AppPanels {
public:
    SwitcherPanelInterface& switcher() override { return switcherPanel; }
    SearchPanelInterface& search() override { return searchPanel; }
    void applyStyle(AppearanceMode appearance, double textScale) override
    {
        PanelStyle::setAppearance(appearance);
        PanelStyle::setTextScale(textScale);
        switcherPanel.applyStyle();
        searchPanel.applyStyle();
    }

    SwitcherPanel switcherPanel;
    SearchPanel searchPanel;
};

class ControllerSwitcher final : public SwitcherService {
public:
    ControllerSwitcher(RunLoop& runLoop, WindowStore& store, QtPanels& panels, SettingsStore& settings)
        : environment_(runLoop),
          controller_(runLoop, store, panels.switcherPanel, settings, environment_,
                      std::make_unique<MirrorPanels>(&panels.switcherPanel))
    {
    }
    void start() override { controller_.start(); }
    void stop() override { controller_.stop(); }
    void applySettings() override { controller_.applySettings(); }
    void pauseHotKeys() override { controller_.pauseHotKeys(); }
    void storeChanged() override { controller_.storeChanged(); }
    void focus(const WindowInfo& window) override { controller_.focus(window); }
    void perform(ItemAction action, const WindowInfo& window) override { controller_.perform(action, window); }

private:
    DesktopEnvironment environment_;
    SwitcherController controller_;
};

class ControllerSearch final : public SearchService {
public:
    ControllerSearch(RunLoop& runLoop, WindowStore& store, QtPanels& panels, SettingsStore& settings,
                     std::function<void(const WindowInfo&)> focus,
                     std::function<void(ItemAction, const WindowInfo&)> perform)
        : controller_(runLoop, store, panels.searchPanel, settings)
    {
        controller_.focus = std::move(focus);
        controller_.perform = [perform = std::move(perform)](const WindowInfo& window, ItemAction action) {
            perform(action, window);
        };
    }
    void start() override { controller_.start(); }
    void stop() override { controller_.stop(); }
    void pause() override { controller_.pause(); }
    void applySettings() override { controller_.applySettings(); }
    void queryChanged(const std::string& query) override { controller_.queryChanged(query); }
    void retryFastSearchIfNeeded() override { controller_.retryFastSearchIfNeeded(); }

private:
    SearchController controller_;
};

/// The settings window over its model; both live as long as the delegate.
class SettingsWindow final : public PresentedWindow {
public:
    SettingsWindow(SettingsStore& store, std::function<std::vector<WindowInfo>()> windows)
        : model_(store, {.windows = std::move(windows), .launchAtLogin = std::nullopt, .input = nullptr}), view_(model_)
    {
    }
    void present() override { view_.present(); }

private:
    SettingsModel model_;
    SettingsView view_;
};

} // namespace

DesktopFactory::DesktopFactory(RunLoop& runLoop, std::string version, std::function<void()> openHelp)
    : runLoop_(runLoop), version_(std::move(version)), openHelp_(std::move(openHelp))
{
}

std::unique_ptr<UpdaterService> DesktopFactory::makeUpdater() { return std::make_unique<UpdaterDialog>(version_); }

std::unique_ptr<TrayService> DesktopFactory::makeTray() { return TrayIcon::make(); }

std::unique_ptr<WindowStore> DesktopFactory::makeStore()
{
    return std::make_unique<WindowStore>(std::make_unique<AXWindowTracker>(runLoop_));
}

std::unique_ptr<AppPanels> DesktopFactory::makePanels() { return std::make_unique<QtPanels>(); }

std::unique_ptr<SwitcherService> DesktopFactory::makeSwitcher(WindowStore& store, AppPanels& panels, SettingsStore& settings)
{
    // The delegate hands back the panels this factory made.
    return std::make_unique<ControllerSwitcher>(runLoop_, store, static_cast<QtPanels&>(panels), settings);
}

std::unique_ptr<SearchService> DesktopFactory::makeSearch(WindowStore& store, AppPanels& panels, SettingsStore& settings,
                                                          std::function<void(const WindowInfo&)> focus,
                                                          std::function<void(ItemAction, const WindowInfo&)> perform)
{
    return std::make_unique<ControllerSearch>(runLoop_, store, static_cast<QtPanels&>(panels), settings,
                                              std::move(focus), std::move(perform));
}

std::unique_ptr<OnboardingService> DesktopFactory::makeOnboarding()
{
    return std::make_unique<OnboardingWindow>(runLoop_, [] { return AXBridge::isTrusted(); }, openHelp_);
}

std::unique_ptr<PresentedWindow> DesktopFactory::makeSettingsWindow(SettingsStore& settings,
                                                                    std::function<std::vector<WindowInfo>()> windows)
{
    return std::make_unique<SettingsWindow>(settings, std::move(windows));
}

DesktopAppEnvironment::DesktopAppEnvironment() : desktopPalette_(QApplication::palette()) {}

void DesktopAppEnvironment::installHotKeyGuard() { SymbolicHotKeyGuard::install(); }

bool DesktopAppEnvironment::reassertAtLaunch() { return SymbolicHotKeyGuard::reassertAtLaunch(); }

void DesktopAppEnvironment::restoreSystemHotKeys() { SymbolicHotKeys::restore(); }

bool DesktopAppEnvironment::isDesktopReady() { return AXBridge::isTrusted(); }

std::optional<std::string> DesktopAppEnvironment::variable(std::string_view name)
{
    if (const char* value = std::getenv(std::string(name).c_str()))
        return std::string(value);
    return std::nullopt;
}

bool DesktopAppEnvironment::secureInputEnabled() { return SecureInput::isEnabled(); }

std::optional<std::int32_t> DesktopAppEnvironment::secureInputCulprit() { return SecureInput::culpritPID(); }

std::optional<std::string> DesktopAppEnvironment::applicationName(std::int32_t pid)
{
    auto workspace = SystemBridge::installed().workspace;
    auto application = workspace ? workspace->runningApplication(pid) : std::nullopt;
    return application ? application->localizedName : std::nullopt;
}

void DesktopAppEnvironment::terminateApplication(std::int32_t pid)
{
    if (auto workspace = SystemBridge::installed().workspace)
        workspace->terminate(pid);
}

void DesktopAppEnvironment::applyAppearance(AppearanceMode appearance)
{
    switch (appearance) {
    case AppearanceMode::system:
        QApplication::setPalette(desktopPalette_);
        break;
    case AppearanceMode::light:
        QApplication::setPalette(QApplication::style()->standardPalette());
        break;
    case AppearanceMode::dark: {
        QPalette dark;
        const QColor window(0x2d, 0x2d, 0x30), base(0x1e, 0x1e, 0x20), text(0xf0, 0xf0, 0xf0);
        dark.setColor(QPalette::Window, window);
        dark.setColor(QPalette::WindowText, text);
        dark.setColor(QPalette::Base, base);
        dark.setColor(QPalette::AlternateBase, window);
        dark.setColor(QPalette::Text, text);
        dark.setColor(QPalette::Button, window);
        dark.setColor(QPalette::ButtonText, text);
        dark.setColor(QPalette::ToolTipBase, base);
        dark.setColor(QPalette::ToolTipText, text);
        dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x9e));
        dark.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd6));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
        dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
        dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
        QApplication::setPalette(dark);
        break;
    }
    }
}

void DesktopAppEnvironment::requestQuit()
{
    // exit, not quit: quit asks every window to close first, and gives up
    // when one refuses, as the settings window does (it only hides).
    QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

} // namespace vantrel
