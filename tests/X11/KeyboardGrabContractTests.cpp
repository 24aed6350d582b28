// What every input backend promises about a keyboard grab and the hot keys,
// checked on the simulated keyboard and on a real X server typed at by xdotool.
#include "InputEngine/HotKey.h"
#include "Platform/Sim/SimulatedInput.h"
#include "Support/InstalledInput.h"
#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace vantrel {
namespace {

using ModifierFlags::command;
using KeyCodes::tab;
using Keys = std::vector<KeyEvent>;
constexpr std::uint16_t leftCommand = KeyCodes::leftCommand, keyA = 0;

enum class Backend { simulated, x11 };

/// The process's input backend is the simulated keyboard or the X11 one; the
/// same keys are typed on either: Super (Command) held over Tab twice, then "a".
class KeyboardGrabContract : public test::X11KeyboardTest, public testing::WithParamInterface<Backend> {
protected:
    void SetUp() override
    {
        X11KeyboardTest::SetUp();
        if (ready() && GetParam() == Backend::simulated)
            simulated.emplace(sim);
    }
    InputBackend& backend() { return GetParam() == Backend::simulated ? static_cast<InputBackend&>(*sim) : *input; }

    void typeSuperTabTwiceThenA()
    {
        if (GetParam() == Backend::x11) {
            ASSERT_TRUE(type({"keydown", "super", "key", "Tab", "key", "Tab", "keyup", "super", "key", "a"}));
            return;
        }
        sim->flagsChanged(leftCommand, command);
        for (int i = 0; i < 2; ++i) {
            sim->keyDown(tab, command);
            sim->keyUp(tab, command);
        }
        sim->flagsChanged(leftCommand, 0);
        sim->keyDown(keyA, 0);
        sim->keyUp(keyA, 0);
    }

    /// The grab's key events without the modifier changes, once "a" is up.
    Keys keysWithoutModifiers()
    {
        const Keys upA{{KeyEvent::Kind::keyUp, keyA, 0}};
        test::pumpUntil(loop, [&] { return !keys.empty() && keys.back() == upA.back(); });
        Keys result;
        for (const auto& key : keys)
            if (key.kind != KeyEvent::Kind::flagsChanged)
                result.push_back(key);
        return result;
    }

    std::shared_ptr<SimulatedInput> sim = std::make_shared<SimulatedInput>();
    std::optional<test::InstalledInputBackend> simulated;
    Keys keys;
    int presses = 0, releases = 0;
};

TEST_P(KeyboardGrabContract, RegisteredChordsStillFireTheirHotKeyThroughAGrab)
{
    auto hotKey = HotKey::make(HotKey::Chord{tab, command}, [&] { ++presses; });
    ASSERT_TRUE(hotKey);
    hotKey->onRelease = [&] { ++releases; };
    auto grab = backend().grabKeyboard([&](const KeyEvent& event) { keys.push_back(event); });
    ASSERT_TRUE(grab);
    typeSuperTabTwiceThenA();
    EXPECT_EQ(keysWithoutModifiers(), (Keys{{KeyEvent::Kind::keyDown, keyA, 0}, {KeyEvent::Kind::keyUp, keyA, 0}}));
    EXPECT_EQ(std::pair(presses, releases), std::pair(2, 2));
    // Super reaches the grab as a modifier change, down then up.
    ASSERT_GE(keys.size(), 2u);
    EXPECT_EQ(Keys(keys.begin(), keys.begin() + 2),
              (Keys{{KeyEvent::Kind::flagsChanged, leftCommand, command}, {KeyEvent::Kind::flagsChanged, leftCommand, 0}}));
}

TEST_P(KeyboardGrabContract, AGrabTakingEveryKeyGetsRegisteredChordsInstead)
{
    auto hotKey = HotKey::make(HotKey::Chord{tab, command}, [&] { ++presses; });
    ASSERT_TRUE(hotKey);
    hotKey->onRelease = [&] { ++releases; };
    auto grab = backend().grabKeyboard([&](const KeyEvent& event) { keys.push_back(event); }, GrabMode::everyKey);
    ASSERT_TRUE(grab);
    typeSuperTabTwiceThenA();
    const Keys tabs{{KeyEvent::Kind::keyDown, tab, command}, {KeyEvent::Kind::keyUp, tab, command}};
    EXPECT_EQ(keysWithoutModifiers(), (Keys{tabs[0], tabs[1], tabs[0], tabs[1], {KeyEvent::Kind::keyDown, keyA, 0},
                                            {KeyEvent::Kind::keyUp, keyA, 0}}));
    EXPECT_EQ(std::pair(presses, releases), std::pair(0, 0));
}

INSTANTIATE_TEST_SUITE_P(Backends, KeyboardGrabContract, testing::Values(Backend::simulated, Backend::x11),
                         [](const testing::TestParamInfo<Backend>& info) {
                             return info.param == Backend::simulated ? "Simulated" : "X11";
                         });

} // namespace
} // namespace vantrel
