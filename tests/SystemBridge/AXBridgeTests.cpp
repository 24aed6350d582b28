// The accessibility bridge against the simulated desktop.
#include "Support/SimBridge.h"
#include "SystemBridge/AXBridge.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

class AXBridgeTest : public test::SimBridgeTest {
protected:
    void SetUp() override
    {
        desktop->launch({.pid = 30, .name = "Viewer"});
        desktop->openWindow({.id = 300, .pid = 30, .title = "picture"});
        desktop->openWindow({.id = 301, .pid = 30, .title = "panel", .subrole = "AXFloatingWindow", .minimized = true, .hasCloseButton = false});
        desktop->openWindow({.id = 302, .pid = 30, .title = "", .subrole = ""});
    }
};

// Titles, subroles, minimized states and the windows' order: the tracker's
// tests and BridgeContract (tests/X11).
TEST_F(AXBridgeTest, AnAttributeOfAnotherTypeOrNoneReadsAsAbsent)
{
    auto panel = AXBridge::window(301, 30), blank = AXBridge::window(302, 30);
    ASSERT_TRUE(panel && blank);
    EXPECT_EQ(AXBridge::attribute<std::string>(*panel, "AXMinimized"), std::nullopt) << "a boolean";
    EXPECT_EQ(AXBridge::subrole(*blank), std::nullopt) << "an empty subrole";
    EXPECT_EQ(AXBridge::attributeResult(*panel, "AXNoSuchThing").error(), AXErrorCode{AXErrors::attributeUnsupported});
}

// Found ones: BridgeContract (tests/X11).
TEST_F(AXBridgeTest, AWindowNotFoundByWindowServerIdReadsAsAbsent)
{
    EXPECT_FALSE(AXBridge::window(999, 30));
    EXPECT_FALSE(AXBridge::window(301, 31));
    desktop->openWindow({.id = 0, .pid = 30, .title = "zero"});
    auto list = AXBridge::windows(AXBridge::application(30));
    ASSERT_TRUE(list.ok());
    EXPECT_EQ(AXBridge::windowID(list.get().front()), std::nullopt);

    desktop->clearCalls();
    desktop->removeSlot("_AXUIElementGetWindow");
    reinstall();
    EXPECT_FALSE(AXBridge::isWindowIDBridgeAvailable());
    EXPECT_FALSE(AXBridge::window(300, 30));
    EXPECT_FALSE(desktop->called("_AXUIElementGetWindow"));
}

// Injected errors, hung applications and the focused window: the tracker's tests.
TEST_F(AXBridgeTest, WithoutPermissionWindowListsFail)
{
    desktop->setTrusted(false);
    EXPECT_FALSE(AXBridge::isTrusted());
    auto list = AXBridge::windows(AXBridge::application(30));
    ASSERT_FALSE(list.ok());
    EXPECT_EQ(list.error().code, AXErrors::apiDisabled);
    EXPECT_FALSE(AXBridge::window(300, 30));
    EXPECT_FALSE(AXBridge::requestTrust(true));
    EXPECT_TRUE(desktop->called("AXIsProcessTrustedWithOptions prompt=true"));
}

// Closing, minimizing and observers: BridgeContract (tests/X11).
TEST_F(AXBridgeTest, CloseNeedsACloseButton)
{
    auto panel = AXBridge::window(301, 30);
    ASSERT_TRUE(panel);
    EXPECT_EQ(AXBridge::close(*panel), AXErrors::attributeUnsupported);
    EXPECT_FALSE(desktop->called("AXUIElementPerformAction"));
    EXPECT_TRUE(desktop->window(301));
}

} // namespace
} // namespace vantrel
