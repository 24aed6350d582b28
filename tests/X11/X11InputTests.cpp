// The keyboard on a private Xvfb + openbox, driven by xdotool: hot keys, the
// modifier feed, keyboard grabs, Fast Search holds and layout changes; and
// KeyboardGrabContract, which holds on the simulated keyboard as well.
#include "InputEngine/FastSearchTap.h"
#include "InputEngine/HotKey.h"
#include "Platform/Sim/SimulatedInput.h"
#include "X11/X11TestSupport.h"
#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <optional>
#include <vector>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

using ModifierFlags::command, ModifierFlags::control;
using KeyCodes::tab;
// X key codes for xdotool: by keysym it would press the left key first to
// make the modifier active, and that press would reach the focused window.
const std::string superR = "134";
const std::string altR = "108";

using test::pumpUntil;
using E = FastSearchTap;
using Events = std::vector<FastSearchTap::Event>;

class X11InputTest : public test::X11KeyboardTest {
protected:
    /// A Fast Search tap holding on `modifier`, its events recorded in `events`.
    FastSearchTap& holdOn(FastSearchModifier modifier)
    {
        tap.emplace();
        tap->onEvent = [this](const FastSearchTap::Event& event) { events.push_back(event); };
        tap->setModifier(modifier);
        return *tap;
    }

    std::optional<FastSearchTap> tap;
    std::vector<FastSearchTap::Event> events;
};

TEST_F(X11InputTest, FreeChordsRegisterButNotTwiceAndAHoldOnFnIsRefused)
{
    // The Super chords and the search chord are free.
    EXPECT_TRUE(HotKey::make(HotKey::Chord{tab, command}, [] {}));
    EXPECT_TRUE(HotKey::make(HotKey::Chord::from(KeyChord{KeyChord::keyAboveTab, command}), [] {}));
    EXPECT_TRUE(HotKey::make(HotKey::Chord{49, control}, [] {}));
    // A chord this process holds already is refused too.
    EXPECT_FALSE(HotKey::make(HotKey::Chord{tab, command}, [] {}));

    // PC keyboards have no Fn key the server sees (the tap's notice of it is FastSearchTapTests').
    EXPECT_FALSE(holdOn(FastSearchModifier::fn).isInstalled());
}

