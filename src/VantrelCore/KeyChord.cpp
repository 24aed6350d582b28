// Key chords: Command-Tab detection, display names and construction from events.
#include "VantrelCore/KeyChord.h"

#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <array>
#include <utility>

namespace vantrel {

namespace {

struct NamedKey {
    std::uint32_t keyCode;
    const char* name;
};

// Named as X11 desktops name them in shortcuts ("Ctrl+Alt+Tab").
constexpr std::array<NamedKey, 18> fixedNames{{
    {10, "§"},
    {36, "Return"},
    {48, "Tab"},
    {49, "Space"},
    {50, "`"},
    {51, "Backspace"},
    {53, "Escape"},
    {76, "Enter"},
    {115, "Home"},
    {116, "Page Up"},
    {117, "Delete"},
    {119, "End"},
    {121, "Page Down"},
    {123, "Left"},
    {124, "Right"},
    {125, "Down"},
    {126, "Up"},
    {KeyChord::keyAboveTab, "`"},
}};

// Key codes of F1..F20, in order.
constexpr std::array<std::uint32_t, 20> functionKeyCodes{
    122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 105, 107, 113, 106, 64, 79, 80, 90};

// Key codes the recorder files under the key above Tab: the grave-accent key
// of ANSI keyboards and the section key of ISO keyboards.
constexpr std::uint16_t graveKeyCode = KeyCodes::grave;
constexpr std::uint16_t sectionKeyCode = KeyCodes::isoSection;

std::string upperCased(const std::string& text)
{
    std::string result;
    icu::UnicodeString::fromUTF8(text).toUpper(icu::Locale::getRoot()).toUTF8String(result);
    return result;
}

std::string modifierNames(std::uint64_t modifiers)
{
    std::string names;
    if (modifiers & KeyChord::control)
        names += "Ctrl+";
    if (modifiers & KeyChord::option)
        names += "Alt+";
    if (modifiers & KeyChord::shift)
        names += "Shift+";
    if (modifiers & KeyChord::command)
        names += "Super+";
    return names;
}

std::optional<std::string> layoutIndependentName(std::uint32_t keyCode)
{
    for (const auto& named : fixedNames) {
        if (named.keyCode == keyCode)
            return named.name;
    }
    for (std::size_t i = 0; i < functionKeyCodes.size(); ++i) {
        if (functionKeyCodes[i] == keyCode)
            return std::string("F").append(std::to_string(i + 1));
    }
    return std::nullopt;
}

std::string fallbackName(std::uint32_t keyCode)
{
    return std::string("key ").append(std::to_string(keyCode));
}

} // namespace

bool KeyChord::usesCommandTab() const
{
    return (modifiers & command) != 0 && (keyCode == tab || keyCode == keyAboveTab);
}

std::string KeyChord::displayString() const
{
    return modifierNames(modifiers) + keyName(keyCode);
}

std::string KeyChord::displayString(KeyboardLayoutTranslator& translator) const
{
    return modifierNames(modifiers) + keyName(keyCode, translator);
}

std::string KeyChord::keyName(std::uint32_t keyCode)
{
    if (auto name = layoutIndependentName(keyCode))
        return *name;
    // Only 16-bit codes reach a layout; larger ones (hand-edited settings)
    // fall through to the generic name without building a translator.
    if (keyCode > 0xFFFF)
        return fallbackName(keyCode);
    auto translator = makeKeyboardLayoutTranslator();
    return keyName(keyCode, *translator);
}

std::string KeyChord::keyName(std::uint32_t keyCode, KeyboardLayoutTranslator& translator)
{
    if (auto name = layoutIndependentName(keyCode))
        return *name;
    if (keyCode <= 0xFFFF) {
        auto text = translator.character(static_cast<std::uint16_t>(keyCode), 0);
        if (text && !text->empty())
            return upperCased(*text);
    }
    return fallbackName(keyCode);
}

std::optional<KeyChord> KeyChord::fromEvent(const KeyEvent& event)
{
    if (event.kind != KeyEvent::Kind::keyDown)
        return std::nullopt;
    KeyChord chord;
    chord.keyCode = (event.keyCode == graveKeyCode || event.keyCode == sectionKeyCode) ? keyAboveTab : event.keyCode;
    chord.modifiers = event.modifierFlags & modifierMask;
    return chord;
}

void KeyChord::hash(Hasher& hasher) const
{
    hasher.combine(keyCode);
    hasher.combine(modifiers);
}

} // namespace vantrel
