// Recording a chord through the input backend's keyboard grab, and drawing the field.
#include "SettingsUI/RecorderControl.h"

#include "InputEngine/InputBackend.h"
#include "SettingsUI/SettingsModel.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace vantrel {

RecorderControl::RecorderControl(QWidget* parent)
    : QWidget(parent), self_(std::make_shared<RecorderControl*>(this))
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

RecorderControl::~RecorderControl()
{
    *self_ = nullptr;
    grab_.reset();
}

void RecorderControl::setChord(std::optional<KeyChord> chord)
{
    if (chord == chord_)
        return;
    chord_ = chord;
    updateGeometry();
    update();
}

QSize RecorderControl::sizeHint() const
{
    constexpr int padding = 24;
    return {std::max(naturalSize.width(), fontMetrics().horizontalAdvance(text()) + padding), naturalSize.height()};
}

QString RecorderControl::text() const
{
    if (isRecording_)
        return tr("Press keys…");
    if (!chord_)
        return tr("None");
    return QString::fromStdString(chord_->displayString());
}

void RecorderControl::startRecording()
{
    if (isRecording_)
        return;
    isRecording_ = true;
    // Tell the owner first: it pauses the hot keys before the grab begins.
    if (onRecordingChanged)
        onRecordingChanged(true);
    update();
    auto backend = input ? input : currentInputBackend();
    std::weak_ptr<RecorderControl*> weak = self_;
    if (backend) {
        grab_ = backend->grabKeyboard(
            [weak](const KeyEvent& event) {
                auto self = weak.lock();
                if (self && *self && (*self)->isRecording_)
                    (*self)->handle(event);
            },
            GrabMode::everyKey);
    }
    // Another program holds the keyboard: nothing can be recorded.
    if (!grab_)
        stopRecording();
}

void RecorderControl::stopRecording()
{
    grab_.reset();
    if (!isRecording_)
        return;
    isRecording_ = false;
    if (onRecordingChanged)
        onRecordingChanged(false);
    update();
}

void RecorderControl::handle(const KeyEvent& event)
{
    if (event.kind == KeyEvent::Kind::flagsChanged) {
        update();
        return;
    }
    if (event.kind != KeyEvent::Kind::keyDown)
        return;
    if (event.keyCode == deleteKey && allowsEmpty && (event.modifierFlags & KeyChord::modifierMask) == 0) {
        record(std::nullopt);
        return;
    }
    if (event.keyCode == escapeKey) {
        stopRecording();
        return;
    }
    record(KeyChord::fromEvent(event));
}

void RecorderControl::record(std::optional<KeyChord> chord)
{
    chord_ = chord;
    updateGeometry();
    update();
    // The callback may rebuild the window; keep going only while this lives.
    std::weak_ptr<RecorderControl*> weak = self_;
    if (onChange)
        onChange(chord);
    if (auto self = weak.lock(); self && *self)
        stopRecording();
}

void RecorderControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = palette().color(QPalette::Highlight);
    QColor fill = palette().color(QPalette::Base);
    QColor border = palette().color(QPalette::Mid);
    QColor ink = chord_ ? palette().color(QPalette::Text) : palette().color(QPalette::PlaceholderText);
    if (isRecording_) {
        fill = accent;
        fill.setAlphaF(0.15f);
        border = accent;
        ink = accent;
    } else if (hasFocus()) {
        border = accent;
    }
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(border, hasFocus() && !isRecording_ ? 2.0 : 1.0));
    painter.setBrush(fill);
    painter.drawRoundedRect(bounds, cornerRadius, cornerRadius);
    painter.setPen(ink);
    painter.drawText(rect(), Qt::AlignCenter, fontMetrics().elidedText(text(), Qt::ElideRight, width() - 8));
}

void RecorderControl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    if (isRecording_)
        stopRecording();
    else
        startRecording();
}

void RecorderControl::keyPressEvent(QKeyEvent* event)
{
    // Keys reach Qt only while idle (recording holds the keyboard elsewhere).
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        startRecording();
    else
        QWidget::keyPressEvent(event);
}

void RecorderControl::focusOutEvent(QFocusEvent* event)
{
    // Holding the keyboard deactivates the window on X11; that is no loss of
    // focus for the recorder, which still gets every key.
    if (!(event->reason() == Qt::ActiveWindowFocusReason && grab_))
        stopRecording();
    QWidget::focusOutEvent(event);
}

void RecorderControl::hideEvent(QHideEvent* event)
{
    stopRecording();
    QWidget::hideEvent(event);
}

// ---- ChordRecorder

ChordRecorder::ChordRecorder(SettingsModel& model, Get get, Set set, bool allowsEmpty, QWidget* parent)
    : model_(model), get_(std::move(get)), control_(new RecorderControl(parent))
{
    control_->allowsEmpty = allowsEmpty;
    SettingsModel* target = &model_;
    control_->onChange = [target, set = std::move(set)](std::optional<KeyChord> chord) {
        target->edit([&](Settings& settings) { set(settings, chord); });
    };
    control_->onRecordingChanged = [target](bool recording) { target->setRecording(recording); };
    update();
}

void ChordRecorder::update()
{
    control_->setChord(get_(model_.settings()));
}

} // namespace vantrel
