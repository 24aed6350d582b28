// The three backends on a real openbox, where the bridge does not reach them:
// window-list details, observers, hiding, the workspace and icons.
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

/// The three backends on the shared session; the fixture's connection reads
/// the server directly.
class X11BackendTest : public X11ConnectionTest {
protected:
    void prepare() override
    {
        auto made = makeX11Backends(loop, session->display());
        ASSERT_TRUE(std::holds_alternative<Backends>(made)) << std::get<std::string>(made);
        backends = std::get<Backends>(made);
        slots = backends.windowServer->slots();
    }

    std::unique_ptr<TestClient> client()
    {
        auto started = TestClient::start(session->display());
        EXPECT_NE(started, nullptr);
        return started;
    }

    AXElement windowElement(Pid pid, WindowID id) { return test::windowElement(*backends.accessibility, pid, id); }

    bool minimized(xcb_window_t window)
    {
        auto read = readClients(*connection, std::vector<xcb_window_t>{window}).at(0);
        return read.info && read.info->minimized;
    }

    /// Starts `hider` with a window `first` and a second opened with
    /// `secondOptions`, and records its hidden and shown notifications from the
    /// moment the backend has reported both windows created: it must know the
    /// windows it is to hide.
    ::testing::AssertionResult prepareHide(const std::string& secondOptions)
    {
        hider = client();
        auto& ax = *backends.accessibility;
        if (!hider || ax.createObserver(hider->pid(), [this](const AXElement&, const std::string& name) {
                          hidingSeen.push_back(name);
                      }, hidingObserver) != 0)
            return ::testing::AssertionFailure() << "no client or no observer";
        auto app = ax.createApplication(hider->pid());
        for (auto name : {"AXWindowCreated", "AXApplicationHidden", "AXApplicationShown"})
            if (hidingObserver->addNotification(app, name) != 0)
                return ::testing::AssertionFailure() << name << " refused";
        hidingObserver->attach(loop);
        auto opened = hider->open("first", "title=First");
        auto other = hider->open("second", secondOptions);
        if (!opened || !other)
            return ::testing::AssertionFailure() << "the windows did not open";
        first = *opened;
        second = *other;
        if (!pumpUntil(loop, [&] { return std::count(hidingSeen.begin(), hidingSeen.end(), "AXWindowCreated") >= 2; }))
            return ::testing::AssertionFailure() << "the backend did not report both windows created";
        hidingSeen.clear();
        return ::testing::AssertionSuccess();
    }

    AXError unminimize(TestClient& owner, xcb_window_t window)
    {
        return backends.accessibility->setAttributeValue(windowElement(owner.pid(), window), "AXMinimized", false);
    }

    Backends backends;
    WindowServerSlots slots;

    // After the loop, so that they go first: the observer keeps the
    // backends' connection, whose event thread posts to the loop, alive.
    std::unique_ptr<TestClient> hider;
    std::shared_ptr<AXObserver> hidingObserver;
    std::vector<std::string> hidingSeen;
    xcb_window_t first = 0, second = 0;
};

// Listing, activation, close and observers' delivery are BridgeContract's;
// here only what the bridge does not read.
TEST_F(X11BackendTest, TheWindowListNamesOwnersAndAccessibilityRefusesWhatItLacks)
{
    auto one = client();
    ASSERT_TRUE(one);
    auto mail = one->open("mail", "pid=0 title=Mail");
    ASSERT_TRUE(mail);
    auto list = slots.windowListCopyWindowInfo(0, 0);
    ASSERT_TRUE(list);
    auto entry = std::find_if(list->begin(), list->end(), [&](const json& e) { return e["kCGWindowNumber"] == *mail; });
    ASSERT_NE(entry, list->end());
    EXPECT_EQ((*entry)["kCGWindowOwnerPID"], one->pid()) << "without _NET_WM_PID, X-Resource names the owner";
    EXPECT_EQ((*entry)["kCGWindowName"], "Mail");
    EXPECT_EQ((*entry)["kCGWindowLayer"], 0);
    EXPECT_EQ((*entry)["kCGWindowBounds"]["Width"], 400);

    auto element = windowElement(one->pid(), *mail);
    ASSERT_TRUE(element);
    AXValue position;
    EXPECT_EQ(backends.accessibility->copyAttributeValue(element, "AXPosition", position), AXErrors::attributeUnsupported);
    EXPECT_EQ(backends.accessibility->performAction(element, "AXZoom"), AXErrors::actionUnsupported);
    EXPECT_EQ(backends.workspace->runningApplication(one->pid()).value().activationPolicy, ActivationPolicy::regular);
}

