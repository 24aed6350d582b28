// The application delegate on virtual time with recording pieces: launch and quit order, onboarding, the tray menu.
#include "Vantrel/AppDelegate.h"
#include "Vantrel/OnboardingWindow.h"

#include "Support/QtTestApplication.h"
#include "Support/FakePanels.h"
#include "Support/FakeWindowTracking.h"
#include "Runtime/Log.h"
#include "Runtime/ManualRunLoop.h"
#include "Runtime/UserDefaults.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <map>

using namespace std::chrono_literals;
using ::testing::ElementsAre;

namespace vantrel {
namespace {

using Calls = std::vector<std::string>;

/// Every piece writes what it was asked into one log, read (and emptied) by `take`.
Calls journal;
void record(std::string call) { journal.push_back(std::move(call)); }
Calls take() { return std::exchange(journal, {}); }
std::string id(const WindowInfo& window) { return " " + std::to_string(window.id); }

struct RecordingSwitcher final : SwitcherService {
    void start() override { record("switcher.start"); }
    void stop() override { record("switcher.stop"); }
    void applySettings() override { record("switcher.applySettings"); }
    void pauseHotKeys() override { record("switcher.pauseHotKeys"); }
    void storeChanged() override { record("switcher.storeChanged"); }
    void focus(const WindowInfo& window) override { record("switcher.focus" + id(window)); }
    void perform(ItemAction, const WindowInfo& window) override { record("switcher.perform" + id(window)); }
};

struct RecordingSearch final : SearchService {
    void start() override { record("search.start"); }
    void stop() override { record("search.stop"); }
    void pause() override { record("search.pause"); }
    void applySettings() override { record("search.applySettings"); }
    void queryChanged(const std::string& query) override { record("search.queryChanged " + query); }
    void retryFastSearchIfNeeded() override { record("search.retryFastSearch"); }
};

struct RecordingPanels final : AppPanels {
    SwitcherPanelInterface& switcher() override { return switcherPanel; }
    SearchPanelInterface& search() override { return searchPanel; }
    void applyStyle(AppearanceMode appearance, double textScale) override
    {
        record("panels.style " + std::string(rawValue(appearance)) + " " + std::to_string(textScale).substr(0, 4));
    }
    test::FakeSwitcherPanel switcherPanel;
    test::FakeSearchPanel searchPanel;
};

struct RecordingTray final : TrayService {
    void setMenu(const std::vector<MenuItem>& items) override { record("tray.menu"), menu = items; }
    void setWarning(bool on) override { record(on ? "tray.icon warning" : "tray.icon normal"); }
    bool isDocked() const override { return docked; }
    std::vector<MenuItem> menu;
    bool docked = true;
};

struct RecordingWindow final : PresentedWindow {
    void present() override { record("settings.present"); }
};

struct RecordingUpdater final : UpdaterService {
    void checkForUpdates() override { record("updater.check"); }
};

/// Builds recording pieces, the real onboarding window (offscreen) and a real
/// window store over a fake tracker.
class FakeFactory final : public AppFactory {
public:
    explicit FakeFactory(RunLoop& loop, std::function<bool()> ready) : loop_(loop), ready_(std::move(ready)) {}

