// The listener bookkeeping the keyboard backends share, and the modifier
// watcher over their feed.
#include "InputEngine/InputListeners.h"
#include "InputEngine/ModifierWatcher.h"
#include "Platform/Sim/SimulatedInput.h"
#include "Support/InstalledInput.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

using ModifierFlags::command, ModifierFlags::shift;

TEST(InputListenersTest, OneGrabAndOneTapAtATimeAndTheirReleasesRunOnce)
{
    auto listeners = InputListeners::make();
    int releases = 0;
    auto grab = listeners->takeGrab([](const KeyEvent&) {}, [&] { ++releases; });
    EXPECT_FALSE(listeners->takeGrab([](const KeyEvent&) {}));
    grab.reset();
    EXPECT_FALSE(listeners->grab());
    // A new grab is a new token: the old one's release is not run again.
    EXPECT_TRUE(listeners->takeGrab([](const KeyEvent&) {}));
    EXPECT_EQ(releases, 1);

    // One tap too, whose modifier changes only when the backend agrees.
    int removals = 0;
    auto tap = listeners->installTap(
        FastSearchModifier::capsLock, [](const KeyEvent&) { return true; },
        [](FastSearchModifier next) { return next != FastSearchModifier::fn; }, [&] { ++removals; });
    ASSERT_TRUE(tap);
    EXPECT_FALSE(listeners->installTap(FastSearchModifier::leftOption, {}, {}));
    EXPECT_FALSE(tap->setModifier(FastSearchModifier::fn));
    EXPECT_EQ(listeners->tap()->modifier, FastSearchModifier::capsLock);
    EXPECT_TRUE(tap->setModifier(FastSearchModifier::rightCommand));
    EXPECT_EQ(listeners->tap()->modifier, FastSearchModifier::rightCommand);
    tap.reset();
    EXPECT_EQ(removals, 1);
    EXPECT_FALSE(listeners->tap());
}

TEST(InputListenersTest, SubscriptionsOutlivingTheirListenersDoNothing)
{
    auto listeners = InputListeners::make();
    int releases = 0;
    auto feed = listeners->addModifierFeed([](std::uint64_t) {});
    auto grab = listeners->takeGrab([](const KeyEvent&) {}, [&] { ++releases; });
    auto tap = listeners->installTap(FastSearchModifier::leftOption, {}, {});
    listeners.reset();
    EXPECT_FALSE(tap->setModifier(FastSearchModifier::rightOption));
    feed.reset();
    grab.reset();
    tap.reset();
    EXPECT_EQ(releases, 0);
}

TEST(InputListenersTest, AFeedMayUnsubscribeWhileTheFlagsAreDelivered)
{
    auto listeners = InputListeners::make();
    std::vector<std::uint64_t> seen;
    std::unique_ptr<InputSubscription> first;
    first = listeners->addModifierFeed([&](std::uint64_t flags) {
        first.reset();
        seen.push_back(flags); // run from a copy: its captures outlive the unsubscription
    });
    auto second = listeners->addModifierFeed([&](std::uint64_t flags) { seen.push_back(flags + 1); });
    listeners->feedModifiers(10);
    listeners->feedModifiers(20);
    EXPECT_EQ(seen, (std::vector<std::uint64_t>{10, 11, 21}));
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
