// The three backends on a real openbox: spaces, the window list, activation,
// accessibility attributes and actions, observers, the workspace.
#include "Platform/X11/X11Accessibility.h"
#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Desktop.h"
#include "Platform/X11/X11WindowServer.h"
#include "Platform/X11/X11Workspace.h"
#include "Support/X11Session.h"
#include "X11/TestClient.h"
#include "X11/X11TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vantrel::test {
namespace {

using json = nlohmann::json;

class X11BackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VANTREL_REQUIRE_X11_SESSION(x11);
        session = x11;
        auto made = makeX11Backends(loop, x11->display());
        ASSERT_TRUE(std::holds_alternative<Backends>(made)) << std::get<std::string>(made);
        backends = std::get<Backends>(made);
        slots = backends.windowServer->slots();
        probe = X11Connection::open(probeLoop, x11->display());
        ASSERT_NE(probe, nullptr);
    }

    X11RootState root() { return readRootState(*probe).value_or(X11RootState{}); }

    std::unique_ptr<TestClient> client()
    {
        auto started = TestClient::start(session->display());
        EXPECT_NE(started, nullptr);
        return started;
    }

    std::vector<WindowID> windowsOn(SpaceID space)
    {
        std::int64_t set = 0, clear = 0;
        auto list = slots.copyWindowsWithOptionsAndTags(1, 0, json::array({space}), 2, set, clear);
        std::vector<WindowID> ids;
        if (list)
            for (const auto& id : *list)
                ids.push_back(id.get<WindowID>());
        return ids;
    }

    AXValue attribute(const AXElement& element, std::string_view name, AXError* error = nullptr)
    {
        AXValue value;
        auto code = backends.accessibility->copyAttributeValue(element, name, value);
        if (error)
            *error = code;
        return value;
    }

    std::vector<AXElement> windowsOf(Pid pid)
    {
        auto value = attribute(backends.accessibility->createApplication(pid), "AXWindows");
        auto* list = std::get_if<std::vector<AXElement>>(&value);
        return list ? *list : std::vector<AXElement>{};
    }

    AXElement windowElement(Pid pid, WindowID id)
    {
        for (auto& element : windowsOf(pid)) {
            WindowID found = 0;
            if (backends.accessibility->getWindow(element, found) == 0 && found == id)
                return element;
        }
        return nullptr;
    }

    /// Records the window-created, hidden and shown notifications of `pid`.
    std::shared_ptr<AXObserver> observeHiding(Pid pid, std::vector<std::string>& seen)
    {
        auto& ax = *backends.accessibility;
        std::shared_ptr<AXObserver> observer;
        EXPECT_EQ(ax.createObserver(pid, [&seen](const AXElement&, const std::string& name) { seen.push_back(name); },
                                    observer), 0);
        if (!observer)
            return nullptr;
        auto app = ax.createApplication(pid);
        for (auto name : {"AXWindowCreated", "AXApplicationHidden", "AXApplicationShown"})
            EXPECT_EQ(observer->addNotification(app, name), 0) << name;
        observer->attach(loop);
        return observer;
    }

    /// Pumps until the backend has reported `count` windows created.
    bool sawWindowsCreated(std::vector<std::string>& seen, std::size_t count)
    {
        return pumpUntil(loop, [&] {
            return static_cast<std::size_t>(std::count(seen.begin(), seen.end(), "AXWindowCreated")) >= count;
        });
    }

    static bool contains(const std::vector<WindowID>& ids, WindowID id)
    {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }

    X11Session* session = nullptr;
    ManualRunLoop loop;
    Backends backends;
    WindowServerSlots slots;
    ManualRunLoop probeLoop;
    std::shared_ptr<X11Connection> probe;
};

