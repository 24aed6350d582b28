// Key chords, the Fast Search modifier and the US fallback layout.
#include "VantrelCore/FastSearch.h"
#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <gtest/gtest.h>

#include <map>
#include <unordered_set>

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

// Restores the process-wide factory whatever a test installed.
struct FactoryGuard {
    ~FactoryGuard() { setKeyboardLayoutTranslatorFactory({}); }
};

TEST(KeyChord, DisplayStringOrdersGlyphsControlOptionShiftCommand)
{
    USKeyboardLayoutTranslator us;
    EXPECT_EQ((KeyChord{48, KeyChord::command}.displayString(us)), "⌘⇥");
    EXPECT_EQ((KeyChord{49, KeyChord::control}.displayString(us)), "⌃Space");
    EXPECT_EQ((KeyChord{65535, KeyChord::command | KeyChord::shift}.displayString(us)), "⇧⌘`");
    EXPECT_EQ((KeyChord{48, KeyChord::control | KeyChord::option}.displayString(us)), "⌃⌥⇥");
    EXPECT_EQ((KeyChord{0, KeyChord::shift}.displayString(us)), "⇧A");
    EXPECT_EQ((KeyChord{0, KeyChord::modifierMask}.displayString(us)), "⌃⌥⇧⌘A");
    // Bits outside the four modifiers show nothing.
    EXPECT_EQ((KeyChord{36, capsLock | fnFlag}.displayString(us)), "↩");
}

TEST(KeyChord, KeyNamePrefersFixedNamesThenFunctionKeysThenTheLayout)
{
    // A layout that claims every key must not override the fixed names.
    TableTranslator everything({{10, "x"}, {48, "x"}, {50, "x"}, {122, "x"}, {90, "x"}, {64, "x"}, {36, "x"}});
    const std::pair<std::uint32_t, const char*> named[] = {
        {10, "§"}, {48, "⇥"}, {50, "`"}, {65535, "`"}, {36, "↩"}, {49, "Space"}, {117, "⌦"}, {126, "↑"},
        {122, "F1"}, {64, "F17"}, {90, "F20"}, {105, "F13"}};
    for (const auto& [code, name] : named)
        EXPECT_EQ(KeyChord::keyName(code, everything), name) << code;
    EXPECT_TRUE(everything.asked.empty());
}

TEST(KeyChord, KeyNameAsksTheLayoutWithoutModifiersAndUpperCases)
{
    TableTranslator german({{16, "z"}, {27, "ß"}, {41, "ö"}, {7, "\x1b"}});
    EXPECT_EQ(KeyChord::keyName(16, german), "Z");
    EXPECT_EQ(KeyChord::keyName(27, german), "SS"); // full upper-casing
    EXPECT_EQ(KeyChord::keyName(41, german), "Ö");
    for (const auto& [code, flags] : german.asked)
        EXPECT_EQ(flags, 0u) << code;

    EXPECT_EQ(KeyChord::keyName(99 + 1000, german), "key 1099");
    EXPECT_EQ(KeyChord::keyName(200, german), "key 200");
    // Codes beyond 16 bits are never truncated into a real key.
    german.asked.clear();
    EXPECT_EQ(KeyChord::keyName(65536 + 16, german), "key 65552");
    EXPECT_TRUE(german.asked.empty());
}

TEST(KeyChord, KeyNameWithoutTranslatorUsesTheProcessWideFactory)
{
    FactoryGuard guard;
    EXPECT_EQ(KeyChord::keyName(12), "Q"); // the US table by default
    int made = 0;
    setKeyboardLayoutTranslatorFactory([&made] {
        ++made;
        return std::make_unique<TableTranslator>(std::map<std::uint16_t, std::string>{{12, "a"}});
    });
    EXPECT_EQ(KeyChord::keyName(12), "A"); // AZERTY: the Q position types a
    EXPECT_EQ((KeyChord{12, KeyChord::command}.displayString()), "⌘A");
    EXPECT_EQ(KeyChord::keyName(48), "⇥");
    EXPECT_EQ(KeyChord::keyName(70000), "key 70000");
    EXPECT_EQ(made, 2); // fixed names and huge codes need no layout

    setKeyboardLayoutTranslatorFactory([] { return std::unique_ptr<KeyboardLayoutTranslator>(); });
    EXPECT_EQ(KeyChord::keyName(12), "Q"); // a factory that fails falls back to US
}

