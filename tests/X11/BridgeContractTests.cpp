// What the bridge promises over any backend: desktops, focus, minimizing,
// closing and observers, checked on the simulated desktop and on openbox; and
// what only openbox can show, through the bridge and in the X11 backends.
#include "Platform/Sim/SimDesktop.h"
#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Workspace.h"
#include "Support/ScratchFiles.h"
#include "SystemBridge/AXBridge.h"
#include "SystemBridge/Spaces.h"
#include "SystemBridge/WindowFocus.h"
#include "VantrelCore/WindowStore.h"
#include "WindowTracker/AXWindowTracker.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Heard = std::vector<std::pair<std::string, WindowID>>;

using test::Backend;

/// The bridge over the simulated desktop (one display of four spaces) or over
/// openbox (four desktops); applications and windows are made alike on both.
class BridgeContract : public test::X11ConnectionTest, public testing::WithParamInterface<Backend> {
protected:
    bool x11() const { return GetParam() == Backend::x11; }

    void prepare() override
    {
        if (x11()) {
            bridge.emplace(makeX11Backends(connection, loop));
            return;
        }
        sim = Sim::SimDesktop::create(loop);
        sim->addDisplay({.identifier = "screen", .spaces = {{.id = 1}, {.id = 2}, {.id = 3}, {.id = 4}}, .currentSpaceID = 1});
        bridge.emplace(sim->backends());
    }

    Pid launch()
    {
        if (!x11()) {
            sim->launch({.pid = nextPid, .name = "App"});
            return nextPid++;
        }
        auto client = test::TestClient::start(session->display());
        EXPECT_TRUE(client);
        const Pid pid = client ? client->pid() : 0;
        clients[pid] = std::move(client);
        return pid;
    }

    /// Opens a window of `pid` titled `title` on desktop `space` (0: on all),
    /// on X11 with the client's `options` as well; its id, once the bridge can know it.
    WindowID open(Pid pid, const std::string& title, SpaceID space = 1, const std::string& options = {})
    {
        if (!x11()) {
            sim->openWindow({.id = nextWindow, .pid = pid, .title = title, .spaces = {space}});
            return nextWindow++;
        }
        const auto& client = clients.at(pid);
        if (!client)
            return 0; // launch() has failed the test
        const auto desktop = space == 0 ? std::string("all") : std::to_string(space - 1);
        auto id = client->open(title, "desktop=" + desktop + " " + options + " title=" + title);
        EXPECT_TRUE(id && caughtUp());
        owners[id.value_or(0)] = {pid, title};
        return id.value_or(0);
    }

    void retitle(WindowID window, const std::string& title)
    {
        if (!x11())
            return sim->setTitle(window, title);
        const auto& [pid, tag] = owners.at(window);
        EXPECT_TRUE(clients.at(pid)->command("title " + tag + " " + title));
    }

    AXElement element(WindowID window, Pid pid) { return AXBridge::window(window, pid).value_or(nullptr); }
    bool until(const std::function<bool()>& done) { return test::pumpUntil(loop, done); }

    /// Runs the loop until `seen` holds `item`.
    template <typename T>
    bool saw(const std::vector<T>& seen, const T& item)
    {
        return until([&] { return std::ranges::find(seen, item) != seen.end(); });
    }

    /// An observer of `pid`'s `notifications`, attached to the loop; each one
    /// is recorded in `heard` with its window's id (0 for the application).
    std::shared_ptr<AXObserver> observe(Pid pid, std::initializer_list<const char*> notifications)
    {
        std::shared_ptr<AXObserver> observer;
        if (SystemBridge::installed().accessibility->createObserver(pid, [this](const AXElement& e, const std::string& name) {
                heard.emplace_back(name, AXBridge::windowID(e).value_or(0));
            }, observer) != AXErrors::success)
            return nullptr;
        for (auto name : notifications)
            if (observer->addNotification(AXBridge::application(pid), name) != AXErrors::success) {
                ADD_FAILURE() << name << " refused";
                return nullptr;
            }
        observer->attach(loop);
        return observer;
    }
    bool heardOf(const std::string& name, WindowID window) { return saw(heard, std::pair(name, window)); }