TEST_F(X11BackendTest, DesktopsAreSpacesOfTheFirstDisplayNumberedFromOne)
{
    ASSERT_TRUE(slots.mainConnectionID);
    EXPECT_NE(slots.mainConnectionID(), 0);
    auto displays = slots.copyManagedDisplaySpaces(1);
    ASSERT_TRUE(displays && displays->is_array() && !displays->empty());
    const auto& first = (*displays)[0];
    EXPECT_TRUE(first["Display Identifier"].is_string());
    ASSERT_EQ(first["Spaces"].size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(first["Spaces"][i]["id64"], i + 1);
        EXPECT_EQ(first["Spaces"][i]["type"], 0);
    }
    EXPECT_EQ(first["Current Space"]["id64"], 1);
    EXPECT_EQ(slots.getActiveSpace(1), 1u);
    EXPECT_FALSE(slots.spaceSetFrontPSN) << "X11 has no front process per desktop";
    EXPECT_FALSE(slots.spaceSetFrontPSNFallback);

    slots.managedDisplaySetCurrentSpace(1, first["Display Identifier"], 3);
    ASSERT_TRUE(eventually([&] { return root().currentDesktop == 2u; }));
    EXPECT_EQ(slots.getActiveSpace(1), 3u);
    EXPECT_EQ((*slots.copyManagedDisplaySpaces(1))[0]["Current Space"]["id64"], 3);
    slots.managedDisplaySetCurrentSpace(1, first["Display Identifier"], 1);
    ASSERT_TRUE(eventually([&] { return root().currentDesktop == 0u; }));
}

TEST_F(X11BackendTest, WindowsOfTwoProcessesOnTwoDesktopsWithPidsTitlesSubrolesAndSpaces)
{
    auto one = client();
    auto two = client();
    ASSERT_TRUE(one && two);
    auto editor = one->open("editor", "desktop=0 title=Editor");
    auto find = one->open("find", "desktop=0 transient=editor title=Find");
    auto mail = two->open("mail", "desktop=1 pid=0 title=Mail");
    auto panel = two->open("panel", "desktop=1 type=utility title=Panel");
    auto clock = two->open("clock", "desktop=all title=Clock");
    ASSERT_TRUE(editor && find && mail && panel && clock);

    auto onFirst = windowsOn(1);
    auto onSecond = windowsOn(2);
    EXPECT_TRUE(contains(onFirst, *editor) && contains(onFirst, *find) && contains(onFirst, *clock));
    EXPECT_FALSE(contains(onFirst, *mail));
    EXPECT_TRUE(contains(onSecond, *mail) && contains(onSecond, *panel) && contains(onSecond, *clock));
    EXPECT_EQ(*slots.copySpacesForWindows(1, 7, json::array({*mail})), json::array({2}));
    EXPECT_EQ(*slots.copySpacesForWindows(1, 7, json::array({*clock})), json::array({1, 2, 3, 4}));

    auto list = slots.windowListCopyWindowInfo(0, 0);
    ASSERT_TRUE(list);
    bool sawMail = false;
    for (const auto& entry : *list) {
        if (entry["kCGWindowNumber"] == *mail) {
            sawMail = true;
            EXPECT_EQ(entry["kCGWindowOwnerPID"], two->pid());
            EXPECT_EQ(entry["kCGWindowName"], "Mail");
            EXPECT_EQ(entry["kCGWindowLayer"], 0);
            EXPECT_EQ(entry["kCGWindowBounds"]["Width"], 400);
        }
    }
    EXPECT_TRUE(sawMail);

    auto& ax = *backends.accessibility;
    auto subroleOf = [&](Pid pid, WindowID id) {
        auto value = attribute(windowElement(pid, id), "AXSubrole");
        auto* text = std::get_if<std::string>(&value);
        return text ? *text : std::string("<none>");
    };
    EXPECT_EQ(subroleOf(one->pid(), *editor), "AXStandardWindow");
    EXPECT_EQ(subroleOf(one->pid(), *find), "AXDialog");
    EXPECT_EQ(subroleOf(two->pid(), *mail), "AXStandardWindow");
    EXPECT_EQ(subroleOf(two->pid(), *panel), "AXFloatingWindow");
    EXPECT_EQ(windowsOf(one->pid()).size(), 2u);
    EXPECT_EQ(windowsOf(two->pid()).size(), 3u);
    EXPECT_EQ(std::get<std::string>(attribute(windowElement(two->pid(), *mail), "AXTitle")), "Mail");
    Pid pid = 0;
    EXPECT_EQ(ax.getPid(windowElement(two->pid(), *mail), pid), 0);
    EXPECT_EQ(pid, two->pid());
    AXError error = 0;
    attribute(windowElement(one->pid(), *editor), "AXPosition", &error);
    EXPECT_EQ(error, AXErrors::attributeUnsupported);

    auto apps = backends.workspace->runningApplications();
    auto appOf = [&](Pid p) {
        auto it = std::find_if(apps.begin(), apps.end(), [&](const auto& a) { return a.pid == p; });
        return it == apps.end() ? std::optional<RunningApplication>{} : std::optional(*it);
    };
    ASSERT_TRUE(appOf(one->pid()) && appOf(two->pid()));
    EXPECT_EQ(appOf(one->pid())->localizedName, "TestClient");
    EXPECT_EQ(appOf(one->pid())->activationPolicy, ActivationPolicy::regular);
}

