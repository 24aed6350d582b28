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

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/// How long a change may take to reach the store's snapshots.
constexpr auto changeBudget = 200ms;

/// The store over the X11 backends, installed in the bridge on the fixture's
/// connection; started by each test once its clients' windows are open.
class X11TrackerTest : public X11ConnectionTest {
protected:
    void startStore()
    {
        bridge.emplace(makeX11Backends(connection, loop));
        store = std::make_unique<WindowStore>(std::make_unique<AXWindowTracker>(loop));
        store->start();
        loop.runPending();
    }

    void TearDown() override
    {
        if (store)
            store->stop();
    }

    /// Pumps the main loop until `holds` is true of the store; the time it
    /// took, or absent after 5 s.
    std::optional<std::chrono::milliseconds> timeUntil(const std::function<bool(const WindowStore&)>& holds)
    {
        auto start = Clock::now();
        if (!pumpUntil(loop, [&] { return holds(*store); }))
            return std::nullopt;
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    std::optional<WindowInfo> window(WindowID id) const { return store->window(id); }

    std::unique_ptr<WindowStore> store;
    std::optional<InstalledBridge> bridge;
};

#define EXPECT_WITHIN_BUDGET(what, condition)                                                   \
    do {                                                                                        \
        auto took = timeUntil(condition);                                                       \
        ASSERT_TRUE(took.has_value()) << what << ": never reached the store";                 \
        EXPECT_LE(*took, changeBudget) << what << " took " << took->count() << " ms";          \
    } while (false)

TEST_F(X11TrackerTest, WindowAndDesktopChangesReachTheStoreWithin200Milliseconds)
{
    auto client = TestClient::start(session->display());
    ASSERT_NE(client, nullptr);
    auto first = client->open("first", "class=first,Tracked title=First window");
    ASSERT_TRUE(first.has_value());
    startStore();
    ASSERT_TRUE(pumpUntil(loop, [&] { return window(*first).has_value(); }));
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
    ASSERT_TRUE(pumpUntil(loop, [&] { return store->spaceNumbers().size() == 4; }));
    const auto firstVisible = store->visibleSpaceIDs();
    ASSERT_EQ(firstVisible.size(), 1u);
    std::shared_ptr<void> restore(nullptr, [&](void*) {
        type({"set_num_desktops", "4"});
        type({"set_desktop", "0"});
    });
    ASSERT_TRUE(type({"set_desktop", "2"}));
    EXPECT_WITHIN_BUDGET("switching the desktop", [&](const WindowStore& s) {
        return !s.visibleSpaceIDs().empty() && s.visibleSpaceIDs() != firstVisible;
    });
    const auto thirdVisible = store->visibleSpaceIDs();
    ASSERT_TRUE(type({"set_desktop", "0"}));
    EXPECT_WITHIN_BUDGET("switching back", [&](const WindowStore& s) { return s.visibleSpaceIDs() == firstVisible; });
    EXPECT_NE(thirdVisible, firstVisible);

    ASSERT_TRUE(type({"set_num_desktops", "5"}));
    EXPECT_WITHIN_BUDGET("adding a desktop", [&](const WindowStore& s) { return s.spaceNumbers().size() == 5; });
}

} // namespace
} // namespace vantrel::test
