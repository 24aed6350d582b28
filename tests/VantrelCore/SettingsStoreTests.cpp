// The settings store: loading, saving only real changes, and notifications.
#include "VantrelCore/SettingsStore.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

struct SettingsStoreTest : ::testing::Test {
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    SettingsStore store {defaults};
    int changes = 0;

    void SetUp() override { store.onChange = [this](const Settings&) { ++changes; }; }

    /// What was saved, read as the next start reads it; an unusable document reads as empty settings.
    Settings stored() const { return SettingsStore::loadStored(*defaults).valueOr(Settings {}); }
};

TEST_F(SettingsStoreTest, LoadsTheStoredDocumentOrElseTheDefaults)
{
    EXPECT_EQ(SettingsStore(defaults).settings(), Settings::defaults());
    defaults->setData("settings", R"({"showDelayMilliseconds": 40, "searchChord": null, "unknown": 1})");
    EXPECT_EQ(SettingsStore(defaults).settings(), (Settings{.showDelayMilliseconds = 40, .searchChord = std::nullopt, .rules = {}}));
}

TEST_F(SettingsStoreTest, UnusableDocumentGivesDefaultsAndStaysUntilTheNextChange)
{
    // One bad key spoils the document: none of it is taken.
    defaults->setData("settings", R"({"minimizedWindows": "top", "showDelayMilliseconds": 10})");
    auto writes = defaults->writeCount();
    SettingsStore loaded(defaults);
    EXPECT_EQ(loaded.settings(), Settings::defaults());
    EXPECT_EQ(defaults->writeCount(), writes);
    loaded.update([](Settings& s) { s.allowOneMismatch = true; });
    EXPECT_EQ(stored(), (Settings {.allowOneMismatch = true, .rules = {}}));
}

TEST_F(SettingsStoreTest, UpdateWithoutChangeNeitherWritesNorNotifies)
{
    store.update([](Settings& s) { s.showDelayMilliseconds = 150; });
    store.update([](Settings& s) {
        s.textScale = 2;
        s.textScale = 1; // changed and changed back
    });
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(defaults->writeCount(), 0u);
}

TEST_F(SettingsStoreTest, UnencodableUpdateStaysInMemoryAndStillNotifies)
{
    store.update([](Settings& s) { s.appearance = AppearanceMode::dark; });
    auto before = defaults->data("settings");
    store.update([](Settings& s) { s.switchers[0].name = "broken \xC3"; });
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(store.settings().switchers[0].name, "broken \xC3");
    EXPECT_EQ(defaults->data("settings"), before); // the last good document stays
}

TEST_F(SettingsStoreTest, UpdateSavesThenNotifiesWithTheNewValue)
{
    std::vector<Settings> seen;
    store.onChange = [&](const Settings& s) {
        EXPECT_EQ(stored(), s); // saved before the listener runs
        EXPECT_EQ(store.settings(), s);
        seen.push_back(s);
    };
    store.update([](Settings& s) { s.searchChord.reset(); });
    EXPECT_EQ(seen, (std::vector{Settings{.searchChord = std::nullopt, .rules = {}}}));
    EXPECT_EQ(defaults->writeCount(), 1u);
}

TEST_F(SettingsStoreTest, ListenerMayUpdateAgain)
{
    std::vector<std::int64_t> delays;
    store.onChange = [&](const Settings& s) {
        delays.push_back(s.showDelayMilliseconds);
        if (s.showDelayMilliseconds < 3)
            store.update([](Settings& next) { ++next.showDelayMilliseconds; });
    };
    store.update([](Settings& s) { s.showDelayMilliseconds = 1; });
    EXPECT_EQ(delays, (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(stored().showDelayMilliseconds, 3);
}

TEST_F(SettingsStoreTest, ReloadTakesInOnlyAnotherWritersUsableDocument)
{
    std::vector<std::int64_t> seen;
    store.onChange = [&](const Settings& s) { seen.push_back(s.showDelayMilliseconds); };
    defaults->setData("settings", R"({"showDelayMilliseconds": 40})");
    store.reload();
    store.reload();
    defaults->setData("settings", "not json");
    store.reload();
    EXPECT_EQ(store.settings().showDelayMilliseconds, 40);
    EXPECT_EQ(seen, (std::vector<std::int64_t>{40}));
}

TEST_F(SettingsStoreTest, RecordingFlagIsNotSavedAndNotifiesOnlyOnChange)
{
    std::vector<bool> seen;
    store.setRecordingChord(true); // no listener yet
    store.onRecordingChange = [&](bool recording) { seen.push_back(recording); };
    for (bool recording : {true, false, false, true, true})
        store.setRecordingChord(recording);
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
    EXPECT_EQ(defaults->writeCount(), 0u);
}

} // namespace
} // namespace vantrel