TEST_F(X11BackendTest, ActivatingAWindowOnAnotherDesktopSwitchesToItAndRestoresAMinimizedOne)
{
    auto one = client();
    ASSERT_TRUE(one);
    auto here = one->open("here", "desktop=0 title=Here");
    auto there = one->open("there", "desktop=2 title=There");
    ASSERT_TRUE(here && there);
    ProcessSerialNumber psn;
    ASSERT_EQ(slots.getProcessForPID(one->pid(), psn), 0);

    // openbox iconifies only windows of the current desktop: minimize first.
    auto element = windowElement(one->pid(), *here);
    ASSERT_TRUE(element);
    ASSERT_EQ(backends.accessibility->setAttributeValue(element, "AXMinimized", true), 0);
    ASSERT_TRUE(eventually([&] { return std::get<bool>(attribute(element, "AXMinimized")); }));

    ASSERT_EQ(slots.setFrontProcessWithOptions(psn, *there, 0x200), 0);
    ASSERT_TRUE(eventually([&] {
        auto state = root();
        return state.activeWindow == *there && state.currentDesktop == 2u;
    }));
    ProcessSerialNumber front;
    ASSERT_EQ(slots.getFrontProcess(front), 0);
    Pid frontPid = 0;
    ASSERT_EQ(slots.getProcessPID(front, frontPid), 0);
    EXPECT_EQ(frontPid, one->pid());

    // Un-minimizing a window of another desktop goes there and restores it.
    ASSERT_EQ(backends.accessibility->setAttributeValue(element, "AXMinimized", false), 0);
    ASSERT_TRUE(eventually([&] {
        auto state = root();
        return !std::get<bool>(attribute(element, "AXMinimized")) && state.activeWindow == *here && state.currentDesktop == 0u;
    }));

    ASSERT_TRUE(one->command("destroy there"));
    EXPECT_EQ(slots.setFrontProcessWithOptions(psn, *there, 0x200), x11ServerFailure);
    EXPECT_NE(slots.getProcessForPID(0x7FFFFFF0, psn), 0);
}

TEST_F(X11BackendTest, CloseAsksTheClientPolitelyAndVanishedWindowsAreInvalidElements)
{
    auto one = client();
    ASSERT_TRUE(one);
    auto doomed = one->open("doomed", "title=Doomed");
    auto stubborn = one->open("stubborn", "ignore-delete=1 title=Stubborn");
    ASSERT_TRUE(doomed && stubborn);
    auto& ax = *backends.accessibility;

    auto element = windowElement(one->pid(), *doomed);
    auto button = attribute(element, "AXCloseButton");
    ASSERT_TRUE(std::holds_alternative<AXElement>(button));
    ASSERT_EQ(ax.performAction(std::get<AXElement>(button), "AXPress"), 0);
    EXPECT_TRUE(one->waitFor("closed doomed"));
    ASSERT_TRUE(eventually([&] { return !contains(windowsOn(1), *doomed); }));

    // The element was read before the window went: now it is invalid.
    AXError error = 0;
    attribute(element, "AXTitle", &error);
    EXPECT_EQ(error, AXErrors::invalidUIElement);
    EXPECT_EQ(ax.performAction(element, "AXRaise"), AXErrors::invalidUIElement);
    EXPECT_EQ(ax.setAttributeValue(element, "AXMinimized", true), AXErrors::invalidUIElement);
    EXPECT_EQ(ax.performAction(std::get<AXElement>(button), "AXPress"), AXErrors::invalidUIElement);

    // A client that ignores the request keeps its window: nobody is killed.
    auto other = windowElement(one->pid(), *stubborn);
    ASSERT_EQ(ax.performAction(std::get<AXElement>(attribute(other, "AXCloseButton")), "AXPress"), 0);
    EXPECT_TRUE(one->waitFor("ignored stubborn"));
    EXPECT_TRUE(one->process().isRunning());
    EXPECT_TRUE(contains(windowsOn(1), *stubborn));
    EXPECT_EQ(ax.performAction(other, "AXZoom"), AXErrors::actionUnsupported);
}

