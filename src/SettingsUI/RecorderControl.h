// The field that sets a shortcut when the user presses it, and its binding to
// one chord of the settings.
#pragma once

#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/Settings.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

class InputBackend;
class InputSubscription;
class SettingsModel;

/// Click it (or press Space or Return on it), press a key combination, and it
/// holds that chord. While it records it holds the keyboard through the input
/// backend's grab, taking every key: chords the window manager or Vantrel
/// itself holds come here instead of to their owner.
class RecorderControl : public QWidget {
public:
    /// Key codes with a meaning while recording.
    static constexpr std::uint16_t deleteKey = KeyCodes::deleteKey;
    static constexpr std::uint16_t escapeKey = KeyCodes::escape;
    static constexpr int cornerRadius = 6;
    static constexpr QSize naturalSize{110, 24};

    explicit RecorderControl(QWidget* parent = nullptr);
    ~RecorderControl() override;

    std::optional<KeyChord> chord() const { return chord_; }
    /// Shows `chord`; does not call onChange.
    void setChord(std::optional<KeyChord> chord);
    /// Whether Delete (without modifiers) clears the chord; else it is recorded.
    bool allowsEmpty = true;
    /// Called when the user records a chord or clears it.
    std::function<void(std::optional<KeyChord>)> onChange;
    /// Called with true when recording starts and false when it stops.
    std::function<void(bool)> onRecordingChanged;
    /// The keyboard to grab; null: the process's input backend.
    std::shared_ptr<InputBackend> input;

    bool isRecording() const { return isRecording_; }
    void startRecording();
    void stopRecording();
    /// What the field shows: "Press keys…", the chord as the desktop names
    /// it, or "None".
    QString text() const;

    /// The natural size, wider when the text needs it.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return naturalSize; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void handle(const KeyEvent& event);
    void record(std::optional<KeyChord> chord);

    std::optional<KeyChord> chord_;
    bool isRecording_ = false;
    std::unique_ptr<InputSubscription> grab_;
    /// Tells a grab handler that outlives a call whether this control lives.
    std::shared_ptr<RecorderControl*> self_;
};

/// A RecorderControl bound to one optional chord of a SettingsModel: what it
/// records is written through `set`, what it shows is read through `get`, and
/// its recording state goes to the model.
class ChordRecorder {
public:
    using Get = std::function<std::optional<KeyChord>(const Settings&)>;
    using Set = std::function<void(Settings&, std::optional<KeyChord>)>;

    ChordRecorder(SettingsModel& model, Get get, Set set, bool allowsEmpty, QWidget* parent);

    RecorderControl* control() const { return control_; }
    /// Shows the model's current value again.
    void update();

private:
    SettingsModel& model_;
    Get get_;
    RecorderControl* control_;
};

} // namespace vantrel
