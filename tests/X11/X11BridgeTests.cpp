// The bridge over the X11 backend where openbox shows what the simulated
// desktop cannot, and vantrelctl without a server.
#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Probe.h"
#include "Support/ChildProcess.h"
#include "Support/X11Session.h"
#include "SystemBridge/AXBridge.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/Spaces.h"
#include "SystemBridge/WindowFocus.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

/// The X11 backends installed in the bridge, two clients, and the fixture's
/// connection to read the window manager's state. The backends share that
/// connection, so that caughtUp() can wait until they have taken in what a
/// test saw change.
class X11BridgeTest : public X11ConnectionTest {
protected:
    void prepare() override
    {
        bridge.emplace(makeX11Backends(connection, loop));
        one = TestClient::start(session->display());
        two = TestClient::start(session->display());
        ASSERT_TRUE(one && two);
    }

    X11RootState root() { return readRootState(*connection).value_or(X11RootState{}); }

    std::unique_ptr<TestClient> one, two;
    std::optional<InstalledBridge> bridge;
};

// What openbox shows that the simulated desktop cannot; the rest is BridgeContract.
TEST_F(X11BridgeTest, DialogsTransientsUtilitiesAndWindowsOnEveryDesktopAreListedAsSuch)
{
    auto editor = one->open("editor", "desktop=0 title=Editor");
    auto dialog = one->open("dialog", "desktop=0 type=dialog title=Save");
    auto find = one->open("find", "desktop=0 transient=editor title=Find");
    auto mail = two->open("mail", "desktop=1 pid=0 title=Mail");
    auto panel = two->open("panel", "desktop=1 type=utility title=Panel");
    auto everywhere = two->open("everywhere", "desktop=all title=Everywhere");
    ASSERT_TRUE(editor && dialog && find && mail && panel && everywhere);
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(Spaces::spaceIDs(*everywhere), (std::vector<SpaceID>{1, 2, 3, 4}));
    EXPECT_FALSE(Spaces::canSetFrontProcess());
    ASSERT_TRUE(AXBridge::isTrusted());
    using Listing = std::map<WindowID, std::pair<std::string, std::string>>;
    auto listing = [](Pid pid) {
        Listing seen;
        auto windows = AXBridge::windows(AXBridge::application(pid));
        for (const auto& element : windows.get())
            seen[AXBridge::windowID(element).value_or(0)] = {AXBridge::title(element).value_or("?"),
                                                             AXBridge::subrole(element).value_or("?")};
        return seen;
    };
    EXPECT_EQ(listing(one->pid()), (Listing{{*editor, {"Editor", "AXStandardWindow"}},
                                            {*dialog, {"Save", "AXDialog"}},
                                            {*find, {"Find", "AXDialog"}}}));
    EXPECT_EQ(listing(two->pid()), (Listing{{*mail, {"Mail", "AXStandardWindow"}},
                                            {*panel, {"Panel", "AXFloatingWindow"}},
                                            {*everywhere, {"Everywhere", "AXStandardWindow"}}}));
    EXPECT_FALSE(AXBridge::window(*mail, one->pid())) << "the window belongs to the other process";
}

TEST_F(X11BridgeTest, UnminimizingAWindowOfAnotherDesktopGoesThere)
{
    auto here = one->open("here", "desktop=0 title=Here");
    ASSERT_TRUE(here && caughtUp());
    auto element = AXBridge::window(*here, one->pid());
    ASSERT_TRUE(element);
    ASSERT_EQ(AXBridge::setMinimized(*element, true), 0);
    ASSERT_TRUE(eventually([&] { return AXBridge::isMinimized(*element); }));
    ASSERT_TRUE(Spaces::makeCurrent(3));
    ASSERT_TRUE(eventually([&] { return root().currentDesktop == 2u; }));
    ASSERT_EQ(AXBridge::setMinimized(*element, false), 0);
    EXPECT_TRUE(eventually([&] { return root().activeWindow == *here && root().currentDesktop == 0u; }));
}

TEST_F(X11BridgeTest, CloseAsksTheClientWhichMayKeepItsWindow)
{
    auto doomed = one->open("doomed", "title=Doomed");
    auto stubborn = one->open("stubborn", "ignore-delete=1 title=Stubborn");
    ASSERT_TRUE(doomed && stubborn && caughtUp());
    ASSERT_EQ(AXBridge::close(AXBridge::window(*doomed, one->pid()).value_or(nullptr)), 0);
    EXPECT_TRUE(one->waitFor("closed doomed"));
    ASSERT_TRUE(caughtUp());
    auto steps = WindowFocus::focus(*doomed, one->pid()).steps;
    auto front = std::ranges::find(steps, std::string("setFrontProcessWithOptions"), &WindowFocus::Step::name);
    EXPECT_TRUE(front != steps.end() && !front->ok) << "a closed window is not brought to the front";

    EXPECT_EQ(AXBridge::close(AXBridge::window(*stubborn, one->pid()).value_or(nullptr)), 0);
    EXPECT_TRUE(one->waitFor("ignored stubborn"));
    EXPECT_TRUE(one->process().isRunning());
    EXPECT_TRUE(AXBridge::window(*stubborn, one->pid()));
}

// What vantrelctl prints is checked on the simulated desktop (tests/Tools).
TEST(X11WithoutAServer, ThereIsNoConnectionNoWindowManagerAndVantrelctlNamesTheDisplay)
{
    ManualRunLoop loop;
    EXPECT_EQ(X11Connection::open(loop, ":65000"), nullptr);
    EXPECT_FALSE(probeWindowManager(":65000").has_value());
    for (const auto& command : {"windows", "keys"}) {
        auto missing = startOn(":65000", {VANTRELCTL_PATH, command});
        ASSERT_TRUE(missing);
        auto failed = finish(*missing);
        EXPECT_NE(failed.status, 0);
        EXPECT_NE(failed.output.find("cannot open the X display ':65000'"), std::string::npos) << failed.output;
    }
}

} // namespace
} // namespace vantrel::test