TEST_F(X11BackendTest, ObserversReportTheTenNotificationsOfTheirProcessOnTheLoop)
{
    auto one = client();
    auto two = client();
    ASSERT_TRUE(one && two);
    auto& ax = *backends.accessibility;

    std::vector<std::pair<std::string, WindowID>> seen;
    std::shared_ptr<AXObserver> observer;
    ASSERT_EQ(ax.createObserver(one->pid(), [&](const AXElement& element, const std::string& name) {
        WindowID id = 0;
        ax.getWindow(element, id);
        seen.emplace_back(name, id);
    }, observer), 0);
    auto app = ax.createApplication(one->pid());
    for (auto name : {"AXWindowCreated", "AXUIElementDestroyed", "AXFocusedWindowChanged", "AXMainWindowChanged",
                      "AXTitleChanged", "AXWindowMiniaturized", "AXWindowDeminiaturized", "AXApplicationHidden",
                      "AXApplicationShown", "AXApplicationActivated"})
        ASSERT_EQ(observer->addNotification(app, name), 0) << name;
    EXPECT_EQ(observer->addNotification(app, "AXTitleChanged"), AXErrors::notificationAlreadyRegistered);
    EXPECT_EQ(observer->addNotification(app, "AXMoved"), AXErrors::notificationUnsupported);
    observer->attach(loop);
    auto saw = [&](const std::string& name, WindowID id) {
        return pumpUntil(loop, [&] {
            return std::find(seen.begin(), seen.end(), std::make_pair(name, id)) != seen.end();
        });
    };

    auto first = one->open("first", "title=First");
    auto stranger = two->open("stranger", "title=Stranger");
    ASSERT_TRUE(first && stranger);
    ASSERT_TRUE(saw("AXWindowCreated", *first));

    ASSERT_TRUE(one->command("title first Renamed"));
    EXPECT_TRUE(saw("AXTitleChanged", *first));
    ASSERT_TRUE(two->command("title stranger Renamed"));
    auto second = one->open("second", "title=Second");
    ASSERT_TRUE(second);
    EXPECT_TRUE(saw("AXWindowCreated", *second));
    ASSERT_TRUE(one->command("minimize second"));
    EXPECT_TRUE(saw("AXWindowMiniaturized", *second));
    ASSERT_EQ(ax.setAttributeValue(windowElement(one->pid(), *second), "AXMinimized", false), 0);
    EXPECT_TRUE(saw("AXWindowDeminiaturized", *second));
    EXPECT_TRUE(saw("AXFocusedWindowChanged", *second));
    EXPECT_TRUE(saw("AXMainWindowChanged", *second));

    Pid activated = one->pid(); // its window `second` was just reported focused
    auto activations = backends.workspace->observe(WorkspaceEvent::didActivateApplication, loop,
                                                   [&](const RunningApplication& app) { activated = app.pid; });
    ASSERT_TRUE(backends.workspace->hide(one->pid()));
    EXPECT_TRUE(saw("AXApplicationHidden", 0));
    // Reported once the window manager has done it, not when it was asked.
    for (auto id : {*first, *second})
        EXPECT_TRUE(readClients(*probe, std::vector<xcb_window_t>{id}).at(0).info->minimized);
    EXPECT_TRUE(backends.workspace->runningApplication(one->pid())->isHidden);
    ASSERT_EQ(ax.setAttributeValue(windowElement(one->pid(), *first), "AXMinimized", false), 0);
    EXPECT_TRUE(saw("AXApplicationShown", 0));
    EXPECT_FALSE(backends.workspace->runningApplication(one->pid())->isHidden);

    // The backend reads the active window when it handles the change, so wait
    // until it has seen the other process in front before switching back;
    // otherwise both changes can collapse into one read that sees no change.
    // `activated` follows the backend's view since before the hide, which
    // itself may have put the other process in front.
    ProcessSerialNumber psn{0, static_cast<std::uint32_t>(two->pid())};
    ASSERT_EQ(slots.setFrontProcessWithOptions(psn, *stranger, 0), 0);
    ASSERT_TRUE(pumpUntil(loop, [&] { return activated == two->pid(); }));
    const auto before = seen.size();
    ASSERT_EQ(slots.setFrontProcessWithOptions(psn, *first, 0), 0);
    EXPECT_TRUE(pumpUntil(loop, [&] {
        return std::find(seen.begin() + static_cast<std::ptrdiff_t>(before), seen.end(),
                         std::make_pair(std::string("AXApplicationActivated"), WindowID{0})) != seen.end();
    }));

    ASSERT_TRUE(one->command("destroy second"));
    EXPECT_TRUE(saw("AXUIElementDestroyed", *second));
    for (const auto& [name, id] : seen)
        EXPECT_NE(id, *stranger) << name << " of another process";

    // Detached: nothing more, not even what is already queued.
    const auto count = seen.size();
    ASSERT_TRUE(one->command("title first Again"));
    observer->detach();
    auto third = one->open("third", "title=Third");
    ASSERT_TRUE(third);
    ASSERT_TRUE(probe->sync());
    pumpUntil(loop, [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(seen.size(), count);
}

TEST_F(X11BackendTest, AHideUndoneBeforeTheLoopLooksStillEndsShown)
{
    auto one = client();
    ASSERT_TRUE(one);
    auto& ax = *backends.accessibility;
    std::vector<std::string> seen;
    auto observer = observeHiding(one->pid(), seen);
    ASSERT_TRUE(observer);
    auto first = one->open("first", "title=First");
    auto second = one->open("second", "title=Second");
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(sawWindowsCreated(seen, 2)) << "the backend must know the windows it is to hide";
    seen.clear();

    // The loop is not run while the window manager iconifies the windows and
    // brings one back, so every read it makes afterwards sees it shown.
    auto minimized = [&](xcb_window_t id) {
        auto read = readClients(*probe, std::vector<xcb_window_t>{id}).at(0);
        return read.info && read.info->minimized;
    };
    ASSERT_TRUE(backends.workspace->hide(one->pid()));
    ASSERT_TRUE(eventually([&] { return minimized(*first) && minimized(*second); }));
    ASSERT_EQ(ax.setAttributeValue(windowElement(one->pid(), *first), "AXMinimized", false), 0);
    ASSERT_TRUE(eventually([&] { return !minimized(*first); }));

    EXPECT_TRUE(pumpUntil(loop, [&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"AXApplicationHidden", "AXApplicationShown"}));
    EXPECT_FALSE(backends.workspace->runningApplication(one->pid())->isHidden);
}

TEST_F(X11BackendTest, AHideIsReportedAtOnceWhenTheWindowManagerWillNotIconifySomeWindow)
{
    auto one = client();
    ASSERT_TRUE(one);
    auto& ax = *backends.accessibility;
    std::vector<std::string> seen;
    auto observer = observeHiding(one->pid(), seen);
    ASSERT_TRUE(observer);
    auto main = one->open("main", "title=Main");
    auto toolbar = one->open("toolbar", "type=toolbar title=Tools"); // openbox offers no minimize for it
    ASSERT_TRUE(main && toolbar);
    ASSERT_TRUE(sawWindowsCreated(seen, 2)) << "the backend must know the windows it is to hide";
    seen.clear();
    auto minimized = [&](xcb_window_t id) {
        auto read = readClients(*probe, std::vector<xcb_window_t>{id}).at(0);
        return read.info && read.info->minimized;
    };

    // The run loop's clock stands still, so the report cannot come from the
    // time limit on windows the window manager leaves alone.
    ASSERT_TRUE(backends.workspace->hide(one->pid()));
    EXPECT_TRUE(pumpUntil(loop, [&] { return !seen.empty(); }));
    EXPECT_EQ(seen, (std::vector<std::string>{"AXApplicationHidden"}));
    EXPECT_TRUE(minimized(*main));
    EXPECT_TRUE(backends.workspace->runningApplication(one->pid())->isHidden);

    ASSERT_EQ(ax.setAttributeValue(windowElement(one->pid(), *main), "AXMinimized", false), 0);
    EXPECT_TRUE(pumpUntil(loop, [&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"AXApplicationHidden", "AXApplicationShown"}));
}

TEST_F(X11BackendTest, WorkspaceReportsLaunchesTerminationsAndActivations)
{
    std::vector<std::pair<std::string, Pid>> seen;
    auto record = [&](std::string what) { return [&seen, what](const RunningApplication& app) { seen.emplace_back(what, app.pid); }; };
    auto& workspace = *backends.workspace;
    auto launched = workspace.observe(WorkspaceEvent::didLaunchApplication, loop, record("launch"));
    auto terminated = workspace.observe(WorkspaceEvent::didTerminateApplication, loop, record("terminate"));
    auto activated = workspace.observe(WorkspaceEvent::didActivateApplication, loop, record("activate"));
    auto saw = [&](const std::string& what, Pid pid) {
        return pumpUntil(loop, [&] { return std::find(seen.begin(), seen.end(), std::make_pair(what, pid)) != seen.end(); });
    };

    auto one = client();
    ASSERT_TRUE(one);
    auto window = one->open("w", "class=calc,Calculator title=Sum");
    ASSERT_TRUE(window);
    EXPECT_TRUE(saw("launch", one->pid()));
    ProcessSerialNumber psn{0, static_cast<std::uint32_t>(one->pid())};
    ASSERT_EQ(slots.setFrontProcessWithOptions(psn, *window, 0), 0);
    EXPECT_TRUE(saw("activate", one->pid()));
    EXPECT_EQ(workspace.frontmostApplication()->pid, one->pid());
    EXPECT_TRUE(workspace.terminate(one->pid()));
    EXPECT_TRUE(one->waitFor("closed w"));
    EXPECT_TRUE(saw("terminate", one->pid()));
    EXPECT_FALSE(workspace.runningApplication(one->pid()));
    EXPECT_FALSE(workspace.terminate(one->pid()));

    launched.reset();
    auto again = one->open("again", "title=Again");
    ASSERT_TRUE(again);
    pumpUntil(loop, [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), std::make_pair(std::string("launch"), one->pid())), 1)
        << "an ended observation is not called";

    const auto repeat = workspace.keyRepeat();
    EXPECT_GT(repeat.initialDelay.count(), 0);
    EXPECT_GT(repeat.interval.count(), 0);
    auto screens = workspace.screens();
    ASSERT_FALSE(screens.empty());
    EXPECT_EQ(screens[0].frame.width, 1280);
    EXPECT_EQ(screens[0].frame.height, 1024);
    EXPECT_LE(screens[0].visibleFrame.height, screens[0].frame.height);
}

TEST_F(X11BackendTest, AFocusedWindowsIdTakenOverByANewClientIsANewActivation)
{
    std::vector<Pid> activated;
    auto& workspace = *backends.workspace;
    auto observation = workspace.observe(WorkspaceEvent::didActivateApplication, loop,
                                         [&](const RunningApplication& app) { activated.push_back(app.pid); });
    auto focus = [&](TestClient& owner, xcb_window_t window) {
        ProcessSerialNumber psn{0, static_cast<std::uint32_t>(owner.pid())};
        EXPECT_EQ(slots.setFrontProcessWithOptions(psn, window, 0), 0);
        return pumpUntil(loop, [&] { return !activated.empty() && activated.back() == owner.pid(); });
    };

    auto first = client();
    ASSERT_TRUE(first);
    auto old = first->open("old", "title=Old");
    ASSERT_TRUE(old);
    ASSERT_TRUE(focus(*first, *old));
    const Pid firstPid = first->pid();
    first.reset();
    ASSERT_TRUE(pumpUntil(loop, [&] { return !workspace.runningApplication(firstPid); }));

    // X hands a departed client's ids to the next one, and the window manager
    // may still name the departed window as the active one.
    auto second = client();
    ASSERT_TRUE(second);
    auto reused = second->open("new", "title=New");
    ASSERT_TRUE(reused);
    EXPECT_EQ(*reused, *old) << "the new client should have been given the freed ids";
    EXPECT_TRUE(focus(*second, *reused));
    EXPECT_EQ(workspace.frontmostApplication()->pid, second->pid());
}

TEST_F(X11BackendTest, IconsAndNamesComeFromTheClientAndItsDesktopEntry)
{
    auto data = std::filesystem::temp_directory_path() / ("vantrel-entries-" + std::to_string(::getpid()));
    std::filesystem::create_directories(data / "applications");
    std::ofstream(data / "applications" / "org.example.Mailer.desktop")
        << "[Desktop Entry]\nType=Application\nName=Example Mail\nStartupWMClass=MailerWindow\n";
    auto connection = X11Connection::open(loop, session->display());
    ASSERT_TRUE(connection);
    auto workspace = std::make_shared<X11Workspace>(X11Desktop::create(connection, loop), std::vector<std::filesystem::path>{data});

    auto one = client();
    ASSERT_TRUE(one);
    auto window = one->open("w", "class=mailer,MailerWindow title=Inbox");
    ASSERT_TRUE(window);
    ASSERT_TRUE(one->command("icon w 16 16"));
    ASSERT_TRUE(one->command("hostile w huge-icon"));
    EXPECT_FALSE(backends.workspace->icon(one->pid())) << "an icon claiming 65536² pixels is no icon";
    ASSERT_TRUE(one->command("icon w 48 48"));
    auto icon = backends.workspace->icon(one->pid());
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->width, 48);
    EXPECT_EQ(icon->argb.size(), 48u * 48u);

    auto app = workspace->runningApplication(one->pid());
    std::filesystem::remove_all(data);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->localizedName, "Example Mail");
    EXPECT_EQ(app->bundleIdentifier, "org.example.Mailer");
    // Without an entry: the WM_CLASS names.
    auto plain = backends.workspace->runningApplication(one->pid());
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->localizedName, "MailerWindow");
    EXPECT_EQ(plain->bundleIdentifier, "mailer");
}

