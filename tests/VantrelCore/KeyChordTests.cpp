// Key chords, their names and the US fallback layout.
#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace vantrel {
namespace {

using ModifierFlags::capsLock;
constexpr std::uint64_t fnFlag = ModifierFlags::function;

// A layout that answers from a table and records what it was asked.
class TableTranslator final : public KeyboardLayoutTranslator {
public:
    explicit TableTranslator(std::map<std::uint16_t, std::string> keys) : keys_(std::move(keys)) {}
    std::optional<std::string> character(std::uint16_t keyCode, std::uint64_t flags) override
    {
        asked.emplace_back(keyCode, flags);
        auto it = keys_.find(keyCode);
        return it == keys_.end() ? std::nullopt : std::optional(it->second);
    }
    void reloadLayout() override {}
    std::string layoutName() const override { return "Table"; }

    std::vector<std::pair<std::uint16_t, std::uint64_t>> asked;

private:
    std::map<std::uint16_t, std::string> keys_;
};

TEST(KeyChord, DisplayStringNamesModifiersCtrlAltShiftSuperThenTheKey)
{
    USKeyboardLayoutTranslator us;
    const std::pair<KeyChord, const char*> chords[] = {{{48, KeyChord::command}, "Super+Tab"},
        {{49, KeyChord::control}, "Ctrl+Space"}, {{65535, KeyChord::command | KeyChord::shift}, "Shift+Super+`"},
        {{0, KeyChord::modifierMask}, "Ctrl+Alt+Shift+Super+A"}, {{48, KeyChord::control | KeyChord::option}, "Ctrl+Alt+Tab"},
        {{0, KeyChord::shift}, "Shift+A"}, {{51, 0}, "Backspace"},
        {{36, capsLock | fnFlag}, "Return"}}; // bits outside the four modifiers show nothing
    for (const auto& [chord, text] : chords)
        EXPECT_EQ(chord.displayString(us), text) << text;
}

TEST(KeyChord, KeyNamePrefersFixedNamesToTheLayout)
{
    // A layout that claims every key must not override the fixed names.
    TableTranslator everything({{10, "x"}, {48, "x"}, {50, "x"}, {122, "x"}, {90, "x"}, {64, "x"}, {36, "x"}, {76, "x"}});
    const std::pair<std::uint32_t, const char*> named[] = {{10, "§"}, {48, "Tab"}, {50, "`"}, {65535, "`"},
        {36, "Return"}, {76, "Enter"}, {122, "F1"}, {64, "F17"}, {90, "F20"}};
    for (const auto& [code, name] : named)
        EXPECT_EQ(KeyChord::keyName(code, everything), name) << code;
    EXPECT_TRUE(everything.asked.empty());
}

TEST(KeyChord, KeyNameAsksTheLayoutWithoutModifiersAndUpperCases)
{
    TableTranslator german({{27, "ß"}, {41, "ö"}, {7, "\x1b"}, {39, ""}});
    EXPECT_EQ(KeyChord::keyName(27, german), "SS"); // full upper-casing
    EXPECT_EQ(KeyChord::keyName(41, german), "Ö");
    for (const auto& [code, flags] : german.asked)
        EXPECT_EQ(flags, 0u) << code;

    EXPECT_EQ(KeyChord::keyName(39, german), "key 39"); // a dead key has no name of its own
    EXPECT_EQ(KeyChord::keyName(200, german), "key 200");
    // Codes beyond 16 bits are never truncated into a real key.
    german.asked.clear();
    EXPECT_EQ(KeyChord::keyName(65536 + 16, german), "key 65552");
    EXPECT_TRUE(german.asked.empty());
}

TEST(KeyChord, KeyNameWithoutTranslatorUsesTheProcessWideFactory)
{
    // The process-wide factory is restored whatever the test installs.
    const std::shared_ptr<void> restore(nullptr, [](void*) { setKeyboardLayoutTranslatorFactory({}); });
    EXPECT_EQ(KeyChord::keyName(12), "Q"); // the US table by default
    int made = 0;
    setKeyboardLayoutTranslatorFactory([&made] {
        ++made;
        return std::make_unique<TableTranslator>(std::map<std::uint16_t, std::string>{{12, "a"}});
    });
    EXPECT_EQ(KeyChord::keyName(12), "A"); // AZERTY: the Q position types a
    EXPECT_EQ((KeyChord{12, KeyChord::command}.displayString()), "Super+A");
    EXPECT_EQ(KeyChord::keyName(48), "Tab");
    EXPECT_EQ(KeyChord::keyName(70000), "key 70000");
    EXPECT_EQ(made, 2); // fixed names and huge codes need no layout

    setKeyboardLayoutTranslatorFactory([] { return std::unique_ptr<KeyboardLayoutTranslator>(); });
    EXPECT_EQ(KeyChord::keyName(12), "Q"); // a factory that fails falls back to US
}

TEST(KeyChord, FromEventTakesKeyDownsAsChords)
{
    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 50, KeyChord::command | capsLock}), (KeyChord{65535, 0x100000}));

    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 10, 0})->keyCode, 65535u);
    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 48, 0})->keyCode, 48u);
    EXPECT_FALSE(KeyChord::fromEvent({KeyEvent::Kind::keyUp, 48, KeyChord::command}));
    EXPECT_FALSE(KeyChord::fromEvent({KeyEvent::Kind::flagsChanged, 55, KeyChord::command}));

    // Fn, caps lock and device bits (left/right command 0x8/0x10) are dropped.
    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 0, ~std::uint64_t{0}}), (KeyChord{0, KeyChord::modifierMask}));
}

