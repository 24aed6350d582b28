// Hot keys over the simulated keyboard: ids, the registry, dispatch and the
// key-above-Tab rule.
#include "InputEngine/HotKey.h"
#include "Platform/Sim/SimulatedInput.h"
#include "Support/InstalledInput.h"
#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"

#include <gtest/gtest.h>

#include <memory>

namespace vantrel {
namespace {

using ModifierFlags::capsLock, ModifierFlags::command, ModifierFlags::control, ModifierFlags::option, ModifierFlags::shift;
using KeyCodes::tab;

class HotKeyTest : public ::testing::Test {
protected:
    std::shared_ptr<SimulatedInput> input = std::make_shared<SimulatedInput>();
    test::InstalledInputBackend installedInput{input};
    test::HotKeysUnregistered hotKeysUnregistered;
};

TEST_F(HotKeyTest, ARefusedChordOrNoBackendGivesNoHotKey)
{
    input->refuseChord(tab, option); // held by the window manager
    EXPECT_FALSE(HotKey::make({tab, option}, [] {}));
    setCurrentInputBackend(nullptr);
    EXPECT_FALSE(HotKey::make({tab, control}, [] {}));
    EXPECT_TRUE(HotKey::make(input, {tab, control}, [] {})) << "on the backend given";
}

TEST_F(HotKeyTest, PressCallsHandlerReleaseCallsOnReleaseOnlyWhenSetAndModifiersMatchExactlyButForCapsLock)
{
    int presses = 0, releases = 0;
    auto hotKey = HotKey::make({tab, command}, [&] { ++presses; });
    ASSERT_TRUE(hotKey);
    input->keyDown(tab, command);
    input->keyUp(tab, command);
    hotKey->onRelease = [&] { ++releases; };
    input->keyDown(tab, command | capsLock);
    input->keyDown(tab, command | capsLock); // auto-repeat does not press again
    input->keyUp(tab, command);

    // Other modifiers: the keys reach the focused window instead.
    for (std::uint64_t flags : {command | shift, std::uint64_t {0}}) {
        input->keyDown(tab, flags);
        input->keyUp(tab, flags);
    }
    EXPECT_EQ(std::pair(presses, releases), std::pair(2, 1));
    EXPECT_EQ(input->delivered.size(), 4u);
}

TEST_F(HotKeyTest, RegistryKeepsHotKeyAliveUntilUnregisterWhichIsHarmlessTwice)
{
    int presses = 0;
    std::weak_ptr<HotKey> weak;
    std::uint32_t id = 0;
    {
        auto hotKey = HotKey::make({tab, control | option}, [&] { ++presses; });
        ASSERT_TRUE(hotKey);
        weak = hotKey;
        id = hotKey->id();
    }
    ASSERT_FALSE(weak.expired());
    input->keyDown(tab, control | option);

    auto hotKey = weak.lock();
    hotKey->unregister();
    hotKey->unregister();
    EXPECT_FALSE(hotKey->isRegistered());
    hotKey.reset();
    EXPECT_TRUE(weak.expired());

    // Neither the chord nor an event still carrying the old id does anything,
    // also once a newer hot key is registered: ids are never reused.
    input->keyDown(tab, control | option);
    const auto newer = HotKey::make({tab, command}, [&] { ++presses; });
    HotKey::dispatch(id, HotKeyPhase::press);
    EXPECT_EQ(presses, 1);
}

TEST_F(HotKeyTest, HandlerMayUnregisterItsOwnHotKey)
{
    std::weak_ptr<HotKey> weak;
    int presses = 0;
    {
        auto hotKey = HotKey::make({tab, command}, [&] {
            weak.lock()->unregister();
            ++presses; // the hot key, and this handler, must still be alive
        });
        weak = hotKey;
    }
    input->keyDown(tab, command);
    EXPECT_TRUE(weak.expired());
    input->keyUp(tab, command);
    EXPECT_EQ(input->delivered.size(), 1u) << "the release of a forgotten hot key is the window's";
    input->keyDown(tab, command);
    EXPECT_EQ(presses, 1);
}

TEST_F(HotKeyTest, TheKeyAboveTabResolvesToTheKeyboardTypesKey)
{
    const KeyChord sentinel{KeyChord::keyAboveTab, command | shift};
    for (auto [type, key] : {std::pair {KeyboardType::iso, 10}, {KeyboardType::ansi, 50}, {KeyboardType::jis, 50}})
        EXPECT_EQ(HotKey::Chord::from(sentinel, type), (HotKey::Chord {std::uint16_t(key), command | shift}));
    // Real key codes, including 10 and 50 themselves, pass unchanged.
    EXPECT_EQ(HotKey::Chord::from(KeyChord{50, command}, KeyboardType::iso), (HotKey::Chord{50, command}));

    // The process's backend says which keyboard it is; without one it is ANSI.
    input->keyboard = KeyboardType::ansi;
    EXPECT_EQ(HotKey::Chord::from(sentinel).keyCode, 50u);
    input->keyboard = KeyboardType::iso;
    EXPECT_EQ(HotKey::Chord::from(sentinel).keyCode, 10u);
    setCurrentInputBackend(nullptr);
    EXPECT_EQ(HotKey::Chord::from(sentinel).keyCode, 50u);
}

} // namespace
} // namespace vantrel
