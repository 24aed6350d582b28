// Entry-point resolution: the report, once-only slots, the fallback, the session.
#include "Support/SimBridge.h"
#include "SystemBridge/AXBridge.h"
#include "SystemBridge/PrivateSymbols.h"
#include "SystemBridge/Session.h"
#include "SystemBridge/SkyLight.h"
#include "SystemBridge/Spaces.h"
#include "SystemBridge/SymbolicHotKeys.h"
#include "SystemBridge/WindowFocus.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vantrel {
namespace {

using test::SimBridgeTest;

// Every name in table order: VantrelctlSymbols.PrintsFourteenRowsInTableOrder.
TEST_F(SimBridgeTest, ReportFollowsTheBackendWithoutCaching)
{
    EXPECT_TRUE(std::ranges::all_of(PrivateSymbols::report(), &PrivateSymbols::Entry::resolved));
    desktop->removeSlot("_AXUIElementGetWindow");
    desktop->removeSlot("CGSManagedDisplayGetCurrentSpace");
    desktop->removeSlot("SLSSpaceSetFrontPSN");
    std::vector<std::string> unresolved;
    for (const auto& entry : PrivateSymbols::report())
        if (!entry.resolved)
            unresolved.push_back(entry.name);
    EXPECT_EQ(unresolved, (std::vector<std::string>{"_AXUIElementGetWindow", "CGSManagedDisplayGetCurrentSpace",
                                                    "SLSSpaceSetFrontPSN"}));
    desktop->restoreSlot("SLSSpaceSetFrontPSN");
    EXPECT_TRUE(PrivateSymbols::isResolvable("SLSSpaceSetFrontPSN"));
    EXPECT_FALSE(PrivateSymbols::isResolvable("NoSuchSymbol"));
}

TEST(PrivateSymbolsWithoutBackends, NothingResolvesAndEverythingIsUnavailable)
{
    SystemBridge::reset();
    EXPECT_TRUE(std::ranges::none_of(PrivateSymbols::report(), &PrivateSymbols::Entry::resolved));
    EXPECT_EQ(SkyLight::connectionID(), std::nullopt);
    EXPECT_TRUE(Spaces::displays().empty());
    EXPECT_FALSE(Session::isScreenLocked());
    EXPECT_FALSE(SymbolicHotKeys::setEnabled(false, SymbolicHotKey::commandTab));
    EXPECT_FALSE(AXBridge::isTrusted());
    EXPECT_FALSE(AXBridge::window(1, 2));
    EXPECT_EQ(WindowFocus::focus(1, 2).summary(), "psn=false");
}

TEST_F(SimBridgeTest, SlotsResolveOnceAndStayAbsentAndTheConnectionIdIsAskedForOnce)
{
    ASSERT_TRUE(SkyLight::connectionID());
    SkyLight::connectionID();
    Spaces::displays();
    EXPECT_EQ(std::ranges::count(desktop->calls(), "CGSMainConnectionID"), 1);

    desktop->removeSlot("CGSGetActiveSpace");
    EXPECT_FALSE(SkyLight::getActiveSpace());
    desktop->restoreSlot("CGSGetActiveSpace");
    EXPECT_FALSE(SkyLight::getActiveSpace()) << "a slot that resolved to nothing is never looked up again";
    // A slot not used yet still sees the backend as it is now.
    desktop->removeSlot("CGSCopySpacesForWindows");
    EXPECT_FALSE(SkyLight::copySpacesForWindows());
    // Installing backends again resolves afresh.
    reinstall();
    EXPECT_TRUE(SkyLight::getActiveSpace());
}

// The newer name first: FocusTest.AFailedRepairDoesNotFailTheFocus.
TEST_F(SimBridgeTest, SpaceFrontProcessFallsBackToTheOlderName)
{
    desktop->launch({.pid = 7, .name = "App"});
    desktop->addDisplay({"A", {}, {}, {{1, 0, "", 0}}, 1});
    desktop->removeSlot("SLSSpaceSetFrontPSN");
    EXPECT_TRUE(Spaces::canSetFrontProcess());
    EXPECT_TRUE(Spaces::setFrontProcess(1, 7));
    EXPECT_TRUE(desktop->called("CGSSpaceSetFrontPSN space=1 pid=7"));

    desktop->removeSlot("CGSSpaceSetFrontPSN");
    reinstall();
    EXPECT_FALSE(Spaces::canSetFrontProcess());
    EXPECT_FALSE(Spaces::setFrontProcess(1, 7));
}

// Read afresh on every call: each row changes the dictionary.
TEST_F(SimBridgeTest, ScreenLockReadsTheSessionDictionary)
{
    using json = nlohmann::json;
    const std::vector<std::pair<std::optional<json>, bool>> cases = {
        {std::nullopt, false},
        {json::array({1}), false},
        {json{{"kCGSSessionOnConsoleKey", true}}, false},
        {json{{"CGSSessionScreenIsLocked", "yes"}}, false},
        {json{{"CGSSessionScreenIsLocked", 1}}, true},
        {json{{"CGSSessionScreenIsLocked", 0}}, false},
        {json{{"CGSSessionScreenIsLocked", true}}, true},
    };
    for (const auto& [dictionary, locked] : cases) {
        desktop->overrideSessionDictionary(dictionary);
        EXPECT_EQ(Session::isScreenLocked(), locked) << (dictionary ? dictionary->dump() : "null");
    }
    desktop->removeSlot("CGSessionCopyCurrentDictionary");
    desktop->overrideSessionDictionary(std::nullopt);
    EXPECT_FALSE(Session::isScreenLocked());
}

} // namespace
} // namespace vantrel
