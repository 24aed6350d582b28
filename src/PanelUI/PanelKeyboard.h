// A panel's hold on the keyboard: the input engine's grab, read through the keyboard layout.
#pragma once

#include "PanelUI/PanelKeys.h"
#include "Runtime/Log.h"

#include <functional>
#include <memory>

namespace vantrel {

class InputSubscription;

/// Panels never take X input focus: "becoming key" is holding this grab.
/// Key presses arrive as `PanelKey`s; releases and modifier changes are
/// dropped (the input engine routes registered chords to their hot keys).
class PanelKeyboard {
public:
    explicit PanelKeyboard(Logger log);
    ~PanelKeyboard();

    /// Takes the grab of the process's input backend. False (and logged)
    /// when another client holds the keyboard or there is no backend; the
    /// panel then still shows and its owner drives it by chords.
    bool take(std::function<void(const PanelKey&)> onKey);
    /// Gives the grab back; nothing when not held.
    void release();
    bool isHeld() const { return grab_ != nullptr; }

private:
    Logger log_;
    std::unique_ptr<InputSubscription> grab_;
    std::shared_ptr<PanelKeyReader> reader_;
};

} // namespace vantrel
