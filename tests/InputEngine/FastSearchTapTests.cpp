// The Fast Search hold over the simulated keyboard: which key holds, what
// typed keys become, what is swallowed, and installation.
#include "InputEngine/FastSearchTap.h"
#include "Platform/Sim/SimulatedInput.h"
#include "Runtime/Log.h"
#include "VantrelCore/KeyCodes.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

using Event = FastSearchTap::Event;
using Character = FastSearchTap::Character;
using MoveSelection = FastSearchTap::MoveSelection;
using Ended = FastSearchTap::Ended;
using Began = FastSearchTap::Began;
using Backspace = FastSearchTap::Backspace;
using Events = std::vector<Event>;

using ModifierFlags::command, ModifierFlags::control, ModifierFlags::option, ModifierFlags::shift;

namespace Key {
constexpr std::uint16_t a = 0, s = 1, e = 14, b = 11, quote = 39;
using KeyCodes::returnKey, KeyCodes::keypadEnter, KeyCodes::tab, KeyCodes::deleteKey, KeyCodes::escape;
using KeyCodes::down, KeyCodes::up, KeyCodes::left;
using KeyCodes::leftCommand, KeyCodes::rightCommand, KeyCodes::leftOption, KeyCodes::rightOption;
} // namespace Key

class FastSearchTapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tap = std::make_unique<FastSearchTap>(input);
        tap->onEvent = [this](const Event& event) { events.push_back(event); };
    }
    // Presses and releases a key while the modifier flags `flags` are down.
    void type(std::uint16_t keyCode, std::uint64_t flags)
    {
        input->keyDown(keyCode, flags);
        input->keyUp(keyCode, flags);
    }
    // Holds `key` with `flags` down, types `keys` meanwhile, and lets go.
    void holdAndType(std::uint16_t key, std::uint64_t flags, std::initializer_list<std::uint16_t> keys)
    {
        input->flagsChanged(key, flags);
        for (auto keyCode : keys)
            type(keyCode, flags);
        input->flagsChanged(key, 0);
    }

    std::shared_ptr<SimulatedInput> input = std::make_shared<SimulatedInput>();
    std::unique_ptr<FastSearchTap> tap;
    std::vector<Event> events;
};

/// One key typed during a hold on left command or right option, with `flags` down: the events after Began.
struct HeldKey {
    const char* name;
    FastSearchModifier modifier;
    std::uint16_t keyCode;
    std::uint64_t flags;
    Events events;
};

TEST_F(FastSearchTapTest, EachKeyDuringAHoldBecomesOneEventAndNoProgramSeesIt)
{
    using enum FastSearchModifier;
    const HeldKey keys[] = {
        {"a command hold types plain letters", leftCommand, Key::a, command, {Character{"a"}}},
        {"shift still gives capitals", leftCommand, Key::b, command | shift, {Character{"B"}}},
        {"an option hold types the plain level", rightOption, 18, option, {Character{"1"}}},
        {"an option hold keeps shift", rightOption, 18, option | shift, {Character{"!"}}},
        {"a command hold keeps option", leftCommand, 18, command | option, {Character{"¡"}}},
        {"shift-tab also moves down", rightOption, Key::tab, option | shift, {MoveSelection{+1}}},
        {"down moves down", rightOption, Key::down, option, {MoveSelection{+1}}},
        {"up moves up", rightOption, Key::up, option, {MoveSelection{-1}}},
        {"delete is backspace", rightOption, Key::deleteKey, option, {Backspace{}}},
        {"a key without text does nothing", rightOption, Key::left, option, {}},
        {"a control character does nothing", rightOption, Key::a, option | control, {}},
        {"space is text", rightOption, 49, option, {Character{" "}}},
    };
    for (const HeldKey& key : keys) {
        SCOPED_TRACE(key.name);
        const std::uint16_t holdKey = key.modifier == leftCommand ? Key::leftCommand : Key::rightOption;
        tap->setModifier(key.modifier);
        input->flagsChanged(holdKey, key.flags & (command | option));
        events.clear();
        input->delivered.clear();
        type(key.keyCode, key.flags);
        EXPECT_EQ(events, key.events);
        EXPECT_TRUE(input->delivered.empty());
        input->flagsChanged(holdKey, 0);
    }
}

TEST_F(FastSearchTapTest, TheModifierChangesAndKeysOutsideAHoldPass)
{
    tap->setModifier(FastSearchModifier::leftCommand);
    holdAndType(Key::leftCommand, command, {Key::a});
    EXPECT_EQ(events, (Events{Began{}, Character{"a"}, Ended{true}}));
    for (auto key : {Key::a, Key::escape, Key::returnKey})
        type(key, 0);
    EXPECT_EQ(input->delivered.size(), 8u) << "the hold key's own two changes and the six keys after the hold";
}

TEST_F(FastSearchTapTest, EverythingPassesOnceTheTapIsGone)
{
    tap->setModifier(FastSearchModifier::leftCommand);
    tap.reset();
    holdAndType(Key::leftCommand, command, {Key::a});
    EXPECT_EQ(input->delivered.size(), 4u);
    EXPECT_TRUE(events.empty());
}