TEST_F(X11BackendTest, ObserversReportWindowAndProcessChangesOfTheirProcessOnly)
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
    // The backend reads the active window when it handles the change, so wait
    // until it has seen the other process in front before switching back;
    // otherwise both changes can collapse into one read that sees no change.
    // A loaded window manager may drop a request; ask again, as a pager would.
    ProcessSerialNumber psn{0, static_cast<std::uint32_t>(two->pid())};
    bool inFront = false;
    for (int attempt = 0; attempt < 3 && !inFront; ++attempt) {
        ASSERT_EQ(slots.setFrontProcessWithOptions(psn, *stranger, 0), 0);
        inFront = pumpUntil(loop, [&] { return activated == two->pid(); }, std::chrono::seconds(3));
    }
    ASSERT_TRUE(inFront);
    const auto before = seen.size();
    bool reported = false;
    for (int attempt = 0; attempt < 3 && !reported; ++attempt) {
        ASSERT_EQ(slots.setFrontProcessWithOptions(psn, *first, 0), 0);
        reported = pumpUntil(loop, [&] {
            return std::find(seen.begin() + static_cast<std::ptrdiff_t>(before), seen.end(),
                             std::make_pair(std::string("AXApplicationActivated"), WindowID{0})) != seen.end();
        }, std::chrono::seconds(3));
    }
    EXPECT_TRUE(reported);

    ASSERT_TRUE(one->command("destroy second"));
    EXPECT_TRUE(saw("AXUIElementDestroyed", *second));
    for (const auto& [name, id] : seen)
        EXPECT_NE(id, *stranger) << name << " of another process";
}

TEST_F(X11BackendTest, AHideUndoneBeforeTheLoopLooksStillEndsShown)
{
    ASSERT_TRUE(prepareHide("title=Second"));
    // The loop is not run while the window manager iconifies the windows and
    // brings one back, so every read it makes afterwards sees it shown.
    ASSERT_TRUE(backends.workspace->hide(hider->pid()));
    ASSERT_TRUE(eventually([&] { return minimized(first) && minimized(second); }));
    ASSERT_EQ(unminimize(*hider, first), 0);
    ASSERT_TRUE(eventually([&] { return !minimized(first); }));

    EXPECT_TRUE(pumpUntil(loop, [&] { return hidingSeen.size() >= 2; }));
    EXPECT_EQ(hidingSeen, (std::vector<std::string>{"AXApplicationHidden", "AXApplicationShown"}));
    EXPECT_FALSE(backends.workspace->runningApplication(hider->pid())->isHidden);
}

TEST_F(X11BackendTest, AHideIsReportedOnceDoneAndAtOnceWhenTheWindowManagerWillNotIconifySomeWindow)
{
    ASSERT_TRUE(prepareHide("type=toolbar title=Tools")); // openbox offers no minimize for it
    // The run loop's clock stands still, so the report cannot come from the
    // time limit on windows the window manager leaves alone.
    ASSERT_TRUE(backends.workspace->hide(hider->pid()));
    EXPECT_TRUE(pumpUntil(loop, [&] { return !hidingSeen.empty(); }));
    EXPECT_EQ(hidingSeen, (std::vector<std::string>{"AXApplicationHidden"}));
    EXPECT_TRUE(minimized(first)) << "reported once the window manager has done it, not when it was asked";
    EXPECT_TRUE(backends.workspace->runningApplication(hider->pid())->isHidden);

    ASSERT_EQ(unminimize(*hider, first), 0);
    EXPECT_TRUE(pumpUntil(loop, [&] { return hidingSeen.size() >= 2; }));
    EXPECT_EQ(hidingSeen, (std::vector<std::string>{"AXApplicationHidden", "AXApplicationShown"}));
    EXPECT_FALSE(backends.workspace->runningApplication(hider->pid())->isHidden);
}

