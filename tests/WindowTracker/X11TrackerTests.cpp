// The tracker and the window store on a real X server (Xvfb + openbox): changes made by X clients reach the store quickly.
#include "Platform/X11/X11Backend.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/X11Session.h"
#include "SystemBridge/Backends.h"
#include "VantrelCore/WindowStore.h"
#include "WindowTracker/AXWindowTracker.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/// How long a change may take to reach the store's snapshots.
constexpr auto changeBudget = 200ms;

class X11TrackerTest : public ::testing::Test {
protected:
    /// Starts the store over the X11 backends of the test's display; false
    /// (with a failure recorded) when the backends cannot be made.
    bool startStore(const std::string& display)
    {
        auto made = makeX11Backends(loop, display);
        if (auto* error = std::get_if<std::string>(&made)) {
            ADD_FAILURE() << *error;
            return false;
        }
        SystemBridge::install(std::get<Backends>(made));
        store = std::make_unique<WindowStore>(std::make_unique<AXWindowTracker>(loop));
        store->start();
        loop.runPending();
        return true;
    }

    void TearDown() override
    {
        if (store)
            store->stop();
        store.reset();
        SystemBridge::reset();
    }

    /// Pumps the main loop until `holds` is true of the store; the time it
    /// took, or absent after 5 s.
    std::optional<std::chrono::milliseconds> timeUntil(const std::function<bool(const WindowStore&)>& holds)
    {
        auto start = Clock::now();
        if (!test::pumpUntil(loop, [&] { return holds(*store); }))
            return std::nullopt;
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    std::optional<WindowInfo> window(WindowID id) const { return store->window(id); }

    /// Runs xdotool on the display; a failure when it does not succeed.
    static void xdotool(const std::string& display, std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "xdotool");
        EXPECT_TRUE(test::runOn(display, arguments)) << ::testing::PrintToString(arguments);
    }

    ManualRunLoop loop;
    std::unique_ptr<WindowStore> store;
};

#define EXPECT_WITHIN_BUDGET(what, condition)                                                   \
    do {                                                                                        \
        auto took = timeUntil(condition);                                                       \
        ASSERT_TRUE(took.has_value()) << what << ": never reached the store";                 \
        EXPECT_LE(*took, changeBudget) << what << " took " << took->count() << " ms";          \
    } while (false)

TEST_F(X11TrackerTest, WindowAndDesktopChangesReachTheStoreWithin200Milliseconds)
{
    VANTREL_REQUIRE_X11_SESSION(x11);
    auto client = test::TestClient::start(x11->display());
    ASSERT_NE(client, nullptr);
    auto first = client->open("first", "class=first,Tracked title=First window");
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(startStore(x11->display()));
    ASSERT_TRUE(test::pumpUntil(loop, [&] { return window(*first).has_value(); }));
    EXPECT_EQ(window(*first)->title, "First window");
    EXPECT_EQ(window(*first)->appName, "Tracked");
    EXPECT_EQ(window(*first)->pid, client->pid());

    auto second = client->open("second", "class=first,Tracked desktop=0 title=Second window");
    ASSERT_TRUE(second.has_value());
    EXPECT_WITHIN_BUDGET("opening", [&](const WindowStore&) { return window(*second).has_value(); });

    ASSERT_TRUE(client->command("title second Renamed"));
    EXPECT_WITHIN_BUDGET("retitling", [&](const WindowStore&) { return window(*second)->title == "Renamed"; });

    ASSERT_TRUE(client->command("minimize second"));
    EXPECT_WITHIN_BUDGET("minimizing", [&](const WindowStore&) { return window(*second)->isMinimized; });

    // The move alone, with nothing else changing, must be seen.
    auto spacesBefore = window(*first)->spaceIDs;
    ASSERT_EQ(spacesBefore.size(), 1u);
    ASSERT_TRUE(client->command("desktop first 1"));
    EXPECT_WITHIN_BUDGET("moving to another desktop", [&](const WindowStore&) {
        auto moved = window(*first);
        return !moved->spaceIDs.empty() && moved->spaceIDs != spacesBefore;
    });

    ASSERT_TRUE(client->command("destroy second"));
    EXPECT_WITHIN_BUDGET("closing", [&](const WindowStore&) { return !window(*second).has_value(); });
    EXPECT_TRUE(window(*first).has_value());

    // Desktop switches and desktop counts, with the display left as the other
    // tests expect it, also after a failure.
    ASSERT_TRUE(test::pumpUntil(loop, [&] { return store->spaceNumbers().size() == 4; }));
    const auto firstVisible = store->visibleSpaceIDs();
    ASSERT_EQ(firstVisible.size(), 1u);
    std::shared_ptr<void> restore(nullptr, [&](void*) {
        xdotool(x11->display(), {"set_num_desktops", "4"});
        xdotool(x11->display(), {"set_desktop", "0"});
    });
    xdotool(x11->display(), {"set_desktop", "2"});
    EXPECT_WITHIN_BUDGET("switching the desktop", [&](const WindowStore& s) {
        return !s.visibleSpaceIDs().empty() && s.visibleSpaceIDs() != firstVisible;
    });
    const auto thirdVisible = store->visibleSpaceIDs();
    xdotool(x11->display(), {"set_desktop", "0"});
    EXPECT_WITHIN_BUDGET("switching back", [&](const WindowStore& s) { return s.visibleSpaceIDs() == firstVisible; });
    EXPECT_NE(thirdVisible, firstVisible);

    xdotool(x11->display(), {"set_num_desktops", "5"});
    EXPECT_WITHIN_BUDGET("adding a desktop", [&](const WindowStore& s) { return s.spaceNumbers().size() == 5; });
}

TEST_F(X11TrackerTest, FocusChangesMoveTheWindowToTheFrontOfTheOrder)
{
    VANTREL_REQUIRE_X11_SESSION(x11);
    auto editor = test::TestClient::start(x11->display());
    auto mail = test::TestClient::start(x11->display());
    ASSERT_TRUE(editor && mail);
    auto notes = editor->open("notes", "class=editor,Editor title=notes");
    auto inbox = mail->open("inbox", "class=mail,Mail title=inbox");
    ASSERT_TRUE(notes && inbox);
    ASSERT_TRUE(startStore(x11->display()));
    ASSERT_TRUE(test::pumpUntil(loop, [&] { return store->ordered().size() >= 2; }));

    for (auto id : {*notes, *inbox, *notes}) {
        xdotool(x11->display(), {"windowactivate", "--sync", std::to_string(id)});
        EXPECT_WITHIN_BUDGET("focusing " << id,
                             [&](const WindowStore& s) { return !s.ordered().empty() && s.ordered().front().id == id; });
    }
    ASSERT_GE(store->ordered().size(), 2u);
    EXPECT_EQ(store->ordered()[1].id, *inbox);
}

} // namespace
} // namespace vantrel