    std::unique_ptr<UpdaterService> makeUpdater() override { return made<RecordingUpdater>("updater"); }
    std::unique_ptr<TrayService> makeTray() override
    {
        auto made = this->made<RecordingTray>("tray", &tray);
        made->docked = hasTray;
        return made;
    }
    std::unique_ptr<WindowStore> makeStore() override
    {
        record("make store");
        return std::make_unique<WindowStore>(std::make_unique<test::FakeWindowTracking>(tracking));
    }
    std::unique_ptr<AppPanels> makePanels() override { return made<RecordingPanels>("panels", &panels); }
    std::unique_ptr<SwitcherService> makeSwitcher(WindowStore&, AppPanels&, SettingsStore&) override
    {
        return made<RecordingSwitcher>("switcher");
    }
    std::unique_ptr<SearchService> makeSearch(WindowStore&, AppPanels&, SettingsStore&,
                                              std::function<void(const WindowInfo&)> focusCallback,
                                              std::function<void(ItemAction, const WindowInfo&)> performCallback) override
    {
        focus = std::move(focusCallback);
        perform = std::move(performCallback);
        return made<RecordingSearch>("search");
    }
    std::unique_ptr<OnboardingService> makeOnboarding() override
    {
        record("make onboarding");
        auto made = std::make_unique<OnboardingWindow>(loop_, ready_, [] { record("help"); });
        onboarding = made.get();
        return made;
    }
    std::unique_ptr<PresentedWindow> makeSettingsWindow(SettingsStore&, std::function<std::vector<WindowInfo>()>) override
    {
        return made<RecordingWindow>("settings");
    }

    bool hasTray = true;
    RecordingTray* tray = nullptr;
    std::shared_ptr<test::FakeTrackingLog> tracking = std::make_shared<test::FakeTrackingLog>();
    RecordingPanels* panels = nullptr;
    OnboardingWindow* onboarding = nullptr;
    std::function<void(const WindowInfo&)> focus;
    std::function<void(ItemAction, const WindowInfo&)> perform;

private:
    /// A new piece, logged, and kept in `kept` when given.
    template <class Piece>
    std::unique_ptr<Piece> made(const std::string& name, Piece** kept = nullptr)
    {
        record("make " + name);
        auto piece = std::make_unique<Piece>();
        if (kept)
            *kept = piece.get();
        return piece;
    }
    RunLoop& loop_;
    std::function<bool()> ready_;
};

class FakeEnvironment final : public AppEnvironment {
public:
    void installHotKeyGuard() override { record("guard.install"); }
    bool reassertAtLaunch() override { return record("guard.reassert"), repairs; }
    void restoreSystemHotKeys() override { record("hotkeys.restore"); }
    bool isDesktopReady() override { return ready; }
    std::optional<std::string> variable(std::string_view name) override
    {
        return name == "VANTREL_OPEN_SETTINGS" ? openSettings : std::nullopt;
    }
    bool secureInputEnabled() override { return secureInput; }
    std::optional<std::int32_t> secureInputCulprit() override { return culprit; }
    std::optional<std::string> applicationName(std::int32_t pid) override
    {
        return names.contains(pid) ? std::optional(names.at(pid)) : std::nullopt;
    }
    void terminateApplication(std::int32_t pid) override { record("terminate " + std::to_string(pid)); }
    void applyAppearance(AppearanceMode appearance) override { record("appearance " + std::string(rawValue(appearance))); }
    void requestQuit() override { record("quit requested"); }

    bool ready = true;
    bool repairs = false;
    std::optional<std::string> openSettings;
    bool secureInput = false;
    std::optional<std::int32_t> culprit;
    std::map<std::int32_t, std::string> names;
};

class AppDelegateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureQtApplication(); }

    void launch()
    {
        delegate = std::make_unique<AppDelegate>(loop, factory, environment, settingsStore, "0.1");
        delegate->applicationDidFinishLaunching();
    }

    std::vector<std::string> menuTitles() const
    {
        std::vector<std::string> titles;
        for (const auto& item : factory.tray->menu)
            titles.push_back(item.separator ? "---" : item.title + (item.enabled() ? "" : " (disabled)"));
        return titles;
    }

    AppDelegateTest() { take(); }

    ManualRunLoop loop;
    FakeEnvironment environment;
    FakeFactory factory{loop, [this] { return environment.ready; }};
    std::shared_ptr<SettingsStore> settingsStore = std::make_shared<SettingsStore>(std::make_shared<MemoryUserDefaults>());
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, launchRunsItsStepsInOrderAndStartsTheStoreAfterwards)
{
    environment.repairs = true;
    LogCapture capture;
    launch();
    EXPECT_THAT(take(),
                ElementsAre("guard.install", "guard.reassert", "make updater", "make tray", "tray.menu", "make panels",
                            "make store", "make switcher", "switcher.start", "make search", "search.start",
                            "appearance system", "panels.style system 1.00", "tray.menu"));
    EXPECT_TRUE(capture.contains("re-enabled system ⌘Tab left disabled by a previous run", "app"));
    EXPECT_EQ(factory.tracking->startCount, 0) << "the store starts after the launch steps have returned";
    loop.runPending();
    EXPECT_EQ(factory.tracking->startCount, 1);
}

