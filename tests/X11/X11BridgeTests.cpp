// The bridge's own operations (Spaces, WindowFocus, AXBridge) and vantrelctl
// over the X11 backend, against openbox on Xvfb.
#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Clients.h"
#include "Support/ChildProcess.h"
#include "Support/X11Session.h"
#include "SystemBridge/AXBridge.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/PrivateSymbols.h"
#include "SystemBridge/Spaces.h"
#include "SystemBridge/WindowFocus.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace vantrel::test {
namespace {

class X11BridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VANTREL_REQUIRE_X11_SESSION(x11);
        session = x11;
        auto made = makeX11Backends(loop, x11->display());
        ASSERT_TRUE(std::holds_alternative<Backends>(made)) << std::get<std::string>(made);
        SystemBridge::install(std::get<Backends>(made));
        probe = X11Connection::open(probeLoop, x11->display());
        ASSERT_NE(probe, nullptr);
        one = TestClient::start(x11->display());
        two = TestClient::start(x11->display());
        ASSERT_TRUE(one && two);
    }
    void TearDown() override { SystemBridge::reset(); }

    X11RootState root() { return readRootState(*probe).value_or(X11RootState{}); }

    X11Session* session = nullptr;
    ManualRunLoop loop;
    ManualRunLoop probeLoop;
    std::shared_ptr<X11Connection> probe;
    std::unique_ptr<TestClient> one, two;
};

std::vector<std::string> stepNames(const WindowFocus::Trace& trace)
{
    std::vector<std::string> names;
    for (const auto& step : trace.steps)
        names.push_back(step.name + (step.ok ? "" : "!"));
    return names;
}

TEST_F(X11BridgeTest, SpacesNumbersTheDesktopsAndPlacesEachWindow)
{
    auto left = one->open("left", "desktop=0 title=Left");
    auto right = two->open("right", "desktop=1 title=Right");
    auto everywhere = two->open("everywhere", "desktop=all title=Everywhere");
    ASSERT_TRUE(left && right && everywhere);

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
    EXPECT_EQ(tables.windowSpaces[*left], (std::vector<SpaceID>{1}));
    EXPECT_EQ(tables.windowSpaces[*right], (std::vector<SpaceID>{2}));
    EXPECT_EQ(tables.windowSpaces[*everywhere], (std::vector<SpaceID>{1, 2, 3, 4}));
    EXPECT_EQ(Spaces::spaceIDs(*right), (std::vector<SpaceID>{2}));
    EXPECT_FALSE(Spaces::canSetFrontProcess());

    EXPECT_TRUE(Spaces::makeCurrent(4));
    ASSERT_TRUE(eventually([&] { return root().currentDesktop == 3u; }));
    EXPECT_EQ(Spaces::visibleSpaceIDs(), (std::set<SpaceID>{4}));
    EXPECT_FALSE(Spaces::makeCurrent(9)) << "no such desktop";
}

TEST_F(X11BridgeTest, AccessibilityListsEachProcessWindowsWithTitlesAndSubroles)
{
    auto editor = one->open("editor", "desktop=0 title=Editor");
    auto dialog = one->open("dialog", "desktop=0 type=dialog title=Save");
    auto mail = two->open("mail", "desktop=1 pid=0 title=Mail");
    ASSERT_TRUE(editor && dialog && mail);
    ASSERT_TRUE(AXBridge::isTrusted());
    ASSERT_TRUE(AXBridge::isWindowIDBridgeAvailable());

    auto windows = AXBridge::windows(AXBridge::application(one->pid()));
    ASSERT_TRUE(windows.ok());
    std::map<WindowID, std::pair<std::string, std::string>> seen;
    for (const auto& element : windows.get())
        seen[AXBridge::windowID(element).value_or(0)] = {AXBridge::title(element).value_or("?"), AXBridge::subrole(element).value_or("?")};
    EXPECT_EQ(seen, (std::map<WindowID, std::pair<std::string, std::string>>{
                        {*editor, {"Editor", "AXStandardWindow"}}, {*dialog, {"Save", "AXDialog"}}}));
    auto found = AXBridge::window(*mail, two->pid());
    ASSERT_TRUE(found);
    EXPECT_EQ(AXBridge::title(*found), "Mail");
    EXPECT_EQ(AXBridge::pid(*found), two->pid());
    EXPECT_FALSE(AXBridge::window(*mail, one->pid())) << "the window belongs to the other process";
}

