// Window records, the MRU list and the window store.
#include "Support/FakeWindowTracking.h"
#include "VantrelCore/MRUList.h"
#include "VantrelCore/WindowStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_set>

namespace vantrel {
namespace {

WindowInfo makeWindow(WindowID id, std::string title = {}, std::string app = "App")
{
    return {.id = id, .pid = static_cast<ProcessID>(100 + id), .bundleID = {}, .appName = std::move(app),
            .title = std::move(title), .spaceIDs = {}};
}

std::vector<WindowInfo> makeWindows(std::initializer_list<WindowID> ids)
{
    std::vector<WindowInfo> windows;
    for (WindowID id : ids)
        windows.push_back(makeWindow(id));
    return windows;
}

using Ids = std::vector<WindowID>;

Ids idsOf(const std::vector<WindowInfo>& windows)
{
    Ids ids;
    std::ranges::transform(windows, std::back_inserter(ids), &WindowInfo::id);
    return ids;
}

TEST(WindowInfo, SearchTextJoinsAppAndTitleWithoutTrailingBlank)
{
    EXPECT_EQ(makeWindow(1, "notes.txt", "Editor").searchText(), "Editor notes.txt");
    EXPECT_EQ(makeWindow(1, "", "Editor").searchText(), "Editor");
    EXPECT_EQ(makeWindow(1, " ", "Editor").searchText(), "Editor  ");
}

TEST(WindowInfo, HashFollowsEquality)
{
    WindowInfo oneSpace = makeWindow(1);
    oneSpace.spaceIDs = {0};
    // The same letters split another way between the texts, one space against none.
    const std::vector<WindowInfo> distinct {makeWindow(1, "bc", "a"), makeWindow(1, "c", "ab"), oneSpace, makeWindow(1)};
    std::unordered_set<std::size_t> hashes;
    for (const auto& window : distinct)
        hashes.insert(std::hash<WindowInfo> {}(window));
    EXPECT_EQ(hashes.size(), distinct.size());
    EXPECT_EQ(std::hash<WindowInfo> {}(oneSpace), std::hash<WindowInfo> {}(WindowInfo(oneSpace)));
}

TEST(MRUList, TouchMovesToTheFrontKeepingOthersInOrder)
{
    MRUList list;
    list.touch(4);
    list.touch(4);
    EXPECT_EQ(list.ids, Ids({4}));
    list.ids = {5, 3, 9};
    list.touch(9);
    list.touch(1);
    EXPECT_EQ(list.ids, Ids({1, 9, 5, 3}));
    list.ids = {2, 7, 2, 8};
    list.touch(2);
    EXPECT_EQ(list.ids, Ids({2, 7, 8}));
}

TEST(MRUList, ReconcileDropsClosedWindowsAndAppendsUnknownOnes)
{
    MRUList list{{5, 3, 9}};
    list.reconcile(makeWindows({9, 7, 3, 8}));
    EXPECT_EQ(list.ids, Ids({3, 9, 7, 8}));
    list.reconcile({});
    EXPECT_TRUE(list.ids.empty());

    list.touch(3);
    list.reconcile(makeWindows({4, 3, 4, 3}));
    EXPECT_EQ(list.ids, Ids({3, 4, 4}));
    list.reconcile(makeWindows({4, 3, 4, 3})); // adds nothing: both are known now
    EXPECT_EQ(list.ids, Ids({3, 4, 4}));
}

TEST(MRUList, OrderPutsKnownFirstByRecencyThenUnknownInInputOrder)
{
    MRUList list{{3, 9}};
    auto input = makeWindows({8, 9, 7, 3});
    EXPECT_EQ(idsOf(list.order(input)), Ids({3, 9, 8, 7}));

    EXPECT_EQ(idsOf(MRUList{}.order(input)), Ids({8, 9, 7, 3}));
    // Ids the list knows but the windows lack change nothing.
    EXPECT_EQ(idsOf(MRUList{{42, 7, 43}}.order(input)), Ids({7, 8, 9, 3}));
    // A repeated id counts at its later position.
    EXPECT_EQ(idsOf(MRUList{{1, 2, 1}}.order(makeWindows({1, 2}))), Ids({2, 1}));

    // The same window twice in the input stays twice, in input order.
    std::vector<WindowInfo> twice{makeWindow(5, "first"), makeWindow(6), makeWindow(5, "second")};
    EXPECT_EQ(MRUList{{5}}.order(twice), (std::vector<WindowInfo>{twice[0], twice[2], twice[1]}));
}

TEST(MRUList, ManyWindowsKeepTheirOwnPlaces)
{
    // Enough windows that their numbers share slots of the lookup tables.
    std::vector<WindowInfo> windows;
    for (WindowID id = 1; id <= 40; ++id)
        windows.push_back(makeWindow(id * id * 977 % 65521));
    MRUList list;
    list.reconcile(windows);
    EXPECT_EQ(list.ids, idsOf(windows));
    std::ranges::reverse(windows);
    EXPECT_EQ(idsOf(list.order(windows)), list.ids);
    windows.resize(20);
    list.reconcile(windows);
    EXPECT_EQ(idsOf(list.order(windows)), list.ids);
}

struct StoreFixture : ::testing::Test {
    std::shared_ptr<test::FakeTrackingLog> log = std::make_shared<test::FakeTrackingLog>();
    std::unique_ptr<WindowStore> store = std::make_unique<WindowStore>(std::make_unique<test::FakeWindowTracking>(log));
    int changes = 0;

