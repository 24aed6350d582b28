// The keyboard on X11: hot keys as passive key grabs on the root window, the
// modifier feed from XKB state events, the Fast Search hold as a passive grab
// of the hold key, keyboard grabs, and layouts from the server's keymap.
#pragma once

#include "InputEngine/InputBackend.h"
#include "InputEngine/InputListeners.h"
#include "Platform/X11/X11Connection.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

namespace vantrel {

/// Every callback runs on the connection's run loop, from its event handler.
///
/// Passive grabs do not fire while this client holds an active keyboard grab
/// (its own keyboard grab, or the implicit grab of a Fast Search hold); key
/// events matching a registered chord during `grabKeyboard` are therefore
/// dispatched as that hot key here, unless the grab takes every key. During a Fast Search hold every key goes
/// to the tap, as it swallows everything then.
class X11InputBackend final : public InputBackend, public std::enable_shared_from_this<X11InputBackend> {
public:
    /// Null when the server lacks a usable XKB extension.
    static std::shared_ptr<X11InputBackend> make(std::shared_ptr<X11Connection> connection);
    ~X11InputBackend() override;

    /// X keyboards do not say whether they are ISO; the X key code of the key
    /// above Tab is the same on both (evdev KEY_GRAVE), so report ANSI.
    KeyboardType keyboardType() override { return KeyboardType::ansi; }
    void setHotKeySink(std::function<void(std::uint32_t, HotKeyPhase)> sink) override;
    bool registerHotKey(std::uint32_t id, std::uint32_t keyCode, std::uint64_t modifiers) override;
    void unregisterHotKey(std::uint32_t id) override;
    std::unique_ptr<InputSubscription> watchModifiers(std::function<void(std::uint64_t)> onChange) override;
    /// A live connection with XKB: grabs and the modifier feed work.
    bool hasInputMonitoring() override;
    /// X has no permission prompt.
    void requestInputMonitoring() override {}
    /// All but Fn, which PC keyboards handle in firmware.
    bool canHold(FastSearchModifier modifier) override;
    std::unique_ptr<KeyTap> installKeyTap(FastSearchModifier modifier, KeyTapHandler handler) override;
    std::unique_ptr<InputSubscription> grabKeyboard(std::function<void(const KeyEvent&)> onKey,
                                                    GrabMode mode = GrabMode::hotKeysFire) override;
    std::unique_ptr<KeyboardLayoutTranslator> makeLayoutTranslator() override;
    std::unique_ptr<InputSubscription> observeLayoutChanges(std::function<void()> onChange) override;

    /// The modifier set (AppKit bits) of an X modifier state.
    std::uint64_t flagsFromState(std::uint16_t state) const;
    /// The X modifier mask of chord modifiers (AppKit bits).
    std::uint16_t stateFromFlags(std::uint64_t flags) const;

    struct Private {};
    X11InputBackend(Private, std::shared_ptr<X11Connection> connection, std::uint8_t xkbEventBase,
                    std::int32_t deviceId);

private:
    struct Grab {
        std::uint8_t keyCode = 0;
        std::uint16_t state = 0;
    };

    void handleEvent(const xcb_generic_event_t& event);
    void handleKey(bool press, std::uint8_t keyCode, std::uint16_t state);
    void handleXkb(const xcb_generic_event_t& event);
    bool routeToHotKeys(bool press, std::uint8_t keyCode, std::uint16_t state);
    std::optional<KeyEvent> keyEvent(bool press, std::uint8_t keyCode, std::uint16_t state) const;
    void readModifierMapping();
    bool grabHoldKey(std::uint8_t keyCode);
    /// Moves the hold grab to `modifier`'s key; false (keeping the old grab)
    /// when that key cannot be grabbed.
    bool moveHoldKey(FastSearchModifier modifier);
    void ungrabHoldKey();
    /// The lock modifiers under whose every combination a chord is grabbed.
    std::uint16_t lockMasks(int combination) const;

    std::shared_ptr<X11Connection> connection_;
    X11Connection::Subscription subscription_;
    std::uint8_t xkbEventBase_;
    std::int32_t deviceId_;
    std::shared_ptr<InputListeners> listeners_;
    std::function<void(std::uint32_t, HotKeyPhase)> sink_;
    std::map<std::uint32_t, Grab> grabs_;
    /// Hot keys whose key is down, by X key code.
    PressedHotKeys pressedHotKeys_;
    std::uint16_t altMask_ = XCB_MOD_MASK_1;
    std::uint16_t superMask_ = XCB_MOD_MASK_4;
    std::uint16_t numLockMask_ = XCB_MOD_MASK_2;
    std::optional<std::uint8_t> lastModifiers_;
    std::optional<std::uint8_t> lastGroup_;
    /// The X key code grabbed for the Fast Search hold, and whether it is down.
    std::uint8_t holdKeyCode_ = 0;
    bool holdDown_ = false;
};

} // namespace vantrel
