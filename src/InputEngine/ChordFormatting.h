// Key chords named the way X11 desktops name shortcuts ("Super+Tab",
// "Ctrl+Alt+Tab"), for the settings window and diagnostics on Linux.
#pragma once

#include "VantrelCore/KeyChord.h"

#include <cstdint>
#include <string>

namespace vantrel {

class KeyboardLayoutTranslator;

namespace ChordFormatting {

/// The modifier names in the order Ctrl, Alt, Shift, Super, each followed by
/// "+", then `keyName`: command is Super, option is Alt.
std::string platformString(const KeyChord& chord, KeyboardLayoutTranslator& translator);
/// The same, naming layout-dependent keys with a fresh translator.
std::string platformString(const KeyChord& chord);

/// "Tab", "Return", "Backspace", "Escape", "Delete", "Home", "End", "Page Up",
/// "Page Down", "Left", "Right", "Up", "Down" and "Space" for the keys whose
/// chord glyph a PC user would not recognise; otherwise the chord's own key
/// name (function keys, the grave accent for the key above Tab, the layout's
/// character upper-cased, "key N").
std::string keyName(std::uint32_t keyCode, KeyboardLayoutTranslator& translator);

} // namespace ChordFormatting
} // namespace vantrel
