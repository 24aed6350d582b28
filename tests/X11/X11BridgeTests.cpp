// The bridge's own operations (Spaces, WindowFocus, AXBridge) and vantrelctl
// over the X11 backend, against openbox on Xvfb.
#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Clients.h"
#include "Support/ChildProcess.h"
#include "Support/X11Session.h"
#include "SystemBridge/AXBridge.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/Spaces.h"
#include "SystemBridge/WindowFocus.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace vantrel::test {
namespace {

/// The X11 backends installed in the bridge, two clients, and the fixture's
/// connection to read the window manager's state. The backends share that
/// connection, so that caughtUp() can wait until they have taken in what a
/// test saw change.
class X11BridgeTest : public X11ConnectionTest {
protected:
    void SetUp() override
    {
        X11ConnectionTest::SetUp();
        if (!ready())
            return;
        bridge.emplace(makeX11Backends(connection, loop));
        one = TestClient::start(session->display());
        two = TestClient::start(session->display());
        ASSERT_TRUE(one && two);
    }

    X11RootState root() { return readRootState(*connection).value_or(X11RootState{}); }

    std::unique_ptr<TestClient> one, two;
    std::optional<InstalledBridge> bridge;
};

std::vector<std::string> stepNames(const WindowFocus::Trace& trace)
{
    std::vector<std::string> names;
    for (const auto& step : trace.steps)
        names.push_back(step.name + (step.ok ? "" : "!"));
    return names;
}

TEST_F(X11BridgeTest, SpacesAndAccessibilityListEachProcessWindowsWithDesktopsTitlesAndSubroles)
{
    auto editor = one->open("editor", "desktop=0 title=Editor");
    auto dialog = one->open("dialog", "desktop=0 type=dialog title=Save");
    auto find = one->open("find", "desktop=0 transient=editor title=Find");
    auto mail = two->open("mail", "desktop=1 pid=0 title=Mail");
    auto panel = two->open("panel", "desktop=1 type=utility title=Panel");
    auto everywhere = two->open("everywhere", "desktop=all title=Everywhere");
    ASSERT_TRUE(editor && dialog && find && mail && panel && everywhere);
    ASSERT_TRUE(caughtUp());

    ASSERT_TRUE(Spaces::isAvailable());
    auto displays = Spaces::displays();
    ASSERT_FALSE(displays.empty());
    ASSERT_EQ(displays[0].spaces.size(), 4u);
    for (std::size_t i = 1; i < displays.size(); ++i)
        EXPECT_TRUE(displays[i].spaces.empty());
    auto tables = Spaces::tables(displays, [](SpaceID space) { return Spaces::windowIDs(space, Spaces::trackerWindowListOptions); });
    EXPECT_EQ(tables.spaceNumbers, (std::map<SpaceID, int>{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    EXPECT_EQ(Spaces::visibleSpaceIDs(), (std::set<SpaceID>{1}));
    EXPECT_EQ(Spaces::activeSpaceID(), 1u);
    EXPECT_TRUE(tables.fullscreenSpaceIDs.empty());
    EXPECT_EQ(tables.windowSpaces[*editor], (std::vector<SpaceID>{1}));
    EXPECT_EQ(tables.windowSpaces[*mail], (std::vector<SpaceID>{2}));
    EXPECT_EQ(tables.windowSpaces[*everywhere], (std::vector<SpaceID>{1, 2, 3, 4}));
    EXPECT_EQ(Spaces::spaceIDs(*mail), (std::vector<SpaceID>{2}));
    EXPECT_FALSE(Spaces::canSetFrontProcess());

    ASSERT_TRUE(AXBridge::isTrusted());
    ASSERT_TRUE(AXBridge::isWindowIDBridgeAvailable());
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
    EXPECT_EQ(AXBridge::pid(AXBridge::window(*mail, two->pid()).value_or(nullptr)), two->pid());
    EXPECT_FALSE(AXBridge::window(*mail, one->pid())) << "the window belongs to the other process";

    EXPECT_TRUE(Spaces::makeCurrent(4));
    ASSERT_TRUE(eventually([&] { return root().currentDesktop == 3u; }));
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(Spaces::visibleSpaceIDs(), (std::set<SpaceID>{4}));
    EXPECT_EQ(Spaces::activeSpaceID(), 4u);
    EXPECT_FALSE(Spaces::makeCurrent(9)) << "no such desktop";
}

TEST_F(X11BridgeTest, FocusGoesToTheWindowsDesktopAndRestoresAMinimizedWindow)
{
    auto here = one->open("here", "desktop=0 title=Here");
    auto there = two->open("there", "desktop=2 title=There");
    ASSERT_TRUE(here && there);
    ASSERT_TRUE(caughtUp());
    auto element = AXBridge::window(*here, one->pid());
    ASSERT_TRUE(element);
    auto shows = [&](xcb_window_t window, std::uint32_t desktop) {
        return eventually([&] {
            auto state = root();
            return state.activeWindow == window && state.currentDesktop == desktop;
        }) && caughtUp();
    };
    // openbox iconifies only windows of the current desktop: minimize first.
    ASSERT_EQ(AXBridge::setMinimized(*element, true), 0);
    ASSERT_TRUE(eventually([&] { return AXBridge::isMinimized(*element); }));

    auto trace = WindowFocus::focus(*there, two->pid());
    EXPECT_TRUE(trace.succeeded()) << ::testing::PrintToString(stepNames(trace));
    ASSERT_FALSE(trace.steps.empty());
    EXPECT_EQ(trace.steps[0].name, "switchSpace");
    EXPECT_EQ(trace.steps[0].detail, "space 3");
    EXPECT_EQ(trace.originSpaceID, 1u);
    ASSERT_TRUE(shows(*there, 2));
    EXPECT_EQ(WindowFocus::frontmostPID(), two->pid());
    // A window on the desktop in view: no switch.
    auto plain = WindowFocus::focus(*there, two->pid());
    EXPECT_EQ(stepNames(plain), (std::vector<std::string>{"setFrontProcessWithOptions", "postEventRecord", "raise"}));

    // Un-minimizing a window of another desktop goes there and restores it.
    ASSERT_EQ(AXBridge::setMinimized(*element, false), 0);
    ASSERT_TRUE(shows(*here, 0));
    EXPECT_FALSE(AXBridge::isMinimized(*element));

    ASSERT_EQ(AXBridge::setMinimized(*element, true), 0);
    ASSERT_TRUE(eventually([&] { return AXBridge::isMinimized(*element); }));
    auto restore = WindowFocus::focus(*here, one->pid());
    EXPECT_TRUE(restore.succeeded()) << ::testing::PrintToString(stepNames(restore));
    ASSERT_FALSE(restore.steps.empty());
    EXPECT_EQ(restore.steps[0].name, "unminimize");
    EXPECT_TRUE(eventually([&] { return !AXBridge::isMinimized(*element) && root().activeWindow == *here; }));
    EXPECT_FALSE(WindowFocus::focus(*here, 0x7FFFFFF0).succeeded()) << "no such process";
}

TEST_F(X11BridgeTest, CloseAsksTheClientAndOnlyTheClosedWindowsElementTurnsInvalid)
{
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(one->open("w" + std::to_string(i), "title=Window " + std::to_string(i)));
    auto doomed = one->open("doomed", "title=Doomed");
    auto stubborn = one->open("stubborn", "ignore-delete=1 title=Stubborn");
    ASSERT_TRUE(doomed && stubborn);
    auto windows = AXBridge::windows(AXBridge::application(one->pid()));
    ASSERT_EQ(windows.ok() ? windows.get().size() : 0u, 8u);
    auto element = AXBridge::window(*doomed, one->pid());
    ASSERT_TRUE(element);
    EXPECT_EQ(AXBridge::close(*element), 0);
    EXPECT_TRUE(one->waitFor("closed doomed"));

    // Elements read before the window went: its own is invalid, never a crash,
    // and every other one still reads.
    int invalid = 0, readable = 0;
    ASSERT_TRUE(eventually([&] {
        invalid = readable = 0;
        for (const auto& each : windows.get()) {
            auto result = AXBridge::attributeResult(each, "AXTitle");
            readable += result.ok();
            invalid += !result.ok() && result.error().code == AXErrors::invalidUIElement;
        }
        return invalid == 1;
    }));
    EXPECT_EQ(readable, 7);
    EXPECT_EQ(AXBridge::raise(*element), AXErrors::invalidUIElement);
    EXPECT_EQ(AXBridge::setMinimized(*element, true), AXErrors::invalidUIElement);
    EXPECT_FALSE(AXBridge::isMinimized(*element));
    // The close button cannot be read any more, which the bridge reports so.
    EXPECT_EQ(AXBridge::close(*element), AXErrors::attributeUnsupported);
    auto steps = stepNames(WindowFocus::focus(*doomed, one->pid()));
    EXPECT_NE(std::find(steps.begin(), steps.end(), "setFrontProcessWithOptions!"), steps.end())
        << ::testing::PrintToString(steps);

    // A client that ignores the request keeps its window: nobody is killed.
    auto kept = AXBridge::window(*stubborn, one->pid());
    ASSERT_TRUE(kept);
    EXPECT_EQ(AXBridge::close(*kept), 0);
    EXPECT_TRUE(one->waitFor("ignored stubborn"));
    EXPECT_TRUE(one->process().isRunning());
    EXPECT_TRUE(AXBridge::window(*stubborn, one->pid()));
}

TEST_F(X11BridgeTest, VantrelctlReportsTheDesktopsOfTheX11BackendAndFailsWithoutAServer)
{
    ASSERT_TRUE(Spaces::makeCurrent(2));
    ASSERT_TRUE(eventually([&] { return root().currentDesktop == 1u; }));
    auto tool = startOn(session->display(), {VANTRELCTL_PATH, "spaces", "--backend", "x11"}, {}, false);
    ASSERT_TRUE(tool);
    auto spaces = finish(*tool);
    ASSERT_EQ(spaces.status, 0) << spaces.output;
    auto result = nlohmann::json::parse(spaces.output);
    ASSERT_FALSE(result["displays"].empty());
    EXPECT_EQ(result["displays"][0]["spaces"].size(), 4u);
    EXPECT_EQ(result["displays"][0]["currentSpaceID"], 2);
    EXPECT_EQ(result["visibleSpaceIDs"], nlohmann::json::array({2}));
    EXPECT_EQ(result["activeSpaceID"], 2);

    // The message names the display that did not answer.
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
