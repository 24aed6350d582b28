// The window shown while the desktop cannot be switched: what Vantrel needs, and a check once a second.
#include "Vantrel/OnboardingWindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

const std::array<std::string_view, 4> OnboardingWindow::paragraphs = {
    "To list your windows and switch between them, Vantrel asks the window manager, which must follow the EWMH "
    "standard. Vantrel reads window titles only — it never records your screen.",
    "Start a window manager that supports EWMH (openbox, xfwm4, KWin, Mutter, i3 and most others do), then come "
    "back here.",
    "Vantrel then answers Super+Tab while it runs (released when it quits). You can change the chords in Settings.",
    "Fast Search (hold a key and type) works with every hold key except Fn, which PC keyboards keep to themselves — "
    "Settings offers the others.",
};

namespace {

QString text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

/// The layout's sizes are those of a desktop whose body text is 13 points;
/// here they scale with the desktop's own body font.
QFont scaled(const QFont& base, double points, QFont::Weight weight = QFont::Normal)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * points / 13.0);
    font.setWeight(weight);
    return font;
}

constexpr int textWidth = 420;

} // namespace

OnboardingWindow::OnboardingWindow(RunLoop& runLoop, std::function<bool()> isReady, std::function<void()> openHelp)
    : runLoop_(runLoop), isReady_(std::move(isReady)), openHelp_(std::move(openHelp)),
      alive_(std::make_shared<OnboardingWindow*>(this))
{
    setWindowTitle(text(title));
    setWindowFlag(Qt::Dialog);
    resize(460, 260);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(14);
    layout->setContentsMargins(20, 20, 20, 20);
    // The window takes the size its wrapped texts need.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* headingLabel = new QLabel(text(heading), this);
    headingLabel->setFont(scaled(font(), 17, QFont::DemiBold));
    headingLabel->setWordWrap(true);
    headingLabel->setFixedWidth(textWidth);
    layout->addWidget(headingLabel);

    QStringList body;
    for (auto paragraph : paragraphs)
        body << text(paragraph);
    auto* bodyLabel = new QLabel(body.join("\n\n"), this);
    bodyLabel->setWordWrap(true);
    bodyLabel->setFixedWidth(textWidth);
    layout->addWidget(bodyLabel);

    button_ = new QPushButton(text(buttonText), this);
    button_->setDefault(true);
    button_->setAutoDefault(true);
    connect(button_, &QPushButton::clicked, this, [this] {
        if (openHelp_)
            openHelp_();
    });
    layout->addWidget(button_, 0, Qt::AlignLeft);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setFixedWidth(textWidth);
    status_->setFont(scaled(font(), 12));
    status_->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(status_);

    adjustSize();
}

OnboardingWindow::~OnboardingWindow()
{
    if (pollTimer_)
        pollTimer_->invalidate();
    if (closeTimer_)
        closeTimer_->invalidate();
}

void OnboardingWindow::present()
{
    updateStatus();
    if (!isVisible())
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
    activateWindow();
    button_->setFocus();
    if (reported_)
        return;
    if (pollTimer_)
        pollTimer_->invalidate();
    std::weak_ptr<OnboardingWindow*> weak = alive_;
    pollTimer_ = runLoop_.scheduleRepeating(pollInterval, pollInterval, [weak] {
        if (auto self = weak.lock())
            (*self)->updateStatus();
    });
}

void OnboardingWindow::updateStatus()
{
    if (!isReady_()) {
        status_->setText(text(waitingText));
        status_->setStyleSheet({});
        return;
    }
    status_->setText(text(readyText));
    status_->setStyleSheet("color: #1a9e3a;");
    if (pollTimer_) {
        pollTimer_->invalidate();
        pollTimer_.reset();
    }
    // Reported once: presenting the window again after that only shows it.
    if (!reported_) {
        reported_ = true;
        if (onGranted)
            onGranted();
    }
    if (closeTimer_)
        closeTimer_->invalidate();
    std::weak_ptr<OnboardingWindow*> weak = alive_;
    closeTimer_ = runLoop_.schedule(closeDelay, [weak] {
        if (auto self = weak.lock())
            (*self)->close();
    });
}

QString OnboardingWindow::statusText() const { return status_->text(); }

} // namespace vantrel