TEST_F(AppDelegateTest, switchingStartsOncePerProcess)
{
    launch();
    take();
    delegate->startSwitcher();
    EXPECT_TRUE(take().empty());
}

TEST_F(AppDelegateTest, onlyTheValueOneOfTheVariableOpensTheSettingsWindowLast)
{
    struct Case {
        const char* value;
        bool desktopReady, opens;
    };
    for (auto [value, ready, opens] :
         {Case{"1", true, true}, {"true", true, false}, {"yes", true, false}, {nullptr, true, false}, {"1", false, true}}) {
        SCOPED_TRACE(std::string(value ? value : "unset") + (ready ? "" : ", desktop not ready"));
        environment.ready = ready;
        environment.openSettings = value ? std::optional<std::string>(value) : std::nullopt;
        launch();
        const auto calls = take();
        EXPECT_EQ(std::ranges::count(calls, "settings.present"), opens ? 1 : 0);
        EXPECT_EQ(calls.back() == "settings.present", opens);
    }
}

TEST_F(AppDelegateTest, anUnreadyDesktopShowsOnboardingAndOffersItInTheMenu)
{
    environment.ready = false;
    launch();
    ASSERT_NE(factory.onboarding, nullptr);
    EXPECT_EQ(factory.onboarding->statusText().toStdString(), OnboardingWindow::waitingText);
    EXPECT_THAT(menuTitles(), ::testing::Contains("Grant Accessibility Permission…"));
    QTest::keyClick(factory.onboarding->helpButton(), Qt::Key_Return);
    EXPECT_EQ(journal.back(), "help");
    // The menu row brings the same window forward.
    delegate->perform(MenuAction::showOnboarding);
    EXPECT_EQ(std::ranges::count(take(), "make onboarding"), 1);
}

TEST_F(AppDelegateTest, theWindowManagerArrivingStartsSwitchingAndEndsOnboarding)
{
    environment.ready = false;
    launch();
    auto& onboarding = *factory.onboarding;
    loop.advance(3s);
    EXPECT_FALSE(delegate->isStarted());
    environment.ready = true;
    loop.advance(1s);
    EXPECT_TRUE(delegate->isStarted());
    EXPECT_EQ(onboarding.statusText().toStdString(), OnboardingWindow::readyText);
    EXPECT_FALSE(onboarding.isPolling());
    EXPECT_THAT(menuTitles(), ::testing::Not(::testing::Contains("Grant Accessibility Permission…")));
    EXPECT_TRUE(onboarding.isVisible());
    loop.advance(2s);
    EXPECT_FALSE(onboarding.isVisible());
}

TEST_F(AppDelegateTest, eachSecureInputHolderGetsItsOwnMenuRows)
{
    launch();
    environment.names[42] = "KeePassXC";
    environment.secureInput = true;
    // A pid whose process has gone is named by its number; without one there is nothing to quit.
    const std::tuple<std::optional<std::int32_t>, std::string, Calls> cases[] = {
        {42, "KeePassXC", {"terminate 42"}}, {std::nullopt, "another app", {}}, {77, "pid 77", {"terminate 77"}}};
    for (const auto& [culprit, name, quit] : cases) {
        SCOPED_TRACE(name);
        environment.culprit = culprit;
        loop.advance(AppDelegate::secureInputInterval);
        EXPECT_EQ(factory.tray->menu[2].title, "⚠️ Secure Input is on in " + name);
        EXPECT_EQ(std::ranges::count(menuTitles(), "Quit " + name), quit.empty() ? 0 : 1);
        take();
        delegate->perform(MenuAction::quitSecureInputApp);
        EXPECT_EQ(take(), quit);
    }
}

