// The workspace on X11: running applications are the pids owning managed windows.
#include "Platform/X11/X11Workspace.h"

#include "Platform/X11/X11Properties.h"
#include "Platform/X11/X11Screens.h"

// xkb.h names a member `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <atomic>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace vantrel {

namespace {

/// Ends delivery when destroyed, jobs already queued included.
class X11Observation final : public Observation {
public:
    explicit X11Observation(std::shared_ptr<void> token) : token_(std::move(token)) {}
    ~X11Observation() override
    {
        alive->store(false);
        token_.reset();
    }
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);

private:
    std::shared_ptr<void> token_;
};

/// An observation that never fires.
class InertObservation final : public Observation {};

X11DesktopEvent::Kind kindOf(WorkspaceEvent event)
{
    switch (event) {
    case WorkspaceEvent::didLaunchApplication: return X11DesktopEvent::Kind::appLaunched;
    case WorkspaceEvent::didTerminateApplication: return X11DesktopEvent::Kind::appTerminated;
    case WorkspaceEvent::didActivateApplication: return X11DesktopEvent::Kind::appActivated;
    }
    return X11DesktopEvent::Kind::appLaunched;
}

double intersectStart(double a, double b) { return std::max(a, b); }
} // namespace

X11Workspace::X11Workspace(std::shared_ptr<X11Desktop> desktop, std::vector<std::filesystem::path> dataDirs)
    : desktop_(std::move(desktop)), dataDirs_(std::move(dataDirs))
{
}

const DesktopEntries& X11Workspace::entries()
{
    // Scanning the application directories costs milliseconds: once, lazily.
    std::call_once(entriesOnce_, [&] { entries_ = std::make_unique<DesktopEntries>(dataDirs_); });
    return *entries_;
}

RunningApplication X11Workspace::describe(const X11AppFacts& facts, bool regular) const
{
    RunningApplication app;
    app.pid = facts.pid;
    app.activationPolicy = regular ? ActivationPolicy::regular : ActivationPolicy::accessory;
    app.isHidden = desktop_->isHidden(facts.pid);
    if (auto entry = const_cast<X11Workspace*>(this)->entries().match(facts.instanceName, facts.className)) {
        app.localizedName = entry->name;
        app.bundleIdentifier = entry->id;
    } else {
        if (!facts.className.empty())
            app.localizedName = facts.className;
        else if (!facts.instanceName.empty())
            app.localizedName = facts.instanceName;
        if (!facts.instanceName.empty())
            app.bundleIdentifier = facts.instanceName;
    }
    return app;
}

std::vector<RunningApplication> X11Workspace::runningApplications()
{
    auto snapshot = desktop_->snapshot();
    if (!snapshot)
        return {};
    // Launch order as the desktop saw it; pids it has not seen yet follow.
    std::vector<Pid> order;
    for (const auto& app : desktop_->applications())
        order.push_back(app.pid);
    std::map<Pid, X11AppFacts> facts;
    std::map<Pid, bool> regular;
    for (const auto& client : snapshot->clients) {
        if (client.pid <= 0)
            continue;
        auto [it, added] = facts.try_emplace(client.pid, X11AppFacts{client.pid, client.instanceName, client.className, false});
        if (added && std::find(order.begin(), order.end(), client.pid) == order.end())
            order.push_back(client.pid);
        regular[client.pid] = regular[client.pid] || client.isStandard();
    }
    std::vector<RunningApplication> result;
    for (auto pid : order)
        if (auto it = facts.find(pid); it != facts.end())
            result.push_back(describe(it->second, regular[pid]));
    return result;
}