// Return and Escape during a hold: X11InputTests and SearchControllerTests.
TEST_F(FastSearchTapTest, EachHoldEndsOnceByKeypadEnterOrByItsRelease)
{
    tap->setModifier(FastSearchModifier::leftCommand);
    holdAndType(Key::leftCommand, command, {Key::keypadEnter});
    // Released with an empty query it still commits; a second report of either edge changes nothing.
    input->flagsChanged(Key::leftCommand, command);
    input->flagsChanged(Key::leftCommand, command);
    input->flagsChanged(Key::leftCommand, 0);
    input->flagsChanged(Key::leftCommand, 0);
    EXPECT_EQ(events, (Events{Began{}, Ended{true}, Began{}, Ended{true}}));
}

TEST_F(FastSearchTapTest, CapsLockModeHoldsOnKey53AndEscapeCannotCancel)
{
    tap->setModifier(FastSearchModifier::capsLock);
    input->keyDown(Key::escape);
    input->keyDown(Key::escape); // auto-repeat of the hold key
    type(Key::s, 0);
    type(Key::returnKey, 0); // Return still commits
    input->keyUp(Key::escape); // the hold key's release after Return: nothing
    input->keyDown(Key::escape);
    input->keyUp(Key::escape);
    EXPECT_EQ(events, (Events{Began{}, Character{"s"}, Ended{true}, Began{}, Ended{true}}));
    // Only Return's own key up, which comes after the hold, gets through.
    EXPECT_EQ(input->delivered, (std::vector<KeyEvent>{{KeyEvent::Kind::keyUp, Key::returnKey, 0}}));
    // Modifier changes mean nothing in this mode.
    input->flagsChanged(Key::leftCommand, command);
    EXPECT_FALSE(tap->isHeld());
}

// Composing itself: TranslatorContract, and through the tap on X11 (X11InputTests).
TEST_F(FastSearchTapTest, ADeadKeyLeftPendingAtTheEndOfAHoldDoesNotReachTheNext)
{
    input->setLayout(SimulatedLayout::usInternational());
    tap->setModifier(FastSearchModifier::rightCommand);
    holdAndType(Key::rightCommand, command, {Key::quote});
    holdAndType(Key::rightCommand, command, {Key::e});
    EXPECT_EQ(events, (Events{Began{}, Ended{true}, Began{}, Character{"e"}, Ended{true}}));
}

TEST_F(FastSearchTapTest, UninstallDuringAHoldOrFromInsideAnEventCancelsBeforeRemovingTheTap)
{
    tap->setModifier(FastSearchModifier::leftOption);
    input->flagsChanged(Key::leftOption, option);
    bool installedAtEnd = false;
    tap->onEvent = [&](const Event& event) {
        events.push_back(event);
        installedAtEnd = input->tapInstalled();
    };
    tap->setModifier(FastSearchModifier::off);
    EXPECT_TRUE(installedAtEnd);
    EXPECT_FALSE(input->tapInstalled());

    // The owner may turn Fast Search off from inside an event.
    tap->setModifier(FastSearchModifier::leftOption);
    tap->onEvent = [&](const Event& event) {
        events.push_back(event);
        if (std::holds_alternative<Character>(event))
            tap->setModifier(FastSearchModifier::off);
    };
    input->flagsChanged(Key::leftOption, 0);
    input->flagsChanged(Key::leftOption, option);
    type(Key::a, option);
    EXPECT_EQ(events, (Events{Began{}, Ended{false}, Began{}, Character{"a"}, Ended{false}}));
    EXPECT_FALSE(input->tapInstalled());
}

TEST_F(FastSearchTapTest, ChangingTheModifierKeepsTheOneTapAndOnlyTheNewSidesKeyHolds)
{
    tap->setModifier(FastSearchModifier::leftCommand);
    tap->setModifier(FastSearchModifier::rightOption);
    EXPECT_EQ(input->tapInstalls, 1);
    EXPECT_EQ(input->tapModifier(), FastSearchModifier::rightOption);
    input->flagsChanged(Key::leftOption, option);
    EXPECT_FALSE(tap->isHeld());
    input->flagsChanged(Key::rightOption, option | command);
    EXPECT_TRUE(tap->isHeld());
}

TEST_F(FastSearchTapTest, LayoutChangesReachTheTranslatorWhileInstalled)
{
    tap->setModifier(FastSearchModifier::leftCommand);
    input->setLayout(SimulatedLayout::usInternational());
    EXPECT_EQ(tap->translator().layoutName(), "U.S. International");
    tap->setModifier(FastSearchModifier::off);
    input->setLayout(SimulatedLayout::us());
    EXPECT_EQ(tap->translator().layoutName(), "U.S. International");
    tap->setModifier(FastSearchModifier::leftCommand);
    EXPECT_EQ(input->tapInstalls, 2);
}

// Waiting for Input Monitoring until a retry, and a hold key the keyboard
// lacks: SearchControllerTest's AHoldKey cases.
TEST_F(FastSearchTapTest, WithoutPermissionOrAnEventTapNothingIsInstalledAndTheLogSaysWhy)
{
    LogCapture capture;
    input->inputMonitoring = false;
    tap->setModifier(FastSearchModifier::leftOption);
    EXPECT_FALSE(tap->isInstalled());
    EXPECT_FALSE(tap->hasInputMonitoring());
    EXPECT_TRUE(capture.contains("Fast Search waiting for Input Monitoring; tap not installed", "fastsearch"));

    input->inputMonitoring = true;
    input->tapAvailable = false;
    tap->setModifier(FastSearchModifier::rightCommand);
    EXPECT_FALSE(tap->isInstalled());
    EXPECT_TRUE(capture.contains("could not create active event tap (Accessibility?)", "fastsearch"));
}

} // namespace
} // namespace vantrel
