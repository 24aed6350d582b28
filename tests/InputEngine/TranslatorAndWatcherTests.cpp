// The simulated layout's translator (dead keys, control characters) and the
// modifier watcher.
#include "InputEngine/ChordFormatting.h"
#include "InputEngine/ModifierWatcher.h"
#include "Platform/Sim/SimulatedInput.h"
#include "VantrelCore/KeyCodes.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

using ModifierFlags::command, ModifierFlags::control, ModifierFlags::option, ModifierFlags::shift;

TEST(SimulatedTranslator, DeadKeysComposeControlCharactersAndMissingLayoutsGiveNothingAndTheBackendMakesIt)
{
    SimulatedInput input;
    input.setLayout(SimulatedLayout::usInternational());
    auto translator = input.makeLayoutTranslator();
    const std::vector<std::pair<std::vector<std::pair<std::uint16_t, std::uint64_t>>, std::string>> cases = {
        {{{39, 0}, {14, 0}}, "é"},     {{{39, 0}, {39, 0}}, "´"}, {{{39, 0}, {49, 0}}, "'"},
        {{{39, 0}, {14, shift}}, "É"}, {{{39, shift}}, "\""}, // shift on the dead key's own key is not dead
        {{{14, 0}}, "e"},                                      // consumed
    };
    for (const auto& [keys, expected] : cases) {
        std::optional<std::string> typed;
        for (const auto& [code, flags] : keys)
            typed = translator->character(code, flags);
        EXPECT_EQ(typed, expected);
    }
    // Reloading drops a pending dead key.
    EXPECT_EQ(translator->character(39, 0), std::nullopt);
    translator->reloadLayout();
    EXPECT_EQ(translator->character(14, 0), "e");

    // Control characters and a missing layout give nothing.
    input.setLayout(SimulatedLayout::us());
    translator->reloadLayout();
    EXPECT_EQ(translator->character(0, control), std::nullopt);
    EXPECT_EQ(translator->character(36, 0), std::nullopt); // Return: "\r"
    EXPECT_EQ(translator->character(48, 0), std::nullopt); // Tab
    EXPECT_EQ(translator->character(49, 0), " ");
    EXPECT_EQ(translator->character(0, ModifierFlags::capsLock), "A");

    SimulatedLayout inputMethod = SimulatedLayout::us();
    inputMethod.name = "Pinyin";
    inputMethod.hasLayoutData = false;
    input.setLayout(inputMethod);
    EXPECT_EQ(translator->character(0, 0), "a"); // not reloaded yet
    translator->reloadLayout();
    EXPECT_EQ(translator->layoutName(), "Pinyin");
    EXPECT_EQ(translator->character(0, 0), std::nullopt);

    // With the backend installed it is the process-wide factory.
    auto backend = std::make_shared<SimulatedInput>();
    backend->setLayout(SimulatedLayout::usInternational());
    setCurrentInputBackend(backend);
    EXPECT_EQ(makeKeyboardLayoutTranslator()->layoutName(), "U.S. International");
    setCurrentInputBackend(nullptr);
    EXPECT_EQ(makeKeyboardLayoutTranslator()->layoutName(), "U.S.");
}

TEST(ModifierWatcherTest, ReportsEveryChangeAsTheDeviceIndependentSetAndNeedsTheFeed)
{
    SimulatedInput input;
    auto watcher = ModifierWatcher::make(input);
    ASSERT_TRUE(watcher);
    std::vector<std::uint64_t> reports;
    watcher->onFlagsChanged = [&](std::uint64_t flags) { reports.push_back(flags); };

    input.flagsChanged(56, shift | 0x2);             // left shift down, with its side bit
    input.flagsChanged(56, 0x100 | (1ull << 40));    // up; device bits only
    input.flagsChanged(55, command | shift | 0x8);
    EXPECT_EQ(reports, (std::vector<std::uint64_t>{shift, 0, command | shift}));

    // Without a callback changes are dropped, and the events still pass.
    watcher->onFlagsChanged = nullptr;
    input.flagsChanged(55, 0);
    EXPECT_EQ(reports.size(), 3u);
    EXPECT_EQ(input.delivered.size(), 4u);

    // Gone: the feed stops.
    watcher->onFlagsChanged = [&](std::uint64_t flags) { reports.push_back(flags); };
    watcher.reset();
    input.flagsChanged(56, shift);
    EXPECT_EQ(reports.size(), 3u);

    // No watcher when the feed is refused or there is no backend.
    input.modifierFeedAvailable = false;
    EXPECT_FALSE(ModifierWatcher::make(input));
    setCurrentInputBackend(nullptr);
    EXPECT_FALSE(ModifierWatcher::make());
}

TEST(ChordFormattingTest, NamesChordsAsPCDesktopsDo)
{
    SimulatedInput input;
    auto translator = input.makeLayoutTranslator();
    const std::pair<KeyChord, const char*> names[] = {
        {{48, command}, "Super+Tab"}, {{48, command | option | control | shift}, "Ctrl+Alt+Shift+Super+Tab"},
        {{49, control}, "Ctrl+Space"}, {{KeyChord::keyAboveTab, command}, "Super+`"}, {{0, shift}, "Shift+A"},
        {{122, 0}, "F1"}, {{51, 0}, "Backspace"}};
    for (const auto& [chord, name] : names)
        EXPECT_EQ(ChordFormatting::platformString(chord, *translator), name);
    // The layout names the other keys; a dead key has no name of its own.
    EXPECT_EQ(ChordFormatting::platformString({39, command}, *translator), "Super+'");
    input.setLayout(SimulatedLayout::usInternational());
    translator->reloadLayout();
    EXPECT_EQ(ChordFormatting::platformString({39, command}, *translator), "Super+key 39");
    EXPECT_EQ(ChordFormatting::keyName(200, *translator), "key 200");
}

} // namespace
} // namespace vantrel