std::optional<RunningApplication> X11Workspace::runningApplication(Pid pid)
{
    for (auto& app : runningApplications())
        if (app.pid == pid)
            return app;
    return std::nullopt;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication()
{
    auto root = readRootState(desktop_->connection());
    if (!root || root->activeWindow == 0)
        return std::nullopt;
    auto read = desktop_->client(root->activeWindow);
    if (!read.info || read.info->pid <= 0)
        return std::nullopt;
    return runningApplication(read.info->pid);
}

std::optional<ApplicationIcon> X11Workspace::bestIcon(std::span<const std::uint32_t> data, std::uint32_t pixels)
{
    std::optional<ApplicationIcon> best;
    auto score = [&](const ApplicationIcon& icon) {
        const auto side = static_cast<std::uint32_t>(std::max(icon.width, icon.height));
        // Large enough beats too small; among large enough the smallest wins,
        // among too small the largest.
        return side >= pixels ? std::int64_t{1'000'000} - side : std::int64_t{side};
    };
    std::size_t i = 0;
    while (i + 2 <= data.size()) {
        const auto width = data[i], height = data[i + 1];
        if (width == 0 || height == 0)
            break;
        const std::uint64_t count = std::uint64_t{width} * height;
        if (count > data.size() - i - 2)
            break; // claims more pixels than the property holds
        if (width <= maxIconSide && height <= maxIconSide) {
            ApplicationIcon icon{static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                                 std::vector<std::uint32_t>(data.begin() + static_cast<std::ptrdiff_t>(i + 2),
                                                            data.begin() + static_cast<std::ptrdiff_t>(i + 2 + count))};
            if (!best || score(icon) > score(*best))
                best = std::move(icon);
        }
        i += 2 + count;
    }
    return best;
}

std::optional<ApplicationIcon> X11Workspace::icon(Pid pid) { return icon(pid, 32); }

std::optional<ApplicationIcon> X11Workspace::icon(Pid pid, std::uint32_t pixels)
{
    auto snapshot = desktop_->snapshot();
    if (!snapshot)
        return std::nullopt;
    auto& connection = desktop_->connection();
    const auto property = connection.atom("_NET_WM_ICON");
    for (const auto& client : snapshot->clients) {
        if (client.pid != pid)
            continue;
        connection.noteRoundTrip();
        auto reply = takeProperty(connection.raw(), requestProperty(connection.raw(), client.id, property, maxIconPropertyBytes));
        if (auto values = cardinals(reply.get(), {XCB_ATOM_CARDINAL}))
            if (auto best = bestIcon(*values, pixels))
                return best;
    }
    return std::nullopt;
}

bool X11Workspace::terminate(Pid pid)
{
    auto snapshot = desktop_->snapshot();
    if (!snapshot)
        return false;
    bool any = false;
    for (const auto& client : snapshot->clients) {
        if (client.pid == pid) {
            desktop_->close(client.id);
            any = true;
        }
    }
    return any;
}

bool X11Workspace::hide(Pid pid) { return desktop_->hide(pid); }

std::unique_ptr<Observation> X11Workspace::observe(WorkspaceEvent event, RunLoop& loop,
                                                   std::function<void(const RunningApplication&)> callback)
{
    const auto kind = kindOf(event);
    auto alive = std::make_shared<std::atomic<bool>>(true);
    RunLoop* target = &loop;
    std::weak_ptr<X11Workspace> weak = weak_from_this();
    auto token = desktop_->listen([weak, kind, alive, target, callback](const X11DesktopEvent& e) {
        auto self = weak.lock();
        if (e.kind != kind || !self)
            return;
        // Described now: a terminated application's windows are already gone.
        auto app = self->describe(e.app, e.app.hasStandardWindow);
        target->post([alive, callback, app] {
            if (alive->load())
                callback(app);
        });
    });
    auto observation = std::make_unique<X11Observation>(std::move(token));
    observation->alive = alive;
    return observation;
}

std::unique_ptr<Observation> X11Workspace::observeDistributed(std::string_view, RunLoop&, std::function<void()>)
{
    return std::make_unique<InertObservation>();
}

std::vector<Screen> X11Workspace::screens()
{
    auto& connection = desktop_->connection();
    auto monitors = readMonitors(connection);
    auto root = readRootState(connection);
    std::vector<Screen> result;
    for (const auto& m : monitors) {
        Screen screen;
        screen.identifier = m.name;
        screen.frame = {double(m.x), double(m.y), double(m.width), double(m.height)};
        screen.visibleFrame = screen.frame;
        if (root && root->workArea) {
            const auto& w = *root->workArea;
            const double x0 = intersectStart(screen.frame.x, w[0]), y0 = intersectStart(screen.frame.y, w[1]);
            const double x1 = std::min(screen.frame.x + screen.frame.width, double(w[0]) + w[2]);
            const double y1 = std::min(screen.frame.y + screen.frame.height, double(w[1]) + w[3]);
            if (x1 > x0 && y1 > y0)
                screen.visibleFrame = {x0, y0, x1 - x0, y1 - y0};
        }
        result.push_back(std::move(screen));
    }
    return result;
}

std::unique_ptr<Observation> X11Workspace::observeScreens(RunLoop& loop, std::function<void()> callback)
{
    return observeKind(X11DesktopEvent::Kind::screensChanged, loop, std::move(callback));
}

std::unique_ptr<Observation> X11Workspace::observeSpaces(RunLoop& loop, std::function<void()> callback)
{
    return observeKind(X11DesktopEvent::Kind::spacesChanged, loop, std::move(callback));
}

std::unique_ptr<Observation> X11Workspace::observeKind(X11DesktopEvent::Kind kind, RunLoop& loop,
                                                       std::function<void()> callback)
{
    auto alive = std::make_shared<std::atomic<bool>>(true);
    RunLoop* target = &loop;
    auto token = desktop_->listen([kind, alive, target, callback](const X11DesktopEvent& e) {
        if (e.kind != kind)
            return;
        target->post([alive, callback] {
            if (alive->load())
                callback();
        });
    });
    auto observation = std::make_unique<X11Observation>(std::move(token));
    observation->alive = alive;
    return observation;
}

KeyRepeatSettings X11Workspace::keyRepeat()
{
    KeyRepeatSettings settings;
    auto& connection = desktop_->connection();
    auto* c = connection.raw();
    if (!connection.isOpen())
        return settings;
    connection.noteRoundTrip();
    XcbPtr<xcb_xkb_use_extension_reply_t> use(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
    if (!use || !use->supported)
        return settings;
    connection.noteRoundTrip();
    XcbPtr<xcb_xkb_get_controls_reply_t> controls(
        xcb_xkb_get_controls_reply(c, xcb_xkb_get_controls(c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    if (!controls)
        return settings;
    if (controls->repeatDelay > 0)
        settings.initialDelay = std::chrono::milliseconds(controls->repeatDelay);
    if (controls->repeatInterval > 0)
        settings.interval = std::chrono::milliseconds(controls->repeatInterval);
    return settings;
}

bool X11Workspace::openURL(std::string_view url)
{
    if (url.empty())
        return false;
    std::string program = "xdg-open", argument(url);
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        return false;
    // Reaped in the background so no zombie is left behind.
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return true;
}

} // namespace vantrel
