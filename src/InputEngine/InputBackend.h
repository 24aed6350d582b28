// The narrow interface between the input module and the platform's keyboard:
// global hot-key grabs, the modifier feed, the Fast Search key tap, keyboard
// grabs and the keyboard layout.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "VantrelCore/FastSearch.h"
#include "VantrelCore/KeyChord.h"

namespace vantrel {

class KeyboardLayoutTranslator;

/// Whether a hot-key event is the chord's press or the key's release.
enum class HotKeyPhase { press, release };

/// The physical layout type of the keyboard; it decides which key sits above Tab.
enum class KeyboardType { ansi, iso, jis };

/// What a keyboard grab does with a key that matches a registered hot key.
enum class GrabMode {
    /// It fires the hot key (a panel holding the keyboard still steps the switcher).
    hotKeysFire,
    /// It comes to the grab like any other key (the chord recorder).
    everyKey,
};

/// Something the backend keeps doing until this token is destroyed.
class InputSubscription {
public:
    virtual ~InputSubscription() = default;
};

/// An installed key tap for Fast Search; destroying it removes it.
class KeyTap {
public:
    virtual ~KeyTap() = default;
    /// Watches the hold key of `modifier` from the next event on. False when
    /// that key cannot be watched; the tap then keeps the previous key.
    virtual bool setModifier(FastSearchModifier modifier) = 0;
};

/// Sees one key event during a tap (key codes are Carbon virtual key codes,
/// flags the modifier set after the event); returns true to swallow it.
using KeyTapHandler = std::function<bool(const KeyEvent&)>;

/// Every callback is delivered on the main run loop; every member is called
/// from the main thread.
class InputBackend {
public:
    virtual ~InputBackend() = default;

    /// The physical keyboard's layout type.
    virtual KeyboardType keyboardType() = 0;

    /// Where hot-key events go (the registry of HotKey): one sink per backend.
    virtual void setHotKeySink(std::function<void(std::uint32_t id, HotKeyPhase phase)> sink) = 0;
    /// Grabs `keyCode` with exactly the `modifiers` (shift, control, option,
    /// command; other bits ignored) system-wide for hot key `id`. False when
    /// the grab is refused, for example because another program holds it.
    virtual bool registerHotKey(std::uint32_t id, std::uint32_t keyCode, std::uint64_t modifiers) = 0;
    /// Gives the grab of `id` back; unknown ids are ignored.
    virtual void unregisterHotKey(std::uint32_t id) = 0;

    /// Starts a passive feed of every modifier change as the device-independent
    /// modifier set; null when the platform refuses.
    virtual std::unique_ptr<InputSubscription> watchModifiers(std::function<void(std::uint64_t flags)> onChange) = 0;

    /// True when the process may watch and swallow keyboard events.
    virtual bool hasInputMonitoring() = 0;
    /// Asks the user for that permission where the platform has such a prompt.
    virtual void requestInputMonitoring() = 0;
    /// False when this keyboard has no key for `modifier` (X11 has no Fn key).
    virtual bool canHold(FastSearchModifier modifier) = 0;
    /// Installs an active tap that sees the hold key of `modifier` and, while
    /// it is held, every other key. Null when it cannot be installed (the
    /// backend logs why).
    virtual std::unique_ptr<KeyTap> installKeyTap(FastSearchModifier modifier, KeyTapHandler handler) = 0;

    /// Holds the whole keyboard until the token is destroyed: key events that
    /// match a registered hot key go to the hot-key sink unless `mode` is
    /// `everyKey`, all others to `onKey`. Chords other programs grab reach
    /// `onKey` too. Null when another program holds the keyboard.
    virtual std::unique_ptr<InputSubscription> grabKeyboard(std::function<void(const KeyEvent&)> onKey,
                                                            GrabMode mode = GrabMode::hotKeysFire) = 0;

    /// A translator on the current keyboard layout.
    virtual std::unique_ptr<KeyboardLayoutTranslator> makeLayoutTranslator() = 0;
    /// Calls `onChange` whenever the keyboard layout changes.
    virtual std::unique_ptr<InputSubscription> observeLayoutChanges(std::function<void()> onChange) = 0;
};

/// The backend the process uses (the application installs the platform's at
/// start; tests install a simulated one). Null until set.
std::shared_ptr<InputBackend> currentInputBackend();
/// Replaces the process's backend; also makes it the source of new keyboard
/// layout translators.
void setCurrentInputBackend(std::shared_ptr<InputBackend> backend);

} // namespace vantrel