    void SetUp() override { store->onChange = [this] { ++changes; }; }

    static TrackingSnapshot snapshotOf(std::initializer_list<WindowID> ids) { return {makeWindows(ids), {}, {}, {}}; }
};

TEST_F(StoreFixture, TrackerReportsReachTheStoreOnlyOnceStarted)
{
    log->publish(snapshotOf({1})); // not started: the tracker has no callbacks
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(store->window(1));
    store->start();
    EXPECT_EQ(log->startCount, 1);

    TrackingSnapshot snapshot{makeWindows({8, 9, 7, 3}), {1}, {5}, {{1, 1}, {5, 2}}};
    log->publish(snapshot);
    EXPECT_EQ((TrackingSnapshot{store->windows(), store->visibleSpaceIDs(), store->fullscreenSpaceIDs(), store->spaceNumbers()}),
              snapshot);

    log->focus(9);
    log->focus(3);
    EXPECT_EQ(changes, 3);
    store->stop();
    EXPECT_EQ(log->stopCount, 1);
    EXPECT_EQ(idsOf(store->ordered()), Ids({3, 9, 8, 7})); // data survives stop
}

TEST_F(StoreFixture, OnChangeSeesTheNewStateEvenForAnIdenticalSnapshot)
{
    std::vector<Ids> seen;
    store->onChange = [&] { seen.push_back(idsOf(store->ordered())); };
    store->apply(snapshotOf({1, 2}));
    store->apply(snapshotOf({1, 2}));
    store->noteFocused(2);
    EXPECT_EQ(seen, (std::vector<Ids>{{1, 2}, {1, 2}, {2, 1}}));
}

TEST_F(StoreFixture, OnChangeMayReplaceItself)
{
    int second = 0;
    store->onChange = [&] {
        ++changes;
        store->onChange = [&] { ++second; };
    };
    store->noteFocused(1);
    store->noteFocused(2);
    EXPECT_EQ(std::pair(changes, second), std::pair(1, 1));
}

TEST_F(StoreFixture, FocusOfAnUnknownWindowWaitsForTheNextSnapshot)
{
    store->noteFocused(7);
    EXPECT_EQ(store->mru().ids, Ids({7}));
    EXPECT_TRUE(store->ordered().empty());

    store->apply(snapshotOf({1, 7}));
    EXPECT_EQ(idsOf(store->ordered()), Ids({7, 1})); // focused before it appeared
    store->apply(snapshotOf({1}));
    EXPECT_EQ(store->mru().ids, Ids({1}));
}

TEST_F(StoreFixture, LookupFindsTheFirstOfARepeatedId)
{
    store->apply({{makeWindow(4), makeWindow(4, "second")}, {}, {}, {}});
    EXPECT_EQ(store->window(4), makeWindow(4));
}

TEST_F(StoreFixture, OrderedListFollowsEveryChangeWhetherCopiedOrMoved)
{
    const TrackingSnapshot large = snapshotOf({1, 2, 3, 4, 5});
    store->apply(large); // copied
    store->noteFocused(4);
    EXPECT_EQ(idsOf(store->ordered()), Ids({4, 1, 2, 3, 5}));
    store->apply({{makeWindow(5, "renamed"), makeWindow(4)}, {}, {}, {}});
    EXPECT_EQ(store->ordered(), (std::vector<WindowInfo>{makeWindow(4), makeWindow(5, "renamed")}));
    store->noteFocused(5);
    EXPECT_EQ(idsOf(store->ordered()), Ids({5, 4}));
    store->apply(snapshotOf({6, 5, 4})); // moved; nothing left over from the earlier list
    EXPECT_EQ(store->ordered(), makeWindows({5, 4, 6}));
}

TEST_F(StoreFixture, CallbacksDoNothingOnceTheStoreIsGone)
{
    store->start();
    bool calledAfterDeath = false;
    store->onChange = [&] { calledAfterDeath = true; };
    store.reset();
    // The tracker's queued deliveries arrive after the store died.
    ASSERT_TRUE(log->onChange && log->onFocus);
    log->publish(snapshotOf({1}));
    log->focus(1);
    EXPECT_FALSE(calledAfterDeath);
}

} // namespace
} // namespace vantrel
