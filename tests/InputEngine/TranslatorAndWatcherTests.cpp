// The simulated layout's translator (dead keys, control characters) and the
// modifier watcher.
#include "InputEngine/ModifierWatcher.h"
#include "Platform/Sim/SimulatedInput.h"
#include "Support/InstalledInput.h"
#include "VantrelCore/KeyCodes.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

using ModifierFlags::command, ModifierFlags::control, ModifierFlags::option, ModifierFlags::shift;

// Dead keys, control characters, caps lock and reloading: TranslatorContract (X11KeymapTests).
// The installed backend as the process's translator factory: X11InputTests.
TEST(SimulatedTranslator, ShiftOnTheDeadKeysOwnKeyIsNotDead)
{
    SimulatedInput input;
    input.setLayout(SimulatedLayout::usInternational());
    // xkbcommon's US International has a second dead key there instead.
    EXPECT_EQ(input.makeLayoutTranslator()->character(39, shift), "\"");
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
    const test::InstalledInputBackend none(nullptr);
    EXPECT_FALSE(ModifierWatcher::make());
}

} // namespace
} // namespace vantrel
