// The X11 keyboard without a server: the key-code table and translation
// through xkbcommon keymaps compiled from layout names; and what every
// layout translator does, on xkbcommon and on the simulated layout alike.
#include "Platform/Sim/SimulatedInput.h"
#include "Platform/X11/X11KeyCodes.h"
#include "Platform/X11/XkbLayoutTranslator.h"
#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using ModifierFlags::capsLock, ModifierFlags::command, ModifierFlags::control, ModifierFlags::option, ModifierFlags::shift;

TEST(X11KeyCodeTable, NamedKeysSitWhereLinuxPutsThem)
{
    const std::pair<std::uint16_t, std::uint16_t> pairs[] = {
        {48, 15} /* Tab */, {49, 57} /* Space */, {50, 41} /* grave, left of 1 */, {10, 86} /* ISO section */,
        {55, 125} /* left Command: Super_L */, {54, 126} /* right Command: Super_R */,
        {58, 56} /* left Option: Alt_L */, {61, 100} /* right Option: Alt_R */, {53, 1} /* Escape */,
        {36, 28} /* Return */, {76, 96} /* keypad Enter */, {51, 14} /* Delete: Backspace */,
        {117, 111} /* Forward Delete */, {0, 30} /* A */, {122, 59} /* F1 */, {90, 190} /* F20 */};
    for (auto [carbon, evdev] : pairs) {
        EXPECT_EQ(X11KeyCodes::xKeyCodeFromCarbon(carbon), evdev + 8) << carbon;
        EXPECT_EQ(X11KeyCodes::carbonFromXKeyCode(static_cast<std::uint8_t>(evdev + 8)), carbon) << evdev;
    }
    // Fn lives in the keyboard's firmware on PCs; the placeholder is no key.
    EXPECT_FALSE(X11KeyCodes::evdevFromCarbon(63));
    EXPECT_FALSE(X11KeyCodes::evdevFromCarbon(KeyChord::keyAboveTab));
    EXPECT_FALSE(X11KeyCodes::carbonFromXKeyCode(3));
}

TEST(X11KeyCodeTable, CoversFullKeyboardsAndModifiersNameTheirFlag)
{
    // Letters, digits and punctuation of ANSI and ISO keyboards (0x24 is Return,
    // below); F1-F20 as the chord names count them, arrows, editing keys,
    // keypad, modifiers.
    std::vector<std::uint16_t> keys;
    for (std::uint16_t carbon = 0; carbon <= 0x2F; ++carbon)
        keys.push_back(carbon);
    keys.insert(keys.end(), {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 105, 107, 113, 106, 64, 79, 80,
                             90, 123, 124, 125, 126, 115, 116, 117, 119, 121, 48, 49, 50, 51, 53, 65, 67, 69, 75, 76,
                             78, 81, 82, 83, 84, 85, 86, 87, 88, 89, 91, 92, 55, 54, 56, 60, 59, 62, 58, 61, 57});
    for (std::uint16_t carbon : keys)
        EXPECT_TRUE(X11KeyCodes::evdevFromCarbon(carbon)) << carbon;
    for (auto [key, flag] : {std::pair {55, command}, {54, command}, {58, option}, {61, option}, {56, shift},
             {62, control}, {57, capsLock}, {48, std::uint64_t {0}}})
        EXPECT_EQ(X11KeyCodes::modifierFlagOfKey(std::uint16_t(key)), flag) << key;
}

/// A translator on each backend of the US layout named by `layout`: "intl"
/// (the default; the quote key, 39, is a dead acute), "plain", or "none" for
/// a layout without key data, as an input method has.
struct Translator {
    const char* backend;
    std::function<std::unique_ptr<KeyboardLayoutTranslator>(const std::string& layout)> make;
    friend void PrintTo(const Translator& translator, std::ostream* out) { *out << translator.backend; }
};

class TranslatorContract : public ::testing::TestWithParam<Translator> {
protected:
    std::string layout = "intl";
    std::unique_ptr<KeyboardLayoutTranslator> translator = GetParam().make(layout);
};

constexpr std::uint16_t deadAcute = 39, keyE = 14;

/// Keys pressed in turn on a fresh translator, and what each one types.
struct Typing {
    const char* name;
    std::vector<std::pair<std::uint16_t, std::uint64_t>> keys;
    std::vector<std::optional<std::string>> typed;
};