TEST_F(AppDelegateTest, theIconAndMenuChangeOnlyWhenSecureInputDoes)
{
    launch();
    const auto tick = [&] {
        loop.advance(AppDelegate::secureInputInterval);
        return take();
    };
    tick();
    EXPECT_THAT(tick(), ElementsAre("search.retryFastSearch"));
    environment.secureInput = true;
    environment.culprit = 42;
    EXPECT_THAT(tick(), ElementsAre("search.retryFastSearch", "tray.icon warning", "tray.menu"));
    EXPECT_THAT(tick(), ElementsAre("search.retryFastSearch"));
    environment.secureInput = false;
    EXPECT_THAT(tick(), ElementsAre("search.retryFastSearch", "tray.icon normal", "tray.menu"));
    EXPECT_EQ(factory.tray->menu.size(), 6u);
}

TEST_F(AppDelegateTest, eventsReachThePiecesInOrder)
{
    launch();
    loop.runPending();
    take();
    settingsStore->update([](Settings& s) {
        s.appearance = AppearanceMode::dark;
        s.textScale = 1.5;
    });
    EXPECT_THAT(take(), ElementsAre("appearance dark", "panels.style dark 1.50", "switcher.applySettings",
                                        "search.applySettings"));

    settingsStore->setRecordingChord(true);
    EXPECT_THAT(take(), ElementsAre("switcher.pauseHotKeys", "search.pause"));
    settingsStore->setRecordingChord(false);
    EXPECT_THAT(take(), ElementsAre("switcher.applySettings", "search.applySettings"));

    factory.tracking->publish({});
    EXPECT_THAT(take(), ElementsAre("switcher.storeChanged"));
    factory.panels->searchPanel.show({}, std::nullopt);
    factory.panels->searchPanel.typed = "fir";
    factory.tracking->publish({});
    EXPECT_THAT(take(), ElementsAre("switcher.storeChanged", "search.queryChanged fir"));

    // The search controller reaches the switcher through the delegate.
    factory.focus(test::window(7, 70, "Mail"));
    factory.perform(ItemAction::close, test::window(8, 80, "Notes"));
    EXPECT_THAT(take(), ElementsAre("switcher.focus 7", "switcher.perform 8"));
}

TEST_F(AppDelegateTest, quitStopsTheStartedControllersThenGivesBackTheSystemShortcuts)
{
    for (bool started : {true, false}) {
        SCOPED_TRACE(started ? "started" : "before the start: nothing is built just to stop it");
        environment.ready = started;
        launch();
        take();
        delegate->applicationWillTerminate();
        EXPECT_EQ(take(), (started ? Calls{"switcher.stop", "search.stop", "hotkeys.restore"} : Calls{"hotkeys.restore"}));
    }
}

TEST_F(AppDelegateTest, callbacksLeftWithTheStoresDoNothingOnceTheDelegateIsGone)
{
    launch();
    delegate.reset();
    take();
    settingsStore->setRecordingChord(true);
    EXPECT_TRUE(take().empty());
}

TEST_F(AppDelegateTest, withoutATrayItLogsOnceAndKeepsRunning)
{
    factory.hasTray = false;
    LogCapture capture;
    launch();
    loop.advance(10s);
    EXPECT_TRUE(delegate->isStarted());
    EXPECT_EQ(std::ranges::count_if(capture.messages("app"), [](const std::string& m) { return m.starts_with("no system tray"); }), 1);
    EXPECT_FALSE(factory.tray->menu.empty()) << "the icon keeps its menu for a tray that appears later";
    take();
    for (auto action : {MenuAction::showSettings, MenuAction::checkForUpdates, MenuAction::quit})
        delegate->perform(action);
    EXPECT_THAT(take(), ElementsAre("make settings", "settings.present", "updater.check", "quit requested"));
}

} // namespace
} // namespace vantrel
