// Spaces: parsing the managed-display dictionaries, numbering, switching.
#include "Support/SimBridge.h"
#include "SystemBridge/Spaces.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using json = nlohmann::json;

json space(SpaceID id, std::int64_t type = 0)
{
    return {{"id64", id}, {"ManagedSpaceID", id + 100}, {"uuid", "uuid-" + std::to_string(id)}, {"type", type}};
}

TEST(SpaceParsing, ReadsEveryFieldDefaultsTheOptionalOnesAndNeedsANumericId64)
{
    EXPECT_EQ(Spaces::parseSpace(space(5, 4)), (SpaceInfo{5, 105, "uuid-5", 4}));
    EXPECT_EQ(Spaces::parseSpace(json{{"id64", 18446744073709551615ull}}), (SpaceInfo{18446744073709551615ull, 0, "", 0}));
    // Present but of the wrong type counts as absent.
    EXPECT_EQ(Spaces::parseSpace(json{{"id64", 9}, {"ManagedSpaceID", "x"}, {"uuid", 3}, {"type", "4"}}),
              (SpaceInfo{9, 0, "", 0}));
    for (const json& bad : {json::object(), json{{"uuid", "u"}, {"type", 0}}, json{{"id64", "12"}}, json{{"id64", true}},
                            json::array({1})})
        EXPECT_FALSE(Spaces::parseSpace(bad)) << bad.dump();
    for (std::int64_t type : {0, 1, 3, 5, -4, 1000})
        EXPECT_FALSE((SpaceInfo{1, 0, "", type}.isFullscreen())) << type;
}

TEST(DisplayParsing, MalformedInputGivesNothingAndMalformedPartsAreSkipped)
{
    auto good = json{{"Display Identifier", "D"}, {"Spaces", json::array({space(1)})}};
    for (const std::optional<json>& bad : {std::optional<json>(), std::optional(json::object()),
                                           std::optional(json("displays")), std::optional(json::array({good, 3}))})
        EXPECT_TRUE(Spaces::parseDisplays(bad).empty()) << (bad ? bad->dump() : "null");

    // Displays without a string identifier are skipped.
    auto displays = Spaces::parseDisplays(json::array({
        json::object(),
        json{{"Spaces", json::array({space(1)})}, {"Current Space", space(1)}},
        json{{"Display Identifier", 42}, {"Spaces", json::array({space(2)})}},
        json{{"Display Identifier", "B"}, {"Spaces", json::array({space(3)})}, {"Current Space", space(3)}},
    }));
    EXPECT_EQ(displays, (std::vector<DisplaySpaces>{{"B", 3, {SpaceInfo{3, 103, "uuid-3", 0}}}}));

    // Spaces that are not an array of dictionaries give no spaces.
    for (const json& spaces : {json("x"), json::object(), json::array({space(1), "two"})})
        EXPECT_EQ(Spaces::parseDisplays(json::array({json{{"Display Identifier", "A"}, {"Spaces", spaces}}})),
            (std::vector<DisplaySpaces>{{"A", 0, {}}})) << spaces.dump();
}

TEST(DisplayParsing, UnparsableSpacesAreDroppedKeepingOrderAndABadCurrentSpaceIsZero)
{
    const DisplaySpaces expected{"A", 0, {*Spaces::parseSpace(space(9)), *Spaces::parseSpace(space(2, 4)), *Spaces::parseSpace(space(5))}};
    for (const json& current : {json(), json(7), json::object(), json{{"uuid", "u"}}}) {
        json display = {{"Display Identifier", "A"},
                        {"Spaces", json::array({space(9), json{{"uuid", "no-id"}}, json::object(), space(2, 4), space(5)})}};
        if (!current.is_null())
            display["Current Space"] = current;
        EXPECT_EQ(Spaces::parseDisplays(json::array({display})), std::vector{expected}) << current.dump();
    }
}