    std::shared_ptr<Sim::SimDesktop> sim;
    Pid nextPid = 100;
    WindowID nextWindow = 1000;
    std::map<Pid, std::unique_ptr<test::TestClient>> clients;
    std::map<WindowID, std::pair<Pid, std::string>> owners;
    std::optional<test::InstalledBridge> bridge;
    Heard heard;
};

TEST_P(BridgeContract, SpacesNumberTheDesktopsAndListTheWindowsOnEach)
{
    const Pid app = launch();
    const WindowID here = open(app, "Here", 1), there = open(app, "There", 2);
    auto tables = Spaces::tables(Spaces::displays(), [](SpaceID space) { return Spaces::windowIDs(space, Spaces::trackerWindowListOptions); });
    EXPECT_EQ(tables.spaceNumbers, (std::map<SpaceID, int>{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    EXPECT_EQ(tables.windowSpaces[here], (std::vector<SpaceID>{1}));
    EXPECT_EQ(tables.windowSpaces[there], (std::vector<SpaceID>{2}));
    EXPECT_EQ(Spaces::spaceIDs(there), (std::vector<SpaceID>{2}));
    EXPECT_EQ(Spaces::visibleSpaceIDs(), (std::set<SpaceID>{1}));
    EXPECT_EQ(Spaces::activeSpaceID(), 1u);
}

TEST_P(BridgeContract, FocusSwitchesToTheWindowsDesktopAndBringsItsProcessToTheFront)
{
    const Pid app = launch(), other = launch();
    open(app, "Here", 1);
    const WindowID there = open(other, "There", 3);
    EXPECT_TRUE(WindowFocus::focus(there, other).succeeded());
    EXPECT_TRUE(until([&] { return Spaces::activeSpaceID() == 3u && WindowFocus::frontmostPID() == other; }));
    EXPECT_FALSE(WindowFocus::focus(there, 0x7FFFFFF0).succeeded()) << "no such process";
}

TEST_P(BridgeContract, FocusRestoresAMinimizedWindowFirst)
{
    const Pid app = launch();
    const WindowID window = open(app, "Window");
    auto minimized = element(window, app);
    ASSERT_EQ(AXBridge::setMinimized(minimized, true), AXErrors::success);
    ASSERT_TRUE(until([&] { return AXBridge::isMinimized(minimized); }));
    EXPECT_TRUE(WindowFocus::focus(window, app).succeeded());
    EXPECT_TRUE(until([&] { return !AXBridge::isMinimized(minimized); }));
}

TEST_P(BridgeContract, CloseEndsTheWindowAndOnlyItsElementTurnsInvalid)
{
    const Pid app = launch();
    const WindowID kept = open(app, "Kept"), doomed = open(app, "Doomed");
    auto windows = AXBridge::windows(AXBridge::application(app));
    ASSERT_EQ(windows.ok() ? windows.get().size() : 0u, 2u);
    auto closed = element(doomed, app);
    EXPECT_EQ(AXBridge::close(closed), AXErrors::success);
    auto invalid = [](const AXElement& e) {
        auto title = AXBridge::attributeResult(e, "AXTitle");
        return !title.ok() && title.error().code == AXErrors::invalidUIElement;
    };
    ASSERT_TRUE(until([&] { return invalid(closed); }));
    EXPECT_EQ(std::ranges::count_if(windows.get(), invalid), 1) << "elements read before the close";
    EXPECT_EQ(AXBridge::title(element(kept, app)), "Kept");
    EXPECT_EQ(AXBridge::raise(closed), AXErrors::invalidUIElement);
    EXPECT_EQ(AXBridge::setMinimized(closed, true), AXErrors::invalidUIElement);
    EXPECT_FALSE(AXBridge::isMinimized(closed));
    EXPECT_NE(AXBridge::close(closed), AXErrors::success);
}

TEST_P(BridgeContract, ObserversHearTheirOwnProcessOnTheLoopUntilDetached)
{
    const Pid app = launch(), other = launch();
    const WindowID mine = open(app, "Mine"), theirs = open(other, "Theirs");
    auto observer = observe(app, {"AXTitleChanged"});
    ASSERT_TRUE(observer);
    EXPECT_EQ(observer->addNotification(AXBridge::application(app), "AXTitleChanged"), AXErrors::notificationAlreadyRegistered);

    retitle(theirs, "Renamed");
    retitle(mine, "Renamed");
    EXPECT_TRUE(heard.empty()) << "delivered on the loop, not inline";
    ASSERT_TRUE(until([&] { return !heard.empty(); }));
    for (const auto& each : heard)
        EXPECT_EQ(each, std::pair(std::string("AXTitleChanged"), mine));

    const auto count = heard.size();
    retitle(mine, "Again");
    ASSERT_TRUE(connection->sync());
    observer->detach();
    test::pumpUntil(loop, [] { return false; }, 100ms);
    EXPECT_EQ(heard.size(), count) << "not even what was queued";
}

TEST_P(BridgeContract, TheWorkspaceReportsLaunchesAndTerminationsOnTheLoopWhileObserved)
{
    auto& workspace = *SystemBridge::installed().workspace;
    std::vector<std::pair<std::string, Pid>> seen;
    auto record = [&](std::string what) { return [&seen, what](const RunningApplication& app) { seen.emplace_back(what, app.pid); }; };
    auto launched = workspace.observe(WorkspaceEvent::didLaunchApplication, loop, record("launch"));
    auto terminated = workspace.observe(WorkspaceEvent::didTerminateApplication, loop, record("terminate"));

    const Pid app = launch(), other = launch();
    EXPECT_TRUE(seen.empty()) << "delivered on the loop, not inline";
    const WindowID window = open(app, "Sum");
    open(other, "Other");
    EXPECT_TRUE(saw(seen, std::pair(std::string("launch"), app)));
    EXPECT_FALSE(workspace.terminate(0x7FFFFFF0)) << "no such process";
    EXPECT_FALSE(workspace.hide(0x7FFFFFF0));
    EXPECT_TRUE(workspace.terminate(app));
    EXPECT_TRUE(!x11() || clients.at(app)->waitFor("closed Sum")) << "asked to close, not killed";
    EXPECT_TRUE(saw(seen, std::pair(std::string("terminate"), app)));
    EXPECT_FALSE(workspace.runningApplication(app));
    EXPECT_TRUE(Spaces::spaceIDs(window).empty()) << "its windows end with it";
    EXPECT_FALSE(workspace.terminate(app));

    // The notice of this one may be queued already when the observation ends.
    EXPECT_TRUE(workspace.terminate(other));
    terminated.reset();
    test::pumpUntil(loop, [] { return false; }, 100ms);
    EXPECT_EQ(std::ranges::count(seen, std::pair(std::string("terminate"), other)), 0) << "an ended observation is not called";
}

INSTANTIATE_TEST_SUITE_P(Backends, BridgeContract, test::everyBackend, test::backendName);

/// What openbox shows that the simulated desktop cannot.
class BridgeOnX11 : public BridgeContract {
protected:
    void prepare() override
    {
        BridgeContract::prepare();
        backends = SystemBridge::installed();
        slots = backends.windowServer->slots();
        activations = backends.workspace->observe(WorkspaceEvent::didActivateApplication, loop,
                                                  [this](const RunningApplication& app) { activated.push_back(app.pid); });
    }

    bool minimized(xcb_window_t window)
    {
        auto read = readClients(*connection, std::vector<xcb_window_t>{window}).at(0);
        return read.info && read.info->minimized;
    }

    /// Asks the window manager to activate `window` until the workspace
    /// reports `owner` activated. A loaded window manager may drop a request;
    /// it asks again, as a pager would.
    bool activate(Pid owner, xcb_window_t window)
    {
        ProcessSerialNumber psn{0, static_cast<std::uint32_t>(owner)};
        for (int attempt = 0; attempt < 3; ++attempt)
            if (slots.setFrontProcessWithOptions(psn, window, 0) == 0 &&
                test::pumpUntil(loop, [&] { return !activated.empty() && activated.back() == owner; }, std::chrono::seconds(3)))
                return true;
        return false;
    }

    /// Starts `hider` with a window `first` and a second titled `title`, opened
    /// with `secondOptions`, and records its hidden and shown notifications from the
    /// moment the backend has reported both windows created: it must know the
    /// windows it is to hide.
    ::testing::AssertionResult prepareHide(const std::string& title, const std::string& secondOptions = {})
    {
        hider = launch();
        if (!hider || !(hiding = observe(hider, {"AXWindowCreated", "AXApplicationHidden", "AXApplicationShown"})))
            return ::testing::AssertionFailure() << "no client or no observer";
        first = open(hider, "First");
        second = open(hider, title, 1, secondOptions);
        if (!heardOf("AXWindowCreated", first) || !heardOf("AXWindowCreated", second))
            return ::testing::AssertionFailure() << "the backend did not report both windows created";
        heard.clear();
        return ::testing::AssertionSuccess();
    }

    AXError unminimize(Pid owner, WindowID window) { return AXBridge::setMinimized(element(window, owner), false); }
    bool hidden() { return backends.workspace->runningApplication(hider)->isHidden; }

    Backends backends;
    WindowServerSlots slots;
    std::vector<Pid> activated; // as the workspace reports them
    std::unique_ptr<Observation> activations;
    // Before the bridge's backends go: the observer keeps their connection,
    // whose event thread posts to the loop, alive.
    Pid hider = 0;
    std::shared_ptr<AXObserver> hiding;
    WindowID first = 0, second = 0;
};

TEST_P(BridgeOnX11, WindowsAreListedByKind)
{
    const Pid one = launch(), two = launch();
    const WindowID editor = open(one, "Editor"), dialog = open(one, "Save", 1, "type=dialog"),
                   find = open(one, "Find", 1, "transient=Editor"), mail = open(two, "Mail", 2, "pid=0"),
                   panel = open(two, "Panel", 2, "type=utility"), everywhere = open(two, "Everywhere", 0),
                   tray = open(two, "Tray", 2, "skip-taskbar=1");
    EXPECT_EQ(Spaces::spaceIDs(everywhere), (std::vector<SpaceID>{1, 2, 3, 4}));
    ASSERT_TRUE(AXBridge::isTrusted());
    using Listing = std::map<WindowID, std::pair<std::string, std::string>>;
    auto listing = [](Pid pid) {
        Listing seen;
        auto windows = AXBridge::windows(AXBridge::application(pid));
        for (const auto& element : windows.get())
            seen[AXBridge::windowID(element).value_or(0)] = {AXBridge::title(element).value_or("?"),
                                                             AXBridge::subrole(element).value_or("?")};
        return seen;
    };
    EXPECT_EQ(listing(one), (Listing{{editor, {"Editor", "AXStandardWindow"}}, {dialog, {"Save", "AXDialog"}},
                                     {find, {"Find", "AXDialog"}}}));
    EXPECT_EQ(listing(two), (Listing{{mail, {"Mail", "AXStandardWindow"}}, {panel, {"Panel", "AXFloatingWindow"}},
                                     {everywhere, {"Everywhere", "AXStandardWindow"}}, {tray, {"Tray", "AXFloatingWindow"}}}));
    EXPECT_EQ(backends.workspace->runningApplication(two).value().activationPolicy, ActivationPolicy::regular);
}

TEST_P(BridgeOnX11, UnminimizingAWindowOfAnotherDesktopGoesThere)
{
    const Pid app = launch();
    const WindowID window = open(app, "Here");
    auto here = element(window, app);
    auto root = [&] { return readRootState(*connection).value_or(X11RootState{}); };
    ASSERT_EQ(AXBridge::setMinimized(here, true), 0);
    ASSERT_TRUE(test::eventually([&] { return AXBridge::isMinimized(here); }));
    ASSERT_TRUE(Spaces::makeCurrent(3));
    ASSERT_TRUE(test::eventually([&] { return root().currentDesktop == 2u; }));
    ASSERT_EQ(AXBridge::setMinimized(here, false), 0);
    EXPECT_TRUE(test::eventually([&] { return root().activeWindow == window && root().currentDesktop == 0u; }));
}

TEST_P(BridgeOnX11, CloseAsksTheClientWhichMayKeepItsWindow)
{
    const Pid app = launch();
    const WindowID doomed = open(app, "Doomed"), stubborn = open(app, "Stubborn", 1, "ignore-delete=1");
    auto& client = *clients.at(app);
    ASSERT_EQ(AXBridge::close(element(doomed, app)), 0);
    EXPECT_TRUE(client.waitFor("closed Doomed"));
    ASSERT_TRUE(caughtUp());
    auto steps = WindowFocus::focus(doomed, app).steps;
    auto front = std::ranges::find(steps, std::string("setFrontProcessWithOptions"), &WindowFocus::Step::name);
    EXPECT_TRUE(front != steps.end() && !front->ok) << "a closed window is not brought to the front";

    EXPECT_EQ(AXBridge::close(element(stubborn, app)), 0);
    EXPECT_TRUE(client.waitFor("ignored Stubborn"));
    EXPECT_TRUE(AXBridge::window(stubborn, app));
}

TEST_P(BridgeOnX11, WindowAndDesktopChangesReachTheStoreWithin200Milliseconds)
{
    const Pid app = launch();
    const WindowID first = open(app, "First");
    WindowStore store(std::make_unique<AXWindowTracker>(loop));
    store.start();
    ASSERT_TRUE(until([&] { return store.window(first).has_value(); }));
    auto& client = *clients.at(app);
    // Whether `holds` came true, and soon enough; the store's windows it
    // reads must still be there, so each step stops the test on failure.
    auto withinBudget = [&](const char* what, const std::function<bool()>& holds) {
        const auto start = std::chrono::steady_clock::now();
        if (!until(holds)) {
            ADD_FAILURE() << what << ": never reached the store";
            return false;
        }
        EXPECT_LE(std::chrono::steady_clock::now() - start, 200ms) << what;
        return true;
    };
    const WindowID second = open(app, "Second");
    ASSERT_TRUE(withinBudget("opening", [&] { return store.window(second).has_value(); }));
    retitle(second, "Renamed");
    ASSERT_TRUE(withinBudget("retitling", [&] { return store.window(second)->title == "Renamed"; }));
    ASSERT_TRUE(client.command("minimize Second"));
    ASSERT_TRUE(withinBudget("minimizing", [&] { return store.window(second)->isMinimized; }));
    ASSERT_TRUE(client.command("desktop First 1")); // the move alone, with nothing else changing
    ASSERT_TRUE(withinBudget("moving to another desktop", [&] { return store.window(first)->spaceIDs == std::vector<SpaceID>{2}; }));
    ASSERT_TRUE(client.command("destroy Second"));
    ASSERT_TRUE(withinBudget("closing", [&] { return !store.window(second).has_value(); }));
    EXPECT_TRUE(store.window(first));

    // Desktop switches and counts, with the display left as the other tests
    // expect it, also after a failure.
    std::shared_ptr<void> restore(nullptr, [&](void*) { type({"set_num_desktops", "4", "set_desktop", "0"}); });
    ASSERT_TRUE(type({"set_desktop", "2"}));
    withinBudget("switching the desktop", [&] { return store.visibleSpaceIDs() == std::set<SpaceID>{3}; });
    ASSERT_TRUE(type({"set_desktop", "0"}));
    withinBudget("switching back", [&] { return store.visibleSpaceIDs() == std::set<SpaceID>{1}; });
    ASSERT_TRUE(type({"set_num_desktops", "5"}));
    withinBudget("adding a desktop", [&] { return store.spaceNumbers().size() == 5; });
}

// The backends where the bridge does not reach them: window-list details,
// observers' notifications, hiding, the workspace and icons.
TEST_P(BridgeOnX11, TheWindowListNamesEachWindowsOwnerTitleLayerAndSize)
{
    const Pid app = launch();
    const WindowID mail = open(app, "Mail", 1, "pid=0");
    auto list = slots.windowListCopyWindowInfo(0, 0);
    ASSERT_TRUE(list);
    auto entry = std::find_if(list->begin(), list->end(), [&](const nlohmann::json& e) { return e["kCGWindowNumber"] == mail; });
    ASSERT_NE(entry, list->end());
    EXPECT_EQ((*entry)["kCGWindowOwnerPID"], app) << "without _NET_WM_PID, X-Resource names the owner";
    EXPECT_EQ((*entry)["kCGWindowName"], "Mail");
    EXPECT_EQ((*entry)["kCGWindowLayer"], 0);
    EXPECT_EQ((*entry)["kCGWindowBounds"]["Width"], 400);
}

TEST_P(BridgeOnX11, ObserversReportWindowAndProcessChanges)
{
    const Pid one = launch(), two = launch();
    auto observer = observe(one, {"AXWindowCreated", "AXUIElementDestroyed", "AXFocusedWindowChanged",
                                         "AXMainWindowChanged", "AXTitleChanged", "AXWindowMiniaturized",
                                         "AXWindowDeminiaturized", "AXApplicationHidden", "AXApplicationShown",
                                         "AXApplicationActivated"});
    ASSERT_TRUE(observer);

    const WindowID first = open(one, "First"), stranger = open(two, "Stranger"), second = open(one, "Second");
    ASSERT_TRUE(clients.at(one)->command("minimize Second"));
    EXPECT_TRUE(heardOf("AXWindowMiniaturized", second));
    ASSERT_EQ(unminimize(one, second), 0);
    EXPECT_TRUE(heardOf("AXWindowDeminiaturized", second));
    EXPECT_TRUE(heardOf("AXFocusedWindowChanged", second));
    EXPECT_TRUE(heardOf("AXMainWindowChanged", second));

    // The backend reads the active window when it handles the change, so wait
    // until it has seen the other process in front before switching back;
    // otherwise both changes can collapse into one read that sees no change.
    ASSERT_TRUE(activate(two, stranger));
    const auto before = static_cast<std::ptrdiff_t>(heard.size());
    ASSERT_TRUE(activate(one, first));
    EXPECT_TRUE(until([&] {
        return std::find(heard.begin() + before, heard.end(), std::pair(std::string("AXApplicationActivated"), WindowID{0})) != heard.end();
    }));

    ASSERT_TRUE(clients.at(one)->command("destroy Second"));
    EXPECT_TRUE(heardOf("AXUIElementDestroyed", second));
}

TEST_P(BridgeOnX11, AHideUndoneBeforeTheLoopLooksStillEndsShown)
{
    ASSERT_TRUE(prepareHide("Second"));
    // The loop is not run while the window manager iconifies the windows and
    // brings one back, so every read it makes afterwards sees it shown.
    ASSERT_TRUE(backends.workspace->hide(hider));
    ASSERT_TRUE(test::eventually([&] { return minimized(first) && minimized(second); }));
    ASSERT_EQ(unminimize(hider, first), 0);
    ASSERT_TRUE(test::eventually([&] { return !minimized(first); }));

    EXPECT_TRUE(until([&] { return heard.size() >= 2; }));
    EXPECT_EQ(heard, (Heard{{"AXApplicationHidden", 0}, {"AXApplicationShown", 0}}));
    EXPECT_FALSE(hidden());
}

TEST_P(BridgeOnX11, AHideIsReportedOnceDoneAndAtOnceWhenTheWindowManagerWillNotIconifySomeWindow)
{
    ASSERT_TRUE(prepareHide("Tools", "type=toolbar")); // openbox offers no minimize for it
    // The run loop's clock stands still, so the report cannot come from the
    // time limit on windows the window manager leaves alone.
    ASSERT_TRUE(backends.workspace->hide(hider));
    EXPECT_TRUE(until([&] { return !heard.empty(); }));
    EXPECT_EQ(heard, (Heard{{"AXApplicationHidden", 0}}));
    EXPECT_TRUE(minimized(first)) << "reported once the window manager has done it, not when it was asked";
    EXPECT_TRUE(hidden());

    ASSERT_EQ(unminimize(hider, first), 0);
    EXPECT_TRUE(until([&] { return heard.size() >= 2; }));
    EXPECT_EQ(heard, (Heard{{"AXApplicationHidden", 0}, {"AXApplicationShown", 0}}));
    EXPECT_FALSE(hidden());
}

TEST_P(BridgeOnX11, WorkspaceReadsKeyRepeatAndScreens)
{
    auto& workspace = *backends.workspace;
    // A rate of our own, so that what is read cannot be a default.
    std::shared_ptr<void> restore(nullptr, [&](void*) { test::runOn(session->display(), {"xset", "r", "rate"}); });
    ASSERT_TRUE(test::runOn(session->display(), {"xset", "r", "rate", "250", "30"}));
    EXPECT_EQ(workspace.keyRepeat(), (KeyRepeatSettings{250ms, 33ms})) << "1000 / 30 ms between repeats";
    const auto screen = workspace.screens().at(0);
    EXPECT_EQ(std::pair(screen.frame.width, screen.frame.height), std::pair(1280.0, 1024.0));
    EXPECT_LE(screen.visibleFrame.height, screen.frame.height);
}

TEST_P(BridgeOnX11, AFocusedWindowsIdTakenOverByANewClientIsANewActivation)
{
    auto& workspace = *backends.workspace;
    const Pid first = launch();
    const WindowID old = open(first, "Old");
    ASSERT_TRUE(activate(first, old));
    clients.erase(first);
    ASSERT_TRUE(test::pumpUntil(loop, [&] { return !workspace.runningApplication(first); }));

    // X hands a departed client's ids to the next one, and the window manager
    // may still name the departed window as the active one.
    const Pid second = launch();
    const WindowID reused = open(second, "New");
    EXPECT_EQ(reused, old) << "the new client should have been given the freed ids";
    EXPECT_TRUE(activate(second, reused));
    EXPECT_EQ(workspace.frontmostApplication()->pid, second);
}

TEST_P(BridgeOnX11, TheIconComesFromTheClient)
{
    const Pid one = launch();
    open(one, "Inbox");
    ASSERT_TRUE(clients.at(one)->command("icon Inbox 48 48"));
    auto icon = backends.workspace->icon(one).value_or(ApplicationIcon {});
    EXPECT_EQ(icon.width, 48);
    EXPECT_EQ(icon.argb.size(), 48u * 48u);
}

TEST_P(BridgeOnX11, AnApplicationIsNamedByItsDesktopEntryElseByItsWindowClass)
{
    const Pid one = launch();
    open(one, "Inbox", 1, "class=mailer,MailerWindow");
    const test::ScratchFolder data;
    std::filesystem::create_directories(data.path / "applications");
    std::ofstream(data.path / "applications" / "mail.desktop")
        << "[Desktop Entry]\nType=Application\nName=Mail\nStartupWMClass=MailerWindow\n";
    auto withEntry = std::make_shared<X11Workspace>(X11Desktop::create(connection, loop), std::vector{data.path});
    using Names = std::pair<std::optional<std::string>, std::optional<std::string>>;
    for (auto [workspace, names] : {std::pair(backends.workspace.get(), Names("MailerWindow", "mailer")),
                                    std::pair<WorkspaceBackend*, Names>(withEntry.get(), Names("Mail", "mail"))}) {
        auto app = workspace->runningApplication(one).value_or(RunningApplication {});
        EXPECT_EQ(Names(app.localizedName, app.bundleIdentifier), names);
    }
}

INSTANTIATE_TEST_SUITE_P(X11, BridgeOnX11, testing::Values(Backend::x11));

} // namespace
} // namespace vantrel
