// The panels on a private Xvfb + openbox with two RandR monitors: override-redirect, on top, on the active
// window's monitor, never the active window, following the monitors and the compositor.
#include "PanelUI/SwitcherPanel.h"
#include "Platform/X11/X11PanelSupport.h"
#include "Platform/X11/X11Properties.h"
#include "Support/QtTestApplication.h"
#include "X11/X11TestSupport.h"

#include <QScreen>
#include <QWindow>
#include <QWidget>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

class X11PanelTest : public test::X11KeyboardTest {
protected:
    // One application per process, on the shared session, made after the
    // session's output "screen" moved to the monitor "left" (which ends its
    // automatic monitor) and "right" was added beside it.
    void prepare() override
    {
        X11KeyboardTest::prepare();
        if (HasFatalFailure())
            return;
        const std::string& display = session->display();
        static const bool monitors =
            test::runOn(display, {"xrandr", "--setmonitor", "left", "640/169x1024/271+0+0", "screen"})
            && test::runOn(display, {"xrandr", "--setmonitor", "right", "640/169x1024/271+640+0", "none"});
        ASSERT_TRUE(monitors) << "two monitors on the test display";
        qputenv("DISPLAY", QByteArray::fromStdString(display));
        test::ensureQtApplication("xcb");
    }

    /// Runs Qt's events and the backend's jobs until `done` holds.
    bool pump(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s)
    {
        return test::pumpUntil(loop, [&] {
            QCoreApplication::processEvents();
            return done();
        }, timeout);
    }
    std::optional<std::uint32_t> activeWindow() { return X11PanelSupport::activeWindow(connection->raw()); }
    /// A focused window reporting the keys it gets, moved to (x, y), once some window is active.
    std::unique_ptr<test::ChildProcess> focusedWindowAt(int x, int y)
    {
        auto client = startKeyClient();
        if (!client || !type({"getwindowfocus", "windowmove", "--sync", std::to_string(x), std::to_string(y)}) ||
            !pump([&] { return activeWindow().value_or(0) != 0; }))
            return nullptr;
        return client;
    }
};

TEST_F(X11PanelTest, AShownPanelFloatsOnTheActiveWindowsMonitorWithoutBecomingActive)
{
    auto client = focusedWindowAt(700, 100);
    ASSERT_TRUE(client);
    const auto active = activeWindow();

    SwitcherPanel panel;
    panel.show(std::vector<WindowInfo>(3), 1, std::nullopt, true);
    ASSERT_TRUE(pump([&] { return panel.window().windowHandle() && panel.window().windowHandle()->isExposed(); }));
    EXPECT_EQ(panel.screen(), "right");

    const auto id = static_cast<xcb_window_t>(panel.window().winId());
    XcbPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection->raw(), xcb_get_window_attributes(connection->raw(), id), nullptr));
    EXPECT_TRUE(attributes && attributes->override_redirect);
    XcbPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection->raw(), xcb_get_geometry(connection->raw(), id), nullptr));
    ASSERT_TRUE(geometry);
    EXPECT_GE(geometry->x, 640) << "on the right monitor";
    EXPECT_LE(geometry->x + geometry->width, 1280);
    XcbPtr<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection->raw(), xcb_query_tree(connection->raw(), connection->root()), nullptr));
    ASSERT_TRUE(tree);
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    EXPECT_EQ(children[xcb_query_tree_children_length(tree.get()) - 1], id) << "above every other window";

    auto windowType = takeProperty(connection->raw(), requestProperty(connection->raw(), id, connection->atom("_NET_WM_WINDOW_TYPE"), 64));
    EXPECT_EQ(firstCardinal(windowType.get(), {XCB_ATOM_ATOM}), connection->atom("_NET_WM_WINDOW_TYPE_POPUP_MENU"))
        << "transient: typed as a pop-up";

    panel.hide();
    pump([] { return false; }, 100ms);
    EXPECT_EQ(activeWindow(), active) << "showing and hiding never change the active window";
}

TEST_F(X11PanelTest, APanelOnAnUnpluggedMonitorMovesToTheOtherOne)
{
    auto client = focusedWindowAt(700, 100);
    ASSERT_TRUE(client);
    SwitcherPanel panel;
    panel.show(std::vector<WindowInfo>(2), 0, std::nullopt, false);
    ASSERT_TRUE(pump([&] { return panel.screen() == "right"; }));

    ASSERT_TRUE(type({"getwindowfocus", "windowmove", "--sync", "100", "100"}));
    ASSERT_TRUE(test::runOn(session->display(), {"xrandr", "--delmonitor", "right"}));
    EXPECT_TRUE(pump([&] { return QGuiApplication::screens().size() == 1; }));
    EXPECT_EQ(panel.screen(), "left");
    EXPECT_LE(panel.window().geometry().right(), 639) << "inside the remaining monitor";
    EXPECT_TRUE(panel.isVisible());

    panel.hide();
    ASSERT_TRUE(test::runOn(session->display(), {"xrandr", "--setmonitor", "right", "640/169x1024/271+640+0", "none"}));
    EXPECT_TRUE(pump([&] { return QGuiApplication::screens().size() == 2; }));
}

TEST_F(X11PanelTest, AnotherWindowBecomingActiveDismissesTheKeySwitcher)
{
    auto first = focusedWindowAt(100, 100);
    ASSERT_TRUE(first);
    const auto firstId = activeWindow();
    auto second = focusedWindowAt(300, 300);
    ASSERT_TRUE(second);

    SwitcherPanel panel;
    int cancels = 0;
    panel.onCancel = [&] { ++cancels; };
    panel.show(std::vector<WindowInfo>(2), 0, std::nullopt, true);
    pump([] { return false; }, 200ms);
    EXPECT_EQ(cancels, 0) << "showing and grabbing is no loss of key status";

    ASSERT_TRUE(type({"windowactivate", "--sync", std::to_string(*firstId)}));
    EXPECT_TRUE(pump([&] { return cancels == 1; }));
}

TEST_F(X11PanelTest, TheCardIsTranslucentUnderACompositorAndShapedWithoutOne)
{
    SwitcherPanel panel;
    panel.show(std::vector<WindowInfo>(2), 0, std::nullopt, false);
    EXPECT_FALSE(panel.isTranslucent());
    EXPECT_FALSE(panel.window().mask().isEmpty()) << "no compositor: corners cut by a shape mask";
    panel.hide();

    auto compositor = test::startOn(session->display(), {"picom", "--backend", "xrender", "--config", "/dev/null"}, test::Reading::nothing);
    if (!compositor)
        GTEST_SKIP() << "picom is not installed";
    auto owned = [&] { return X11PanelSupport::compositorActive(connection->raw(), 0); };
    ASSERT_TRUE(test::eventually(owned, 10s)) << "picom took no compositing selection";
    panel.show(std::vector<WindowInfo>(2), 0, std::nullopt, false);
    EXPECT_TRUE(panel.isTranslucent());
    EXPECT_TRUE(panel.window().mask().isEmpty());
    EXPECT_EQ(panel.window().windowHandle()->format().alphaBufferSize(), 8) << "an ARGB visual";
    panel.hide();
}

} // namespace
} // namespace vantrel
