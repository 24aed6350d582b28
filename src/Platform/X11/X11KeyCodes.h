// The one table between persisted key codes (Carbon virtual key codes) and
// Linux evdev codes; the X server's key code is the evdev code plus 8.
#pragma once

#include <cstdint>
#include <optional>

namespace vantrel::X11KeyCodes {

/// The offset between an evdev code and the X key code of the evdev keymaps.
inline constexpr std::uint32_t xOffset = 8;

/// The evdev code of a Carbon virtual key code; absent for keys no PC keyboard
/// has (Fn) and for codes no key uses.
std::optional<std::uint16_t> evdevFromCarbon(std::uint32_t carbonKeyCode);
/// The Carbon virtual key code of an evdev code; absent for keys outside the table.
std::optional<std::uint16_t> carbonFromEvdev(std::uint32_t evdevCode);

/// The same through X key codes.
std::optional<std::uint8_t> xKeyCodeFromCarbon(std::uint32_t carbonKeyCode);
std::optional<std::uint16_t> carbonFromXKeyCode(std::uint8_t xKeyCode);

/// The `ModifierFlags` bit a modifier key sets, by Carbon key code (both
/// sides' keys set the same bit); 0 for every other key.
std::uint64_t modifierFlagOfKey(std::uint16_t carbonKeyCode);

} // namespace vantrel::X11KeyCodes
