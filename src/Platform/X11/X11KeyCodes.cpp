// The key-code table between Carbon virtual key codes and evdev codes, for
// every key of full ANSI, ISO and JIS keyboards.
#include "Platform/X11/X11KeyCodes.h"

#include "VantrelCore/KeyCodes.h"

#include <array>
#include <utility>

namespace vantrel::X11KeyCodes {

namespace {

struct Pair {
    std::uint16_t carbon;
    std::uint16_t evdev;
};

// Grouped as on the keyboard. Names are the Carbon kVK_ and Linux KEY_ names.
constexpr Pair table[] = {
    // Letters.
    {0x00, 30}, // A
    {0x0B, 48}, // B
    {0x08, 46}, // C
    {0x02, 32}, // D
    {0x0E, 18}, // E
    {0x03, 33}, // F
    {0x05, 34}, // G
    {0x04, 35}, // H
    {0x22, 23}, // I
    {0x26, 36}, // J
    {0x28, 37}, // K
    {0x25, 38}, // L
    {0x2E, 50}, // M
    {0x2D, 49}, // N
    {0x1F, 24}, // O
    {0x23, 25}, // P
    {0x0C, 16}, // Q
    {0x0F, 19}, // R
    {0x01, 31}, // S
    {0x11, 20}, // T
    {0x20, 22}, // U
    {0x09, 47}, // V
    {0x0D, 17}, // W
    {0x07, 45}, // X
    {0x10, 21}, // Y
    {0x06, 44}, // Z
    // Digit row.
    {0x12, 2},  // 1
    {0x13, 3},  // 2
    {0x14, 4},  // 3
    {0x15, 5},  // 4
    {0x17, 6},  // 5
    {0x16, 7},  // 6
    {0x1A, 8},  // 7
    {0x1C, 9},  // 8
    {0x19, 10}, // 9
    {0x1D, 11}, // 0
    {0x1B, 12}, // Minus
    {0x18, 13}, // Equal
    // Punctuation.
    {0x32, 41}, // Grave: the key left of 1 (KEY_GRAVE)
    {0x0A, 86}, // ISO section: the extra ISO key next to left Shift (KEY_102ND)
    {0x21, 26}, // LeftBracket
    {0x1E, 27}, // RightBracket
    {0x2A, 43}, // Backslash
    {0x29, 39}, // Semicolon
    {0x27, 40}, // Quote
    {0x2B, 51}, // Comma
    {0x2F, 52}, // Period
    {0x2C, 53}, // Slash
    // JIS extras.
    {0x5D, 124}, // JIS Yen
    {0x5E, 89},  // JIS Underscore (KEY_RO)
    {0x5F, 95},  // JIS keypad comma
    {0x66, 94},  // JIS Eisu (KEY_MUHENKAN)
    {0x68, 92},  // JIS Kana (KEY_HENKAN)
    // Whitespace and editing.
    {0x24, 28},  // Return (KEY_ENTER)
    {0x30, 15},  // Tab
    {0x31, 57},  // Space
    {0x33, 14},  // Delete (KEY_BACKSPACE)
    {0x35, 1},   // Escape
    {0x75, 111}, // ForwardDelete (KEY_DELETE)
    {0x72, 110}, // Help, where PC keyboards have Insert
    {0x73, 102}, // Home
    {0x77, 107}, // End
    {0x74, 104}, // PageUp
    {0x79, 109}, // PageDown
    // Arrows.
    {0x7B, 105}, // Left
    {0x7C, 106}, // Right
    {0x7D, 108}, // Down
    {0x7E, 103}, // Up
    // Modifiers, left and right.
    {0x38, 42},  // Shift
    {0x3C, 54},  // RightShift
    {0x3B, 29},  // Control
    {0x3E, 97},  // RightControl
    {0x3A, 56},  // Option (Alt_L)
    {0x3D, 100}, // RightOption (Alt_R)
    {0x37, 125}, // Command (Super_L, KEY_LEFTMETA)
    {0x36, 126}, // RightCommand (Super_R, KEY_RIGHTMETA)
    {0x39, 58},  // CapsLock
    // Function keys.
    {0x7A, 59},  // F1
    {0x78, 60},  // F2
    {0x63, 61},  // F3
    {0x76, 62},  // F4
    {0x60, 63},  // F5
    {0x61, 64},  // F6
    {0x62, 65},  // F7
    {0x64, 66},  // F8
    {0x65, 67},  // F9
    {0x6D, 68},  // F10
    {0x67, 87},  // F11
    {0x6F, 88},  // F12
    {0x69, 183}, // F13
    {0x6B, 184}, // F14
    {0x71, 185}, // F15
    {0x6A, 186}, // F16
    {0x40, 187}, // F17
    {0x4F, 188}, // F18
    {0x50, 189}, // F19
    {0x5A, 190}, // F20
    // Keypad.
    {0x52, 82},  // 0
    {0x53, 79},  // 1
    {0x54, 80},  // 2
    {0x55, 81},  // 3
    {0x56, 75},  // 4
    {0x57, 76},  // 5
    {0x58, 77},  // 6
    {0x59, 71},  // 7
    {0x5B, 72},  // 8
    {0x5C, 73},  // 9
    {0x41, 83},  // Decimal
    {0x43, 55},  // Multiply
    {0x45, 78},  // Plus
    {0x4E, 74},  // Minus
    {0x4B, 98},  // Divide
    {0x4C, 96},  // Enter
    {0x51, 117}, // Equals
    {0x47, 69},  // Clear, where PC keyboards have Num Lock
    // Media keys.
    {0x48, 115}, // VolumeUp
    {0x49, 114}, // VolumeDown
    {0x4A, 113}, // Mute
};

constexpr std::uint16_t none = 0xFFFF;

struct Index {
    std::array<std::uint16_t, 128> evdevOfCarbon{};
    std::array<std::uint16_t, 256> carbonOfEvdev{};
};

constexpr Index index = [] {
    Index built{};
    built.evdevOfCarbon.fill(none);
    built.carbonOfEvdev.fill(none);
    for (const Pair& pair : table) {
        built.evdevOfCarbon[pair.carbon] = pair.evdev;
        built.carbonOfEvdev[pair.evdev] = pair.carbon;
    }
    return built;
}();

// A duplicate on either side would make the two directions disagree.
constexpr bool isBijective()
{
    for (const Pair& pair : table) {
        if (index.evdevOfCarbon[pair.carbon] != pair.evdev || index.carbonOfEvdev[pair.evdev] != pair.carbon)
            return false;
    }
    return true;
}
static_assert(isBijective(), "every Carbon key code and every evdev code appears once");

} // namespace

std::optional<std::uint16_t> evdevFromCarbon(std::uint32_t carbonKeyCode)
{
    if (carbonKeyCode >= index.evdevOfCarbon.size() || index.evdevOfCarbon[carbonKeyCode] == none)
        return std::nullopt;
    return index.evdevOfCarbon[carbonKeyCode];
}

std::optional<std::uint16_t> carbonFromEvdev(std::uint32_t evdevCode)
{
    if (evdevCode >= index.carbonOfEvdev.size() || index.carbonOfEvdev[evdevCode] == none)
        return std::nullopt;
    return index.carbonOfEvdev[evdevCode];
}

std::optional<std::uint8_t> xKeyCodeFromCarbon(std::uint32_t carbonKeyCode)
{
    auto evdev = evdevFromCarbon(carbonKeyCode);
    if (!evdev || *evdev + xOffset > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(*evdev + xOffset);
}

std::optional<std::uint16_t> carbonFromXKeyCode(std::uint8_t xKeyCode)
{
    if (xKeyCode < xOffset)
        return std::nullopt;
    return carbonFromEvdev(xKeyCode - xOffset);
}

std::uint64_t modifierFlagOfKey(std::uint16_t carbonKeyCode)
{
    switch (carbonKeyCode) {
    case KeyCodes::leftShift:
    case KeyCodes::rightShift: return ModifierFlags::shift;
    case KeyCodes::leftControl:
    case KeyCodes::rightControl: return ModifierFlags::control;
    case KeyCodes::leftOption:
    case KeyCodes::rightOption: return ModifierFlags::option;
    case KeyCodes::leftCommand:
    case KeyCodes::rightCommand: return ModifierFlags::command;
    case KeyCodes::capsLock: return ModifierFlags::capsLock;
    default: return 0;
    }
}

} // namespace vantrel::X11KeyCodes