TEST(KeyChord, FromEventTakesKeyDownOnlyAndMapsTheKeyAboveTabWhichWithCommandUsesCommandTab)
{
    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 50, KeyChord::command | capsLock}), (KeyChord{65535, 0x100000}));

    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 10, 0})->keyCode, 65535u);
    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 48, 0})->keyCode, 48u);
    EXPECT_FALSE(KeyChord::fromEvent({KeyEvent::Kind::keyUp, 48, KeyChord::command}));
    EXPECT_FALSE(KeyChord::fromEvent({KeyEvent::Kind::flagsChanged, 55, KeyChord::command}));

    // Fn, caps lock and device bits (left/right command 0x8/0x10) are dropped.
    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 0, ~std::uint64_t{0}}), (KeyChord{0, KeyChord::modifierMask}));
    EXPECT_EQ(KeyChord::fromEvent({KeyEvent::Kind::keyDown, 0, fnFlag | capsLock | 0x18})->modifiers, 0u);

    // Only the placeholder counts as the key above Tab, not its raw code 50.
    const std::pair<KeyChord, bool> cases[] = {
        {{48, KeyChord::command}, true}, {{48, KeyChord::command | KeyChord::shift}, true},
        {{65535, KeyChord::command | KeyChord::shift}, true}, {{48, KeyChord::control | KeyChord::option}, false},
        {{50, KeyChord::command}, false}, {{49, KeyChord::command}, false}};
    for (const auto& [chord, expected] : cases)
        EXPECT_EQ(chord.usesCommandTab(), expected) << chord.keyCode << " " << chord.modifiers;
}

TEST(KeyChord, EqualityAndHashOverBothFields)
{
    std::unordered_set<KeyChord> set{{48, KeyChord::command}, {48, KeyChord::command}, {48, KeyChord::control},
                                     {49, KeyChord::command}};
    EXPECT_EQ(set.size(), 3u);
    // keyCode and modifiers are not interchangeable in the hash.
    EXPECT_NE(std::hash<KeyChord>{}({1, 2}), std::hash<KeyChord>{}({2, 1}));
}

TEST(FastSearchModifier, CasesRoundTripAndNameTheirKeys)
{
    const auto& cases = allCases<FastSearchModifier>();
    ASSERT_EQ(cases.size(), 7u);
    const std::optional<std::uint16_t> codes[] = {std::nullopt, 63, 53, 55, 54, 58, 61};
    const bool flags[] = {false, true, false, true, true, true, true};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(keyCode(cases[i]), codes[i]) << rawValue(cases[i]);
        EXPECT_EQ(isFlagsChanged(cases[i]), flags[i]) << rawValue(cases[i]);
        EXPECT_EQ(fromRawValue<FastSearchModifier>(rawValue(cases[i])), cases[i]);
    }
    for (const char* bad : {"Fn", "", "rightCommand "})
        EXPECT_FALSE(fromRawValue<FastSearchModifier>(bad)) << bad;
}

TEST(USKeyboardLayout, TypesUSTextWithShiftAndCapsLockAndNothingForControlCharacters)
{
    USKeyboardLayoutTranslator us;
    const std::map<std::uint16_t, std::pair<std::string, std::string>> keys{
        {0, {"a", "A"}},  {46, {"m", "M"}}, {18, {"1", "!"}},   {29, {"0", ")"}}, {27, {"-", "_"}},
        {39, {"'", "\""}}, {42, {"\\", "|"}}, {50, {"`", "~"}}, {49, {" ", " "}}, {89, {"7", "7"}}};
    for (const auto& [code, text] : keys) {
        EXPECT_EQ(us.character(code, 0), text.first) << code;
        EXPECT_EQ(us.character(code, KeyChord::shift), text.second) << code;
    }
    EXPECT_EQ(us.character(0, capsLock), "A");
    EXPECT_EQ(us.character(18, capsLock), "1"); // caps lock leaves digits alone
    EXPECT_EQ(us.character(0, KeyChord::command), "a");

    for (std::uint16_t code : {36, 48, 51, 53, 76, 10, 90, 123, 200, 65535})
        EXPECT_FALSE(us.character(code, 0)) << code; // Return, Tab, Delete, Escape, keypad Enter, ...
    EXPECT_FALSE(us.character(0, KeyChord::control));
    EXPECT_FALSE(us.character(33, KeyChord::control)); // ⌃[ is Escape
    EXPECT_EQ(us.character(18, KeyChord::control), "1");
}

} // namespace
} // namespace vantrel