TEST_P(TranslatorContract, KeysTypeWhatTheLayoutSays)
{
    const std::optional<std::string> none;
    const Typing cases[] = {
        {"a dead key composes with the next key only", {{deadAcute, 0}, {keyE, 0}, {keyE, 0}}, {none, "é", "e"}},
        {"a dead key twice types its accent and is done", {{deadAcute, 0}, {deadAcute, 0}, {deadAcute, 0}, {keyE, 0}},
         {none, "´", none, "é"}},
        {"shift composes capitals", {{deadAcute, 0}, {keyE, shift}}, {none, "É"}},
        {"a dead key then space types its spacing form", {{deadAcute, 0}, {49, 0}}, {none, "'"}},
        {"shift and caps lock choose the upper level, command does not", {{18, shift}, {0, capsLock}, {0, command}},
         {"!", "A", "a"}},
        // Return, Tab, Escape, Backspace, an arrow; Fn is no key on PCs.
        {"control characters and keys without text type nothing",
         {{0, control}, {36, 0}, {48, 0}, {53, 0}, {51, 0}, {123, 0}, {63, 0}}, {none, none, none, none, none, none, none}},
        {"space types a space", {{49, 0}}, {" "}},
    };
    for (const auto& typing : cases) {
        SCOPED_TRACE(typing.name);
        auto fresh = GetParam().make(layout);
        std::vector<std::optional<std::string>> typed;
        for (auto [key, flags] : typing.keys)
            typed.push_back(fresh->character(key, flags));
        EXPECT_EQ(typed, typing.typed);
    }
}

TEST_P(TranslatorContract, ReloadingForgetsAPendingDeadKey)
{
    translator->character(deadAcute, 0);
    translator->reloadLayout();
    EXPECT_EQ(translator->character(keyE, 0), "e");
}

TEST_P(TranslatorContract, ALayoutChangeTakesEffectOnReload)
{
    layout = "plain";
    EXPECT_EQ(translator->character(deadAcute, 0), std::nullopt) << "not before a reload";
    translator->reloadLayout();
    EXPECT_EQ(translator->character(deadAcute, 0), "'");
}

TEST_P(TranslatorContract, ALayoutWithoutKeysTypesNothing)
{
    layout = "none";
    translator->reloadLayout();
    EXPECT_EQ(translator->character(0, 0), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, TranslatorContract,
    ::testing::Values(
        Translator{"Xkb", [](const std::string& layout) {
                       return std::make_unique<XkbLayoutTranslator>([&layout](xkb_context* context) -> std::optional<XkbLayoutSnapshot> {
                           if (layout == "none")
                               return std::nullopt;
                           return XkbLayoutTranslator::namedKeymap("us", layout == "intl" ? "intl" : "")(context);
                       }, "C");
                   }},
        Translator{"Simulated", [](const std::string& layout) {
                       return std::make_unique<SimulatedLayoutTranslator>([&layout] {
                           auto current = layout == "intl" ? SimulatedLayout::usInternational() : SimulatedLayout::us();
                           current.hasLayoutData = layout != "none";
                           return current;
                       });
                   }}),
    [](const ::testing::TestParamInfo<Translator>& info) { return std::string(info.param.backend); });

TEST(SimulatedTranslator, ShiftOnTheDeadKeysOwnKeyIsNotDead)
{
    SimulatedInput input;
    input.setLayout(SimulatedLayout::usInternational());
    // xkbcommon's US International has a second dead key there instead.
    EXPECT_EQ(input.makeLayoutTranslator()->character(39, shift), "\"");
}

TEST(XkbTranslator, OptionIsTheThirdLevel)
{
    XkbLayoutTranslator translator(XkbLayoutTranslator::namedKeymap("us", "intl"), "C");
    EXPECT_EQ(translator.character(keyE, option), "é"); // AltGr+e types é at once
}

TEST(XkbTranslator, TypesTheLayoutItIsNamed)
{
    XkbLayoutTranslator translator(XkbLayoutTranslator::namedKeymap("de"), "C");
    EXPECT_EQ(translator.character(6, 0), "y"); // the Z position types y on German keyboards
}

} // namespace
} // namespace vantrel
