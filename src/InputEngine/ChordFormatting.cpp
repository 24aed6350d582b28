// Key chords named the way X11 desktops name shortcuts.
#include "InputEngine/ChordFormatting.h"

#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <string_view>

namespace vantrel::ChordFormatting {

namespace {
struct Named {
    std::uint32_t keyCode;
    std::string_view name;
};
constexpr Named pcNames[] = {
    {48, "Tab"},  {36, "Return"}, {51, "Backspace"}, {53, "Escape"},   {117, "Delete"},
    {115, "Home"}, {119, "End"},  {116, "Page Up"},  {121, "Page Down"}, {123, "Left"},
    {124, "Right"}, {126, "Up"},  {125, "Down"},     {49, "Space"},    {76, "Enter"},
};
} // namespace

std::string keyName(std::uint32_t keyCode, KeyboardLayoutTranslator& translator)
{
    for (const Named& named : pcNames) {
        if (named.keyCode == keyCode)
            return std::string(named.name);
    }
    return KeyChord::keyName(keyCode, translator);
}

std::string platformString(const KeyChord& chord, KeyboardLayoutTranslator& translator)
{
    std::string text;
    if (chord.modifiers & KeyChord::control)
        text += "Ctrl+";
    if (chord.modifiers & KeyChord::option)
        text += "Alt+";
    if (chord.modifiers & KeyChord::shift)
        text += "Shift+";
    if (chord.modifiers & KeyChord::command)
        text += "Super+";
    return text + keyName(chord.keyCode, translator);
}

std::string platformString(const KeyChord& chord)
{
    auto translator = makeKeyboardLayoutTranslator();
    return platformString(chord, *translator);
}

} // namespace vantrel::ChordFormatting
