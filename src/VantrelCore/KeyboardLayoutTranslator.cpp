// The US fallback layout and the process-wide translator factory.
#include "VantrelCore/KeyboardLayoutTranslator.h"

#include "VantrelCore/KeyCodes.h"

#include <array>
#include <mutex>
#include <utility>

namespace vantrel {

namespace {

struct KeyText {
    char plain = 0;
    char shifted = 0;
};

// Indexed by Carbon virtual key code (kVK_ANSI_*, kVK_Space, kVK_ANSI_Keypad*).
constexpr std::array<KeyText, 93> usTable = [] {
    std::array<KeyText, 93> table{};
    auto set = [&](int code, char plain, char shifted) { table[static_cast<std::size_t>(code)] = {plain, shifted}; };
    const char* letters = "asdfhgzxcv"; // 0..9
    for (int i = 0; i < 10; ++i)
        set(i, letters[i], static_cast<char>(letters[i] - 'a' + 'A'));
    set(11, 'b', 'B');
    set(12, 'q', 'Q');
    set(13, 'w', 'W');
    set(14, 'e', 'E');
    set(15, 'r', 'R');
    set(16, 'y', 'Y');
    set(17, 't', 'T');
    set(18, '1', '!');
    set(19, '2', '@');
    set(20, '3', '#');
    set(21, '4', '$');
    set(22, '6', '^');
    set(23, '5', '%');
    set(24, '=', '+');
    set(25, '9', '(');
    set(26, '7', '&');
    set(27, '-', '_');
    set(28, '8', '*');
    set(29, '0', ')');
    set(30, ']', '}');
    set(31, 'o', 'O');
    set(32, 'u', 'U');
    set(33, '[', '{');
    set(34, 'i', 'I');
    set(35, 'p', 'P');
    set(37, 'l', 'L');
    set(38, 'j', 'J');
    set(39, '\'', '"');
    set(40, 'k', 'K');
    set(41, ';', ':');
    set(42, '\\', '|');
    set(43, ',', '<');
    set(44, '/', '?');
    set(45, 'n', 'N');
    set(46, 'm', 'M');
    set(47, '.', '>');
    set(49, ' ', ' ');
    set(50, '`', '~');
    // Keypad: the same text with or without shift.
    set(65, '.', '.');
    set(67, '*', '*');
    set(69, '+', '+');
    set(75, '/', '/');
    set(78, '-', '-');
    set(81, '=', '=');
    const char* keypadDigits = "01234567"; // 82..89
    for (int i = 0; i < 8; ++i)
        set(82 + i, keypadDigits[i], keypadDigits[i]);
    set(91, '8', '8');
    set(92, '9', '9');
    return table;
}();

bool isLetter(char c) { return c >= 'a' && c <= 'z'; }

std::mutex factoryMutex;
KeyboardLayoutTranslatorFactory& factoryStorage()
{
    static KeyboardLayoutTranslatorFactory factory;
    return factory;
}

} // namespace

std::optional<std::string> USKeyboardLayoutTranslator::character(std::uint16_t keyCode, std::uint64_t flags)
{
    if (keyCode >= usTable.size() || usTable[keyCode].plain == 0)
        return std::nullopt;
    const KeyText& key = usTable[keyCode];
    char text = (flags & ModifierFlags::shift) ? key.shifted : key.plain;
    if ((flags & ModifierFlags::capsLock) && isLetter(text))
        text = static_cast<char>(text - 'a' + 'A');
    // Control with a letter or bracket key types a C0 control character,
    // which is never text.
    if ((flags & ModifierFlags::control) && (isLetter(key.plain) || key.plain == '[' || key.plain == ']' || key.plain == '\\'))
        return std::nullopt;
    return std::string(1, text);
}

std::unique_ptr<KeyboardLayoutTranslator> makeKeyboardLayoutTranslator()
{
    KeyboardLayoutTranslatorFactory factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = factoryStorage();
    }
    if (factory) {
        if (auto translator = factory())
            return translator;
    }
    return std::make_unique<USKeyboardLayoutTranslator>();
}

void setKeyboardLayoutTranslatorFactory(KeyboardLayoutTranslatorFactory factory)
{
    std::lock_guard lock(factoryMutex);
    factoryStorage() = std::move(factory);
}

} // namespace vantrel
