// The Fast Search modifier's names, key codes and event kinds.
#include "VantrelCore/FastSearch.h"

namespace vantrel {

std::string_view rawValue(FastSearchModifier modifier)
{
    switch (modifier) {
    case FastSearchModifier::off: return "off";
    case FastSearchModifier::fn: return "fn";
    case FastSearchModifier::capsLock: return "capsLock";
    case FastSearchModifier::leftCommand: return "leftCommand";
    case FastSearchModifier::rightCommand: return "rightCommand";
    case FastSearchModifier::leftOption: return "leftOption";
    case FastSearchModifier::rightOption: return "rightOption";
    }
    return "off";
}

std::string_view displayName(FastSearchModifier modifier)
{
    switch (modifier) {
    case FastSearchModifier::off: return "Off";
    case FastSearchModifier::fn: return "Fn";
    case FastSearchModifier::capsLock: return "Caps Lock (remapped to Escape)";
    case FastSearchModifier::leftCommand: return "Left ⌘";
    case FastSearchModifier::rightCommand: return "Right ⌘";
    case FastSearchModifier::leftOption: return "Left ⌥";
    case FastSearchModifier::rightOption: return "Right ⌥";
    }
    return "Off";
}

std::optional<std::uint16_t> keyCode(FastSearchModifier modifier)
{
    switch (modifier) {
    case FastSearchModifier::off: return std::nullopt;
    case FastSearchModifier::fn: return 63;
    case FastSearchModifier::capsLock: return 53;
    case FastSearchModifier::leftCommand: return 55;
    case FastSearchModifier::rightCommand: return 54;
    case FastSearchModifier::leftOption: return 58;
    case FastSearchModifier::rightOption: return 61;
    }
    return std::nullopt;
}

bool isFlagsChanged(FastSearchModifier modifier)
{
    return modifier != FastSearchModifier::off && modifier != FastSearchModifier::capsLock;
}

} // namespace vantrel