TEST_F(X11BridgeTest, FocusSwitchesToTheWindowsDesktopAndMakesItActive)
{
    auto here = one->open("here", "desktop=0 title=Here");
    auto there = two->open("there", "desktop=2 title=There");
    ASSERT_TRUE(here && there);

    auto trace = WindowFocus::focus(*there, two->pid());
    EXPECT_TRUE(trace.succeeded()) << ::testing::PrintToString(stepNames(trace));
    ASSERT_FALSE(trace.steps.empty());
    EXPECT_EQ(trace.steps[0].name, "switchSpace");
    EXPECT_EQ(trace.steps[0].detail, "space 3");
    EXPECT_EQ(trace.originSpaceID, 1u);
    ASSERT_TRUE(eventually([&] {
        auto state = root();
        return state.activeWindow == *there && state.currentDesktop == 2u;
    }));
    EXPECT_EQ(WindowFocus::frontmostPID(), two->pid());

    // A window on the desktop in view: no switch.
    auto local = two->open("local", "desktop=2 title=Local");
    ASSERT_TRUE(local);
    auto plain = WindowFocus::focus(*there, two->pid());
    EXPECT_TRUE(plain.succeeded());
    EXPECT_EQ(stepNames(plain), (std::vector<std::string>{"setFrontProcessWithOptions", "postEventRecord", "raise"}));
    ASSERT_TRUE(eventually([&] { return root().activeWindow == *there; }));
}

TEST_F(X11BridgeTest, FocusRestoresAMinimizedWindow)
{
    auto window = one->open("w", "desktop=0 title=Minimized");
    auto other = one->open("other", "desktop=0 title=Other");
    ASSERT_TRUE(window && other);
    auto element = AXBridge::window(*window, one->pid());
    ASSERT_TRUE(element);
    ASSERT_EQ(AXBridge::setMinimized(*element, true), 0);
    ASSERT_TRUE(eventually([&] { return AXBridge::isMinimized(*element); }));

    auto trace = WindowFocus::focus(*window, one->pid());
    EXPECT_TRUE(trace.succeeded()) << ::testing::PrintToString(stepNames(trace));
    ASSERT_FALSE(trace.steps.empty());
    EXPECT_EQ(trace.steps[0].name, "unminimize");
    ASSERT_TRUE(eventually([&] { return !AXBridge::isMinimized(*element) && root().activeWindow == *window; }));
}

TEST_F(X11BridgeTest, CloseGoesThroughTheWindowManagerAndAVanishedWindowIsInvalid)
{
    auto window = one->open("w", "title=Closing");
    ASSERT_TRUE(window);
    auto element = AXBridge::window(*window, one->pid());
    ASSERT_TRUE(element);
    EXPECT_EQ(AXBridge::close(*element), 0);
    EXPECT_TRUE(one->waitFor("closed w"));

    // Read after the window is gone: the invalid-element code, never a crash.
    AXErrorCode error{0};
    ASSERT_TRUE(eventually([&] {
        auto result = AXBridge::attributeResult(*element, "AXTitle");
        if (!result.ok())
            error = result.error();
        return !result.ok();
    }));
    EXPECT_EQ(error.code, AXErrors::invalidUIElement);
    EXPECT_EQ(AXBridge::raise(*element), AXErrors::invalidUIElement);
    EXPECT_FALSE(AXBridge::isMinimized(*element));
    // The close button cannot be read any more, which the bridge reports so.
    EXPECT_EQ(AXBridge::close(*element), AXErrors::attributeUnsupported);
    auto trace = WindowFocus::focus(*window, one->pid());
    EXPECT_FALSE(trace.succeeded());
}