TEST(KeyChord, CommandWithTabOrTheKeyAboveItUsesCommandTab)
{
    // Only the placeholder counts as the key above Tab, not its raw code 50.
    const std::pair<KeyChord, bool> cases[] = {
        {{48, KeyChord::command}, true}, {{48, KeyChord::command | KeyChord::shift}, true},
        {{65535, KeyChord::command | KeyChord::shift}, true}, {{48, KeyChord::control | KeyChord::option}, false},
        {{50, KeyChord::command}, false}, {{49, KeyChord::command}, false}};
    for (const auto& [chord, expected] : cases)
        EXPECT_EQ(chord.usesCommandTab(), expected) << chord.keyCode << " " << chord.modifiers;
}

TEST(USKeyboardLayout, TypesUSText)
{
    USKeyboardLayoutTranslator us;
    // Key code, then the text without modifiers, with shift, caps lock, command and control.
    const std::tuple<std::uint16_t, const char*, const char*, const char*, const char*, const char*> keys[] = {
        {0, "a", "A", "A", "a", nullptr}, {18, "1", "!", "1", "1", "1"}, {27, "-", "_", "-", "-", "-"},
        {89, "7", "7", "7", "7", "7"}, {42, "\\", "|", "\\", "\\", nullptr}, {33, "[", "{", "[", "[", nullptr}}; // ⌃[ is Escape
    for (const auto& [code, plain, shifted, caps, command, control] : keys) {
        const std::uint64_t flags[] = {0, KeyChord::shift, capsLock, KeyChord::command, KeyChord::control};
        const char* texts[] = {plain, shifted, caps, command, control};
        for (std::size_t k = 0; k < std::size(flags); ++k)
            EXPECT_EQ(us.character(code, flags[k]), texts[k] ? std::optional<std::string>(texts[k]) : std::nullopt)
                << code << " " << flags[k];
    }
    for (std::uint16_t code : {36, 48, 51, 53, 76, 10, 90, 123, 200, 65535})
        EXPECT_FALSE(us.character(code, 0)) << code; // Return, Tab, Delete, Escape, keypad Enter, ...
    EXPECT_EQ(us.character(49, KeyChord::shift), " ");
}

} // namespace
} // namespace vantrel
