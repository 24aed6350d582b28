// The window shown while the desktop cannot be switched: what Vantrel needs, and a check once a second.
#pragma once

#include "Runtime/RunLoop.h"
#include "Vantrel/AppParts.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string_view>

class QLabel;
class QPushButton;

namespace vantrel {

/// On X11 the "permission" is a desktop Vantrel can work with: an EWMH window
/// manager that announces `_NET_SUPPORTING_WM_CHECK`, `_NET_CLIENT_LIST` and
/// `_NET_ACTIVE_WINDOW`. The window polls for one once a second while it
/// waits, reports it once through `onGranted`, and closes two seconds later.
class OnboardingWindow final : public QWidget, public OnboardingService {
public:
    static constexpr Duration pollInterval = std::chrono::seconds(1);
    static constexpr Duration closeDelay = std::chrono::seconds(2);

    static constexpr std::string_view title = "Welcome to Vantrel";
    static constexpr std::string_view heading = "Vantrel needs an EWMH window manager";
    static constexpr std::string_view waitingText = "Waiting for a window manager… (checking every second)";
    static constexpr std::string_view readyText = "✓ Window manager found — hold Super and press Tab.";
    static constexpr std::string_view buttonText = "Open Help…";
    /// The body's paragraphs, shown one empty line apart.
    static const std::array<std::string_view, 4> paragraphs;

    /// `isReady` checks the desktop; `openHelp` opens the help page.
    OnboardingWindow(RunLoop& runLoop, std::function<bool()> isReady, std::function<void()> openHelp);
    ~OnboardingWindow() override;

    /// Shows the window and, while the desktop is not ready, polls it.
    void present() override;
    /// Checks the desktop once.
    void updateStatus();

    /// The status line as shown.
    QString statusText() const;
    /// Whether the poll runs.
    bool isPolling() const { return pollTimer_ && pollTimer_->isValid(); }
    QPushButton* helpButton() const { return button_; }

private:
    RunLoop& runLoop_;
    std::function<bool()> isReady_;
    std::function<void()> openHelp_;
    QLabel* status_ = nullptr;
    QPushButton* button_ = nullptr;
    std::shared_ptr<Timer> pollTimer_;
    std::shared_ptr<Timer> closeTimer_;
    bool reported_ = false;
    std::shared_ptr<OnboardingWindow*> alive_;
};

} // namespace vantrel