TEST_F(X11InputTest, AKeyboardGrabWaitsOutAnotherClientsGrabThatIsAboutToEnd)
{
    ManualRunLoop otherLoop;
    auto other = X11Connection::open(otherLoop, session->display());
    ASSERT_TRUE(other);
    auto cookie = xcb_grab_keyboard(other->raw(), 0, other->root(), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    std::free(xcb_grab_keyboard_reply(other->raw(), cookie, nullptr));
    EXPECT_FALSE(input->grabKeyboard([](const KeyEvent&) {})) << "a grab that lasts is a refusal";

    std::thread release([&] {
        std::this_thread::sleep_for(20ms);
        xcb_ungrab_keyboard(other->raw(), XCB_CURRENT_TIME);
        xcb_flush(other->raw());
    });
    auto grab = input->grabKeyboard([](const KeyEvent&) {});
    release.join();
    EXPECT_TRUE(grab);
}

// The modifier feed and a chord's press and release: VantrelctlKeysPrintsHotKeysRefusalsAndModifiers.
TEST_F(X11InputTest, CapsLockAndNumLockAloneOrTogetherDoNotStopAChord)
{
    int presses = 0;
    auto hotKey = HotKey::make(HotKey::Chord{tab, command}, [&] { ++presses; });
    ASSERT_TRUE(hotKey);
    ASSERT_TRUE(type({"key", "Caps_Lock", "key", "super+Tab", "key", "Caps_Lock"}));
    EXPECT_TRUE(pumpUntil(loop, [&] { return presses == 1; }));
    ASSERT_TRUE(type({"key", "Num_Lock", "key", "super+Tab", "key", "Num_Lock"}));
    EXPECT_TRUE(pumpUntil(loop, [&] { return presses == 2; }));
    ASSERT_TRUE(type({"key", "Caps_Lock", "key", "Num_Lock", "key", "super+Tab", "key", "Caps_Lock", "key", "Num_Lock"}));
    EXPECT_TRUE(pumpUntil(loop, [&] { return presses == 3; }));
}

TEST_F(X11InputTest, AnUnregisteredChordReachesTheFocusedWindow)
{
    auto client = startKeyClient();
    ASSERT_TRUE(client);
    // The grab alone routes a chord: a Tab the window gets never reached us.
    auto hotKey = HotKey::make(HotKey::Chord{tab, command}, [] {});
    ASSERT_TRUE(hotKey);
    hotKey->unregister();
    ASSERT_TRUE(type({"key", "super+Tab"}));
    EXPECT_EQ(client->readLine(5s), "key 133"); // Super_L
    EXPECT_EQ(client->readLine(5s), "key 23");  // Tab
}

TEST_F(X11InputTest, FastSearchReturnHandsTheKeyboardBackBeforeTheHoldKeyIsReleased)
{
    auto client = startKeyClient();
    ASSERT_TRUE(client);
    ASSERT_TRUE(holdOn(FastSearchModifier::rightOption).isInstalled());
    connection->sync(); // the hold key's grab is on the server before xdotool types
    ASSERT_TRUE(type({"keydown", altR, "key", "x", "key", "Return"}));
    EXPECT_TRUE(pumpUntil(loop, [&] { return events.size() >= 3; }));
    // The first key after the hold ended is consumed while the grab is let go;
    // the next reaches the window.
    ASSERT_TRUE(type({"key", "y"}));
    pumpUntil(loop, [] { return false; }, 100ms);
    ASSERT_TRUE(type({"key", "z", "keyup", altR}));
    EXPECT_EQ(client->readLine(5s), "key 52");
    EXPECT_EQ(events, (Events{E::Began{}, E::Character{"x"}, E::Ended{true}}));
}

TEST_F(X11InputTest, VantrelctlKeysPrintsHotKeysRefusalsAndModifiers)
{
    auto tool = test::startOn(session->display(),
                              {VANTRELCTL_PATH, "keys", "--chord", "48:1048576", "--chord", "48:524288", "--seconds", "5"},
                              test::Reading::output);
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool->readLine(10s), R"({"event":"refused","keyCode":48,"modifiers":524288})");
    EXPECT_EQ(tool->readLine(10s), R"({"event":"ready"})");
    ASSERT_TRUE(type({"key", "super+Tab"}));
    EXPECT_EQ(tool->readLine(5s), R"({"event":"flags","flags":1048576})");
    EXPECT_EQ(tool->readLine(5s), R"({"event":"hotkey","keyCode":48,"modifiers":1048576,"phase":"press"})");
    // Tab's release and Super's come in the order xdotool sent them.
    std::vector<std::string> rest = {tool->readLine(5s).value_or(""), tool->readLine(5s).value_or("")};
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(rest, (std::vector<std::string>{R"({"event":"flags","flags":0})",
                                              R"({"event":"hotkey","keyCode":48,"modifiers":1048576,"phase":"release"})"}));
}

TEST_F(X11InputTest, VantrelctlKeysTakesAChordGivenTwiceOrNamingNoKeyForInvalidInput)
{
    for (const auto& [chord, message] : {std::pair{"48:1048577", "--chord 48:1048577: the chord is given twice"},
                                         std::pair{"4294967295:0", "--chord 4294967295:0: no key has code 4294967295"}}) {
        auto tool = test::startOn(session->display(),
                                  {VANTRELCTL_PATH, "keys", "--chord", "48:1048576", "--chord", chord, "--seconds", "1"});
        ASSERT_TRUE(tool);
        const auto run = test::finish(*tool, 10s);
        EXPECT_EQ(run.text, std::string("vantrelctl keys: ") + message + "\n");
        EXPECT_EQ(run.status, 2);
    }
}

