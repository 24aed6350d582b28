// A keyboard shortcut as persisted: one key code plus a set of modifier bits.
#pragma once

#include "VantrelCore/Hasher.h"
#include "VantrelCore/KeyCodes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vantrel {

class KeyboardLayoutTranslator;

/// A key event as the chord recorder sees it.
struct KeyEvent {
    /// Only key-down events make a chord.
    enum class Kind { keyDown, keyUp, flagsChanged };

    Kind kind = Kind::keyDown;
    /// Carbon virtual key code.
    std::uint16_t keyCode = 0;
    /// Modifier flags in the chord bit layout, possibly with other bits set
    /// (caps lock, Fn, device-specific bits).
    std::uint64_t modifierFlags = 0;

    bool operator==(const KeyEvent&) const = default;
};

/// One key plus modifiers. Value type; equality and hashing over both fields.
struct KeyChord {
    /// Carbon virtual key code, or `keyAboveTab`.
    std::uint32_t keyCode = 0;
    /// Only the four modifier bits below are meaningful.
    std::uint64_t modifiers = 0;

    static constexpr std::uint64_t shift = ModifierFlags::shift;
    static constexpr std::uint64_t control = ModifierFlags::control;
    static constexpr std::uint64_t option = ModifierFlags::option;
    static constexpr std::uint64_t command = ModifierFlags::command;
    /// The four modifier bits a chord keeps from an event's flags.
    static constexpr std::uint64_t modifierMask = shift | control | option | command;

    /// The Tab key.
    static constexpr std::uint32_t tab = KeyCodes::tab;
    /// The key left of 1 and above Tab, whatever it is on the user's keyboard;
    /// resolved to a real key code only when a hot key is registered.
    static constexpr std::uint32_t keyAboveTab = 65535;

    /// Command with Tab or the key above Tab (other modifiers do not matter).
    bool usesCommandTab() const;

    /// The chord as X11 desktops write shortcuts: "Ctrl+", "Alt+", "Shift+",
    /// "Super+" in that order for the modifiers present (command is Super,
    /// option Alt), then the key's name ("Super+Tab").
    /// Names layout-dependent keys with a fresh translator.
    std::string displayString() const;
    /// As above, naming layout-dependent keys with `translator`.
    std::string displayString(KeyboardLayoutTranslator& translator) const;

    /// A fixed name ("Tab", "Page Up", "`"), "F1".."F20", else the upper-cased character the
    /// current layout types for the key without modifiers, else "key N".
    static std::string keyName(std::uint32_t keyCode);
    /// As above, asking `translator` for layout-dependent keys.
    static std::string keyName(std::uint32_t keyCode, KeyboardLayoutTranslator& translator);

    /// The chord of a key-down event (none for other kinds): key codes 50 and
    /// 10 become `keyAboveTab`; only the four modifier bits are kept.
    static std::optional<KeyChord> fromEvent(const KeyEvent& event);

    /// Feeds keyCode, then modifiers.
    void hash(Hasher& hasher) const;

    bool operator==(const KeyChord&) const = default;
};

} // namespace vantrel

/// Agrees with KeyChord::hash.
template <>
struct std::hash<vantrel::KeyChord> {
    std::size_t operator()(const vantrel::KeyChord& chord) const { return vantrel::hashValue(chord); }
};