TEST(DesktopEntries, OnlyVisibleApplicationEntriesMatchByWindowClassThenById)
{
    EXPECT_FALSE(DesktopEntries::parse("link", "[Desktop Entry]\nType=Link\nName=Site\n"));
    EXPECT_FALSE(DesktopEntries::parse("gone", "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n"));
    auto entry = DesktopEntries::parse("org.gnome.Nautilus",
                                       "# c\n[Desktop Entry]\nType=Application\nName=Files\n[Desktop Action x]\nName=Other\n");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Files");

    auto data = std::filesystem::temp_directory_path() / ("vantrel-match-" + std::to_string(::getpid()));
    std::filesystem::create_directories(data / "applications" / "sub");
    std::ofstream(data / "applications" / "org.gnome.Nautilus.desktop") << "[Desktop Entry]\nType=Application\nName=Files\n";
    std::ofstream(data / "applications" / "sub" / "term.desktop")
        << "[Desktop Entry]\nType=Application\nName=Terminal\nStartupWMClass=XTerm\n";
    DesktopEntries entries({data});
    std::filesystem::remove_all(data);
    EXPECT_EQ(entries.match("xterm", "XTerm")->id, "sub-term");
    EXPECT_EQ(entries.match("nautilus", "Nautilus")->name, "Files");
    EXPECT_EQ(entries.match("org.gnome.nautilus", "")->name, "Files");
    EXPECT_FALSE(entries.match("unknown", "Unknown"));
}