TEST(SpaceTables, NumbersSpacesAcrossDisplaysInOrderAndARepeatedIdKeepsTheLaterNumber)
{
    std::vector<DisplaySpaces> displays = {
        {"A", 20, {{20, 0, "", 0}, {10, 0, "", 4}}},
        {"B", 40, {{40, 0, "", 0}, {30, 0, "", 0}}},
    };
    std::map<SpaceID, std::vector<WindowID>> onSpace = {{20, {1, 2}}, {10, {2}}, {30, {3}}};
    auto tables = Spaces::tables(displays, [&](SpaceID id) { return onSpace[id]; });
    EXPECT_EQ(tables.spaceNumbers, (std::map<SpaceID, int>{{20, 1}, {10, 2}, {40, 3}, {30, 4}}));
    EXPECT_EQ(tables.visibleSpaceIDs, (std::set<SpaceID>{20, 40}));
    EXPECT_EQ(tables.fullscreenSpaceIDs, (std::set<SpaceID>{10}));
    EXPECT_EQ(tables.windowSpaces[2], (std::vector<SpaceID>{20, 10}));
    EXPECT_EQ(tables.windowSpaces[3], (std::vector<SpaceID>{30}));

    displays = {{"A", 1, {{1, 0, "", 0}, {2, 0, "", 0}}}, {"B", 0, {{1, 0, "", 0}}}};
    tables = Spaces::tables(displays, nullptr);
    EXPECT_EQ(tables.spaceNumbers, (std::map<SpaceID, int>{{1, 3}, {2, 2}}));
    EXPECT_EQ(tables.visibleSpaceIDs, (std::set<SpaceID>{0, 1}));
}

class SpacesOnSim : public test::SimBridgeTest {
protected:
    void SetUp() override
    {
        desktop->addDisplay({"A", {}, {}, {{1, 1, "u1", 0}, {2, 2, "u2", 0}}, 1});
        desktop->addDisplay({"B", {}, {}, {{3, 3, "u3", 0}, {4, 4, "u4", 4}}, 3});
        desktop->launch({.pid = 50, .name = "App", .bundleID = "org.example.App"});
        desktop->openWindow({.id = 500, .pid = 50, .title = "one", .spaces = {2}});
        desktop->openWindow({.id = 501, .pid = 50, .title = "two", .spaces = {1, 4}});
    }
};

// One display's desktops: BridgeContract (tests/X11); here two displays.
TEST_F(SpacesOnSim, ReadsEveryDisplaysSpacesAndTheSpacesOfEachWindow)
{
    EXPECT_EQ(Spaces::displays(), (std::vector<DisplaySpaces>{{"A", 1, {{1, 1, "u1", 0}, {2, 2, "u2", 0}}},
                                                             {"B", 3, {{3, 3, "u3", 0}, {4, 4, "u4", 4}}}}));
    EXPECT_EQ(Spaces::spaceIDs(501), (std::vector<SpaceID>{1, 4}));
    desktop->setCurrentSpace("A", 0);
    EXPECT_EQ(Spaces::activeSpaceID(), std::nullopt) << "space 0 is no space";
}

TEST_F(SpacesOnSim, MakeCurrentSwitchesOnlyTheDisplayThatIsNotShowingTheSpace)
{
    EXPECT_FALSE(Spaces::makeCurrent(9));
    EXPECT_TRUE(Spaces::makeCurrent(3));
    EXPECT_FALSE(desktop->called("CGSManagedDisplaySetCurrentSpace"));
    EXPECT_TRUE(Spaces::makeCurrent(4));
    EXPECT_EQ(Spaces::visibleSpaceIDs(), (std::set<SpaceID>{1, 4}));
}

TEST_F(SpacesOnSim, SetFrontProcessStopsAtAnUnknownPid)
{
    EXPECT_FALSE(Spaces::setFrontProcess(2, 4242));
    EXPECT_FALSE(desktop->called("SLSSpaceSetFrontPSN"));
}

TEST_F(SpacesOnSim, EachMissingSlotGivesItsUnavailableValueWithoutCalls)
{
    desktop->removeSlot("CGSMainConnectionID");
    EXPECT_FALSE(Spaces::isAvailable());
    EXPECT_EQ(Spaces::activeSpaceID(), std::nullopt);
    EXPECT_TRUE(Spaces::displays().empty());
    EXPECT_TRUE(Spaces::visibleSpaceIDs().empty());
    EXPECT_TRUE(Spaces::spaceIDs(500).empty());
    EXPECT_TRUE(Spaces::windowIDs(1, 2).empty());
    EXPECT_FALSE(Spaces::makeCurrent(2));
    EXPECT_FALSE(Spaces::setFrontProcess(2, 50));
    EXPECT_TRUE(desktop->calls().empty());

    desktop->restoreSlot("CGSMainConnectionID");
    desktop->removeSlot("CGSManagedDisplaySetCurrentSpace");
    desktop->removeSlot("CGSGetActiveSpace");
    reinstall();
    EXPECT_TRUE(Spaces::isAvailable());
    EXPECT_FALSE(Spaces::makeCurrent(2));
    EXPECT_EQ(Spaces::activeSpaceID(), std::nullopt);
    EXPECT_FALSE(desktop->called("CGSCopyManagedDisplaySpaces"));
}

} // namespace
} // namespace vantrel