TEST_F(X11BackendTest, WorkspaceReportsLaunchesAndTerminationsKeyRepeatAndScreens)
{
    std::vector<std::pair<std::string, Pid>> seen;
    auto record = [&](std::string what) { return [&seen, what](const RunningApplication& app) { seen.emplace_back(what, app.pid); }; };
    auto& workspace = *backends.workspace;
    auto launched = workspace.observe(WorkspaceEvent::didLaunchApplication, loop, record("launch"));
    auto terminated = workspace.observe(WorkspaceEvent::didTerminateApplication, loop, record("terminate"));
    auto saw = [&](const std::string& what, Pid pid) {
        return pumpUntil(loop, [&] { return std::find(seen.begin(), seen.end(), std::make_pair(what, pid)) != seen.end(); });
    };

    auto one = client();
    ASSERT_TRUE(one);
    auto window = one->open("w", "class=calc,Calculator title=Sum");
    ASSERT_TRUE(window);
    EXPECT_TRUE(saw("launch", one->pid()));
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
    const auto screen = workspace.screens().at(0);
    EXPECT_EQ(std::pair(screen.frame.width, screen.frame.height), std::pair(1280.0, 1024.0));
    EXPECT_LE(screen.visibleFrame.height, screen.frame.height);
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
    auto workspace = std::make_shared<X11Workspace>(X11Desktop::create(connection, loop), std::vector<std::filesystem::path>{data});

    auto one = client();
    ASSERT_TRUE(one);
    auto window = one->open("w", "class=mailer,MailerWindow title=Inbox");
    ASSERT_TRUE(window);
    ASSERT_TRUE(one->command("icon w 48 48"));
    auto icon = backends.workspace->icon(one->pid()).value_or(ApplicationIcon {});
    EXPECT_EQ(icon.width, 48);
    EXPECT_EQ(icon.argb.size(), 48u * 48u);

    using Names = std::pair<std::optional<std::string>, std::optional<std::string>>;
    auto names = [&](WorkspaceBackend& from) {
        auto app = from.runningApplication(one->pid()).value_or(RunningApplication {});
        return Names {app.localizedName, app.bundleIdentifier};
    };
    EXPECT_EQ(names(*workspace), (Names {"Example Mail", "org.example.Mailer"}));
    std::filesystem::remove_all(data);
    // Without an entry: the WM_CLASS names.
    EXPECT_EQ(names(*backends.workspace), (Names {"MailerWindow", "mailer"}));
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
    for (auto [wanted, width] : {std::pair {32, 32}, {20, 32}, {64, 48}, {8, 16}})
        EXPECT_EQ(X11Workspace::bestIcon(data, wanted)->width, width) << wanted;

    // Truncated and oversized images are skipped; what precedes them counts.
    EXPECT_FALSE(X11Workspace::bestIcon(std::vector<std::uint32_t> {16, 16, 1, 2, 3}, 32));
    std::vector<std::uint32_t> oversized = {300, 1};
    oversized.resize(2 + 300, 7);
    oversized.insert(oversized.end(), {2, 2, 1, 1, 1, 1});
    EXPECT_EQ(X11Workspace::bestIcon(oversized, 32)->width, 2);
    EXPECT_FALSE(X11Workspace::bestIcon({}, 32));
}

} // namespace
} // namespace vantrel::test