TEST(X11WorkspaceIcons, TheBestImageIsTheSmallestLargeEnoughElseTheLargest)
{
    std::vector<std::uint32_t> data = {16, 16};
    data.resize(2 + 256, 1);
    data.insert(data.end(), {48, 48});
    data.resize(data.size() + 48 * 48, 2);
    data.insert(data.end(), {32, 32});
    data.resize(data.size() + 32 * 32, 3);
    EXPECT_EQ(X11Workspace::bestIcon(data, 32)->width, 32);
    EXPECT_EQ(X11Workspace::bestIcon(data, 20)->width, 32);
    EXPECT_EQ(X11Workspace::bestIcon(data, 64)->width, 48);
    EXPECT_EQ(X11Workspace::bestIcon(data, 8)->width, 16);

    // Truncated and oversized images are skipped; what precedes them counts.
    std::vector<std::uint32_t> truncated = {16, 16, 1, 2, 3};
    EXPECT_FALSE(X11Workspace::bestIcon(truncated, 32));
    std::vector<std::uint32_t> oversized = {300, 1};
    oversized.resize(2 + 300, 7);
    oversized.insert(oversized.end(), {2, 2, 1, 1, 1, 1});
    EXPECT_EQ(X11Workspace::bestIcon(oversized, 32)->width, 2);
    EXPECT_FALSE(X11Workspace::bestIcon({}, 32));
}

} // namespace
} // namespace vantrel::test