// Dead keys themselves are composed by the translators (X11KeymapTests) and
// the tap (FastSearchTapTests); here the server's layout change reaches them.
// Last of the suite: openbox lets its key bindings go for a moment when the
// layout changes, and the cases before it need Alt+Tab held.
TEST_F(X11InputTest, ALayoutChangeOnTheServerReachesTheTapAndNewTranslators)
{
    holdOn(FastSearchModifier::rightCommand);
    int layoutChanges = 0;
    auto observer = input->observeLayoutChanges([&] { ++layoutChanges; });

    // Leaves the layout as the other tests expect it, also after a failure.
    std::shared_ptr<void> restore(nullptr, [&](void*) { test::runOn(session->display(), {"setxkbmap", "us"}); });
    ASSERT_TRUE(test::runOn(session->display(), {"setxkbmap", "us", "-variant", "intl"}));
    EXPECT_TRUE(pumpUntil(loop, [&] { return layoutChanges > 0; }));
    EXPECT_EQ(makeKeyboardLayoutTranslator()->character(39, 0), std::nullopt) << "the quote key is the new layout's dead acute";

    // A hold on Super_R composes the new layout's dead acute (X key 48) with e, and its release ends it.
    ASSERT_TRUE(type({"keydown", superR, "key", "48", "key", "e", "keyup", superR}));
    EXPECT_TRUE(pumpUntil(loop, [&] { return events.size() >= 3; }));
    EXPECT_EQ(events, (Events{E::Began{}, E::Character{"é"}, E::Ended{true}}));
}

// What every input backend promises about a keyboard grab and the hot keys,
// checked on the simulated keyboard and on the X server alike.
using Keys = std::vector<KeyEvent>;
constexpr std::uint16_t leftCommand = KeyCodes::leftCommand, keyA = 0;

using test::Backend;

/// The process's input backend is the simulated keyboard or the X11 one; the
/// same keys are typed on either: Super (Command) held over Tab twice, then "a".
class KeyboardGrabContract : public test::X11KeyboardTest, public testing::WithParamInterface<Backend> {
protected:
    void prepare() override
    {
        X11KeyboardTest::prepare();
        if (GetParam() == Backend::simulated)
            simulated.emplace(sim);
    }
    InputBackend& backend() { return GetParam() == Backend::simulated ? static_cast<InputBackend&>(*sim) : *input; }

    /// Registers Super+Tab, grabs the keyboard in `mode` and types the keys.
    void grabAndType(GrabMode mode)
    {
        hotKey = HotKey::make(HotKey::Chord{tab, command}, [&] { ++presses; });
        ASSERT_TRUE(hotKey);
        hotKey->onRelease = [&] { ++releases; };
        grab = backend().grabKeyboard([&](const KeyEvent& event) { keys.push_back(event); }, mode);
        ASSERT_TRUE(grab);
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
    std::shared_ptr<HotKey> hotKey;
    std::unique_ptr<InputSubscription> grab;
};

TEST_P(KeyboardGrabContract, RegisteredChordsStillFireTheirHotKeyThroughAGrab)
{
    ASSERT_NO_FATAL_FAILURE(grabAndType(GrabMode::hotKeysFire));
    EXPECT_EQ(keysWithoutModifiers(), (Keys{{KeyEvent::Kind::keyDown, keyA, 0}, {KeyEvent::Kind::keyUp, keyA, 0}}));
    EXPECT_EQ(std::pair(presses, releases), std::pair(2, 2));
    // Super reaches the grab as a modifier change, down then up.
    ASSERT_GE(keys.size(), 2u);
    EXPECT_EQ(Keys(keys.begin(), keys.begin() + 2),
              (Keys{{KeyEvent::Kind::flagsChanged, leftCommand, command}, {KeyEvent::Kind::flagsChanged, leftCommand, 0}}));
}

TEST_P(KeyboardGrabContract, AGrabTakingEveryKeyGetsRegisteredChordsInstead)
{
    ASSERT_NO_FATAL_FAILURE(grabAndType(GrabMode::everyKey));
    const Keys tabs{{KeyEvent::Kind::keyDown, tab, command}, {KeyEvent::Kind::keyUp, tab, command}};
    EXPECT_EQ(keysWithoutModifiers(), (Keys{tabs[0], tabs[1], tabs[0], tabs[1], {KeyEvent::Kind::keyDown, keyA, 0},
                                            {KeyEvent::Kind::keyUp, keyA, 0}}));
    EXPECT_EQ(std::pair(presses, releases), std::pair(0, 0));
}

INSTANTIATE_TEST_SUITE_P(Backends, KeyboardGrabContract, test::everyBackend, test::backendName);

} // namespace
} // namespace vantrel
