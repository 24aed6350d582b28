// The simulated desktop's own behaviour: workspace, screen and space notifications, its slots.
#include "Platform/Sim/SimDesktop.h"
#include "Runtime/ManualRunLoop.h"
#include "SystemBridge/Backends.h"

#include <gtest/gtest.h>

namespace vantrel::Sim {
namespace {

class SimDesktopTest : public ::testing::Test {
protected:
    ManualRunLoop loop;
    std::shared_ptr<SimDesktop> desktop = SimDesktop::create(loop);
};

// Launches and terminations are the bridge contract's (BridgeContractTests).
TEST_F(SimDesktopTest, ActivationIsReportedOnlyOnAChange)
{
    std::vector<Pid> activated;
    auto observation = desktop->observe(WorkspaceEvent::didActivateApplication, loop,
                                        [&](const RunningApplication& app) { activated.push_back(app.pid); });
    desktop->launch({.pid = 5, .name = "Five"});
    desktop->openWindow({.id = 50, .pid = 5, .title = "w"});
    desktop->focus(50);
    desktop->focus(50);
    loop.runPending();
    EXPECT_EQ(activated, std::vector<Pid>{5});
}

TEST_F(SimDesktopTest, HidingMarksTheApplicationHidden)
{
    desktop->launch({.pid = 5, .name = "Five"});
    EXPECT_TRUE(desktop->hide(5));
    EXPECT_TRUE(desktop->runningApplication(5)->isHidden);
}

TEST_F(SimDesktopTest, AnAddedDisplayIsAScreenAndScreenObserversHearIt)
{
    int changes = 0;
    auto observation = desktop->observeScreens(loop, [&] { ++changes; });
    desktop->addDisplay({.identifier = "A", .frame = {0, 0, 100, 50}, .visibleFrame = {0, 5, 100, 45}});
    loop.runPending();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(desktop->screens(), (std::vector<Screen>{{"A", {0, 0, 100, 50}, {0, 5, 100, 45}}}));
}

TEST_F(SimDesktopTest, SpaceObserversHearSwitchesMovesAndNewSpacesButNotNoOps)
{
    desktop->addDisplay({.identifier = "A", .spaces = {{.id = 1}, {.id = 2}}, .currentSpaceID = 1});
    desktop->launch({.pid = 5, .name = "Five"});
    desktop->openWindow({.id = 50, .pid = 5, .spaces = {1}});
    int changes = 0;
    auto observation = desktop->observeSpaces(loop, [&] { ++changes; });
    auto changesHeard = [&] {
        loop.runPending();
        return changes;
    };

    desktop->setCurrentSpace("A", 2);
    EXPECT_EQ(changesHeard(), 1);
    desktop->setWindowSpaces(50, {2});
    desktop->setWindowSpaces(50, {2}); // already there
    EXPECT_EQ(changesHeard(), 2);
    desktop->slots().managedDisplaySetCurrentSpace(1, "A", 1);
    desktop->slots().managedDisplaySetCurrentSpace(1, "A", 1); // already current
    EXPECT_EQ(changesHeard(), 3);
    desktop->setSpaces("A", {{.id = 2}, {.id = 3}});
    EXPECT_EQ(changesHeard(), 4);
    EXPECT_EQ(desktop->displays()[0].currentSpaceID, 2u) << "the current space went away";

    desktop->setCurrentSpace("A", 3);
    observation.reset();
    EXPECT_EQ(changesHeard(), 4) << "a dropped observation never fires, even for queued jobs";
}

TEST_F(SimDesktopTest, ElementsOfAnotherBackendAreRejected)
{
    struct Foreign final : AXElementObject {};
    AXValue value;
    EXPECT_EQ(desktop->copyAttributeValue(std::make_shared<Foreign>(), "AXTitle", value), AXErrors::illegalArgument);
    EXPECT_EQ(desktop->performAction(nullptr, "AXRaise"), AXErrors::illegalArgument);
}

TEST_F(SimDesktopTest, WithoutSlotsThereIsNoSignalSafeHotKeySetter)
{
    EXPECT_TRUE(desktop->signalSafeHotKeySetter());
    desktop->removeAllSlots();
    EXPECT_FALSE(desktop->signalSafeHotKeySetter());
}

// Without a main loop, or unknown. Made with a loop it serves every vantrelctl
// command run with --backend sim (VantrelctlTests).
TEST(SimRegistration, ABackendThatCannotBeMadeIsAnError)
{
    registerSimBackend();
    ASSERT_TRUE(BackendRegistry::contains("sim"));
    EXPECT_TRUE(std::holds_alternative<std::string>(BackendRegistry::make("sim", BackendOptions{})));
    ManualRunLoop loop;
    EXPECT_TRUE(std::holds_alternative<std::string>(BackendRegistry::make("nonesuch", BackendOptions{&loop})));
}

} // namespace
} // namespace vantrel::Sim