namespace vantrel::test {
namespace {

TEST(X11BackendLoss, EverySlotAnswersItsUnavailableValueOnceTheServerIsGone)
{
    X11Session::Failure failure;
    auto session = X11Session::start(&failure);
    if (!session && failure.missing)
        GTEST_SKIP() << failure.reason;
    ASSERT_NE(session, nullptr) << failure.reason;
    auto client = TestClient::start(session->display());
    ASSERT_TRUE(client);
    auto window = client->open("w", "title=W");
    ASSERT_TRUE(window);
    ManualRunLoop loop;
    auto made = makeX11Backends(loop, session->display());
    ASSERT_TRUE(std::holds_alternative<Backends>(made));
    auto backends = std::get<Backends>(made);
    auto slots = backends.windowServer->slots();
    auto& ax = *backends.accessibility;
    ASSERT_TRUE(ax.isProcessTrusted());
    auto app = ax.createApplication(client->pid());
    AXValue windows;
    ASSERT_EQ(ax.copyAttributeValue(app, "AXWindows", windows), 0);
    auto element = std::get<std::vector<AXElement>>(windows).at(0);

    session->killServer();
    ASSERT_TRUE(eventually([&] { return slots.mainConnectionID() == 0; }));
    EXPECT_FALSE(slots.copyManagedDisplaySpaces(1));
    EXPECT_EQ(slots.getActiveSpace(1), 0u);
    EXPECT_FALSE(slots.copySpacesForWindows(1, 7, nlohmann::json::array({*window})));
    std::int64_t set = 0, clear = 0;
    EXPECT_FALSE(slots.copyWindowsWithOptionsAndTags(1, 0, nlohmann::json::array({1}), 2, set, clear));
    EXPECT_FALSE(slots.windowListCopyWindowInfo(0, 0));
    EXPECT_EQ(slots.setFrontProcessWithOptions({0, static_cast<std::uint32_t>(client->pid())}, *window, 0), x11ServerFailure);
    ProcessSerialNumber front;
    EXPECT_NE(slots.getFrontProcess(front), 0);
    slots.managedDisplaySetCurrentSpace(1, "screen", 2);

    EXPECT_FALSE(ax.isProcessTrusted());
    EXPECT_FALSE(ax.isProcessTrustedWithOptions(true));
    AXValue value;
    EXPECT_EQ(ax.copyAttributeValue(app, "AXWindows", value), AXErrors::cannotComplete);
    EXPECT_EQ(ax.copyAttributeValue(element, "AXTitle", value), AXErrors::cannotComplete);
    EXPECT_EQ(ax.performAction(element, "AXRaise"), AXErrors::cannotComplete);
    std::shared_ptr<AXObserver> observer;
    EXPECT_EQ(ax.createObserver(client->pid(), [](const AXElement&, const std::string&) {}, observer), AXErrors::cannotComplete);

    EXPECT_TRUE(backends.workspace->runningApplications().empty());
    EXPECT_FALSE(backends.workspace->frontmostApplication());
    EXPECT_TRUE(backends.workspace->screens().empty());
    EXPECT_EQ(backends.workspace->keyRepeat(), KeyRepeatSettings{});
    EXPECT_FALSE(backends.workspace->terminate(client->pid()));
    loop.runPending();
}

} // namespace
} // namespace vantrel::test