TEST_F(X11BridgeTest, AWindowDestroyedDuringAWalkOfManyGivesTheInvalidElementCode)
{
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(one->open("w" + std::to_string(i), "title=Window " + std::to_string(i)));
    auto windows = AXBridge::windows(AXBridge::application(one->pid()));
    ASSERT_TRUE(windows.ok());
    ASSERT_EQ(windows.get().size(), 20u);
    // The client destroys one window while we walk the list.
    const auto& victim = windows.get()[7];
    const auto victimID = AXBridge::windowID(victim);
    ASSERT_TRUE(victimID);
    std::string tag;
    for (int i = 0; i < 20; ++i)
        if (AXBridge::title(victim) == "Window " + std::to_string(i))
            tag = "w" + std::to_string(i);
    ASSERT_FALSE(tag.empty());
    ASSERT_TRUE(one->command("destroy " + tag));
    ASSERT_TRUE(probe->sync());
    int invalid = 0, readable = 0;
    ASSERT_TRUE(eventually([&] {
        invalid = readable = 0;
        for (const auto& element : windows.get()) {
            auto result = AXBridge::attributeResult(element, "AXTitle");
            if (result.ok())
                ++readable;
            else if (result.error().code == AXErrors::invalidUIElement)
                ++invalid;
        }
        return invalid == 1;
    }));
    EXPECT_EQ(readable, 19);
}

std::string runVantrelctl(const std::string& display, const std::vector<std::string>& arguments, int* status)
{
    ChildProcess::Options options;
    options.argv = {VANTRELCTL_PATH};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.environment = {{"DISPLAY", display}};
    options.pipeStdout = true;
    auto child = ChildProcess::spawn(options);
    std::string output;
    if (!child)
        return output;
    while (auto line = child->readLine(std::chrono::seconds(20)))
        output += *line + "\n";
    *status = child->waitForExit(std::chrono::seconds(20)).value_or(-1);
    return output;
}

TEST_F(X11BridgeTest, VantrelctlReportsTheSymbolsAndTheDesktopsOfTheX11Backend)
{
    int status = -1;
    auto symbols = runVantrelctl(session->display(), {"symbols", "--backend", "x11"}, &status);
    ASSERT_EQ(status, 0) << symbols;
    std::istringstream lines(symbols);
    std::map<std::string, std::string> offered;
    std::string name, resolved;
    while (lines >> name >> resolved)
        offered[name] = resolved;
    EXPECT_EQ(offered.size(), PrivateSymbols::knownNames.size());
    EXPECT_EQ(offered["CGSCopyManagedDisplaySpaces"], "true");
    EXPECT_EQ(offered["_SLPSSetFrontProcessWithOptions"], "true");
    EXPECT_EQ(offered["SLSSpaceSetFrontPSN"], "false");

    ASSERT_TRUE(Spaces::makeCurrent(2));
    ASSERT_TRUE(eventually([&] { return root().currentDesktop == 1u; }));
    auto spaces = runVantrelctl(session->display(), {"spaces", "--backend", "x11"}, &status);
    ASSERT_EQ(status, 0) << spaces;
    auto result = nlohmann::json::parse(spaces);
    ASSERT_FALSE(result["displays"].empty());
    EXPECT_EQ(result["displays"][0]["spaces"].size(), 4u);
    EXPECT_EQ(result["displays"][0]["currentSpaceID"], 2);
    EXPECT_EQ(result["visibleSpaceIDs"], nlohmann::json::array({2}));
    EXPECT_EQ(result["activeSpaceID"], 2);

    auto refused = runVantrelctl(":65000", {"spaces", "--backend", "x11"}, &status);
    EXPECT_NE(status, 0);
}

} // namespace
} // namespace vantrel::test
