// The accessibility interface on X11: applications are pids owning managed
// windows, their windows are the window manager's clients.
#include "Platform/X11/X11Accessibility.h"
#include "Platform/X11/X11Probe.h"

#include <algorithm>
#include <atomic>
#include <set>

namespace vantrel {

namespace {

/// Our element: an application, a window, or a window's close button.
class X11Element final : public AXElementObject {
public:
    enum class Kind { application, window, closeButton };
    X11Element(Kind kind, Pid pid, xcb_window_t window) : kind(kind), pid(pid), window(window) {}
    const Kind kind;
    const Pid pid;
    const xcb_window_t window;
    std::atomic<float> timeout{0};
};

const X11Element* asX11(const AXElement& element)
{
    return dynamic_cast<const X11Element*>(element.get());
}

AXElement makeWindow(Pid pid, xcb_window_t window)
{
    return std::make_shared<X11Element>(X11Element::Kind::window, pid, window);
}

constexpr std::string_view notificationNames[] = {
    "AXWindowCreated", "AXUIElementDestroyed", "AXFocusedWindowChanged", "AXMainWindowChanged", "AXTitleChanged",
    "AXWindowMiniaturized", "AXWindowDeminiaturized", "AXApplicationHidden", "AXApplicationShown",
    "AXApplicationActivated"};

/// The notifications (name, concerns the window rather than the application)
/// a desktop event stands for.
std::vector<std::pair<std::string_view, bool>> notificationsFor(X11DesktopEvent::Kind kind)
{
    using K = X11DesktopEvent::Kind;
    switch (kind) {
    case K::windowCreated: return {{"AXWindowCreated", true}};
    case K::windowDestroyed: return {{"AXUIElementDestroyed", true}};
    case K::focusChanged: return {{"AXFocusedWindowChanged", true}, {"AXMainWindowChanged", true}};
    case K::appActivated: return {{"AXApplicationActivated", false}};
    case K::titleChanged: return {{"AXTitleChanged", true}};
    case K::minimized: return {{"AXWindowMiniaturized", true}};
    case K::deminimized: return {{"AXWindowDeminiaturized", true}};
    case K::appHidden: return {{"AXApplicationHidden", false}};
    case K::appShown: return {{"AXApplicationShown", false}};
    default: return {};
    }
}

/// An observer of one pid. Registrations are kept per (window or 0 for the
/// application, name); delivery is a job on the attached loop that checks the
/// attachment is still the same one.
class X11Observer final : public AXObserver, public std::enable_shared_from_this<X11Observer> {
public:
    X11Observer(std::shared_ptr<X11Desktop> desktop, Pid pid, AXObserverCallback callback)
        : desktop_(std::move(desktop)), pid_(pid), callback_(std::move(callback))
    {
    }

    AXError addNotification(const AXElement& element, std::string_view notification) override
    {
        auto key = keyOf(element);
        if (!key)
            return AXErrors::illegalArgument;
        if (std::find(std::begin(notificationNames), std::end(notificationNames), notification) == std::end(notificationNames))
            return AXErrors::notificationUnsupported;
        std::lock_guard lock(mutex_);
        if (!registered_.emplace(*key, std::string(notification)).second)
            return AXErrors::notificationAlreadyRegistered;
        return AXErrors::success;
    }

    AXError removeNotification(const AXElement& element, std::string_view notification) override
    {
        auto key = keyOf(element);
        if (!key)
            return AXErrors::illegalArgument;
        std::lock_guard lock(mutex_);
        return registered_.erase({*key, std::string(notification)}) ? AXErrors::success : AXErrors::notificationNotRegistered;
    }

    void attach(RunLoop& loop) override
    {
        std::lock_guard lock(mutex_);
        const auto generation = ++generation_;
        std::weak_ptr<X11Observer> weak = weak_from_this();
        RunLoop* target = &loop;
        listening_ = desktop_->listen([weak, generation, target](const X11DesktopEvent& event) {
            if (auto self = weak.lock())
                self->deliver(event, generation, *target);
        });
    }

    void detach() override
    {
        std::shared_ptr<void> token;
        std::lock_guard lock(mutex_);
        ++generation_;
        token = std::move(listening_);
    }

private:
    std::optional<xcb_window_t> keyOf(const AXElement& element) const
    {
        const auto* x = asX11(element);
        if (!x || x->pid != pid_)
            return std::nullopt;
        return x->kind == X11Element::Kind::application ? xcb_window_t{0} : x->window;
    }

    void deliver(const X11DesktopEvent& event, std::uint64_t generation, RunLoop& loop)
    {
        if (event.pid != pid_)
            return;
        for (const auto& [name, aboutWindow] : notificationsFor(event.kind)) {
            {
                std::lock_guard lock(mutex_);
                const std::string key(name);
                const bool wanted = registered_.count({0, key}) || (aboutWindow && registered_.count({event.window, key}));
                if (!wanted || generation != generation_)
                    continue;
            }
            AXElement element = aboutWindow ? makeWindow(pid_, event.window)
                                            : std::make_shared<X11Element>(X11Element::Kind::application, pid_, 0);
            std::weak_ptr<X11Observer> weak = weak_from_this();
            loop.post([weak, generation, element, notification = std::string(name)] {
                auto self = weak.lock();
                if (!self)
                    return;
                {
                    std::lock_guard lock(self->mutex_);
                    if (generation != self->generation_)
                        return;
                }
                self->callback_(element, notification);
            });
        }
    }

    std::shared_ptr<X11Desktop> desktop_;
    const Pid pid_;
    AXObserverCallback callback_;
    std::mutex mutex_;
    std::set<std::pair<xcb_window_t, std::string>> registered_;
    std::uint64_t generation_ = 0;
    std::shared_ptr<void> listening_;
};

} // namespace

std::string X11Accessibility::subrole(const X11ClientInfo& client)
{
    if (client.isStandard())
        return "AXStandardWindow";
    if (client.isDialog())
        return "AXDialog";
    switch (client.type) {
    case X11WindowType::normal:
    case X11WindowType::utility:
    case X11WindowType::toolbar:
        return "AXFloatingWindow";
    case X11WindowType::dock:
    case X11WindowType::desktop:
    case X11WindowType::menu:
    case X11WindowType::splash:
    case X11WindowType::notification:
        return "AXSystemFloatingWindow";
    default:
        return "AXUnknown";
    }
}

bool X11Accessibility::isProcessTrusted()
{
    if (!desktop_->isOpen())
        return false;
    return supportsSwitching(desktop_->connection());
}

bool X11Accessibility::isProcessTrustedWithOptions(bool)
{
    // There is no prompt to show: the answer is checked afresh.
    return isProcessTrusted();
}

AXElement X11Accessibility::createApplication(Pid pid)
{
    return std::make_shared<X11Element>(X11Element::Kind::application, pid, 0);
}

AXError X11Accessibility::setMessagingTimeout(const AXElement& element, float seconds)
{
    auto* x = const_cast<X11Element*>(asX11(element));
    if (!x || seconds < 0)
        return AXErrors::illegalArgument;
    // Requests go to the X server, which answers for every client, so a hung
    // application cannot hold us; the value is kept for completeness.
    x->timeout = seconds;
    return AXErrors::success;
}

AXError X11Accessibility::copyAttributeValue(const AXElement& element, std::string_view attribute, AXValue& value)
{
    const auto* x = asX11(element);
    if (!x)
        return AXErrors::illegalArgument;
    if (!desktop_->isOpen())
        return AXErrors::cannotComplete;

    if (x->kind == X11Element::Kind::application) {
        if (attribute == "AXRole") {
            value = std::string("AXApplication");
            return AXErrors::success;
        }
        if (attribute != "AXWindows" && attribute != "AXFocusedWindow")
            return AXErrors::attributeUnsupported;
        auto snapshot = desktop_->snapshot();
        if (!snapshot)
            return AXErrors::cannotComplete;
        std::vector<AXElement> windows;
        for (const auto& client : snapshot->clients)
            if (client.pid == x->pid)
                windows.push_back(makeWindow(x->pid, client.id));
        if (windows.empty() && !isRunningProcess(x->pid))
            return AXErrors::invalidUIElement;
        if (attribute == "AXWindows") {
            value = std::move(windows);
            return AXErrors::success;
        }
        if (windows.empty())
            return AXErrors::noValue;
        if (auto last = desktop_->lastActiveWindow(x->pid)) {
            for (auto& window : windows)
                if (asX11(window)->window == *last) {
                    value = window;
                    return AXErrors::success;
                }
        }
        value = windows.front();
        return AXErrors::success;
    }

    if (x->kind == X11Element::Kind::closeButton) {
        if (attribute == "AXRole") {
            value = std::string("AXButton");
            return AXErrors::success;
        }
        return AXErrors::attributeUnsupported;
    }

    static const std::set<std::string_view> offered = {"AXRole", "AXTitle", "AXSubrole", "AXMinimized", "AXCloseButton"};
    if (!offered.count(attribute))
        return AXErrors::attributeUnsupported;
    auto read = desktop_->client(x->window);
    if (!read.info)
        return read.vanished ? AXErrors::invalidUIElement : AXErrors::cannotComplete;
    const auto& info = read.info;
    if (attribute == "AXRole")
        value = std::string("AXWindow");
    else if (attribute == "AXTitle")
        value = info->title;
    else if (attribute == "AXSubrole")
        value = subrole(*info);
    else if (attribute == "AXMinimized")
        value = info->minimized;
    else
        value = AXElement(std::make_shared<X11Element>(X11Element::Kind::closeButton, x->pid, x->window));
    return AXErrors::success;
}

AXError X11Accessibility::setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value)
{
    const auto* x = asX11(element);
    if (!x)
        return AXErrors::illegalArgument;
    if (!desktop_->isOpen())
        return AXErrors::cannotComplete;
    if (x->kind != X11Element::Kind::window || attribute != "AXMinimized")
        return AXErrors::attributeUnsupported;
    const auto* minimized = std::get_if<bool>(&value);
    if (!minimized)
        return AXErrors::illegalArgument;
    if (!desktop_->windowExists(x->window))
        return desktop_->isOpen() ? AXErrors::invalidUIElement : AXErrors::cannotComplete;
    if (*minimized)
        desktop_->iconify(x->window);
    else
        desktop_->activate(x->window);
    return AXErrors::success;
}

AXError X11Accessibility::performAction(const AXElement& element, std::string_view action)
{
    const auto* x = asX11(element);
    if (!x)
        return AXErrors::illegalArgument;
    if (!desktop_->isOpen())
        return AXErrors::cannotComplete;
    const bool raise = x->kind == X11Element::Kind::window && action == "AXRaise";
    const bool press = x->kind == X11Element::Kind::closeButton && action == "AXPress";
    if (!raise && !press)
        return AXErrors::actionUnsupported;
    if (!desktop_->windowExists(x->window))
        return desktop_->isOpen() ? AXErrors::invalidUIElement : AXErrors::cannotComplete;
    if (raise)
        desktop_->raise(x->window);
    else
        desktop_->close(x->window);
    return AXErrors::success;
}

AXError X11Accessibility::getPid(const AXElement& element, Pid& pid)
{
    const auto* x = asX11(element);
    if (!x)
        return AXErrors::illegalArgument;
    pid = x->pid;
    return AXErrors::success;
}

AXError X11Accessibility::getWindow(const AXElement& element, WindowID& windowID)
{
    const auto* x = asX11(element);
    if (!x || x->kind != X11Element::Kind::window)
        return AXErrors::illegalArgument;
    windowID = x->window;
    return AXErrors::success;
}

AXError X11Accessibility::createObserver(Pid pid, AXObserverCallback callback, std::shared_ptr<AXObserver>& observer)
{
    if (pid <= 0 || !callback)
        return AXErrors::illegalArgument;
    if (!desktop_->isOpen())
        return AXErrors::cannotComplete;
    observer = std::make_shared<X11Observer>(desktop_, pid, std::move(callback));
    return AXErrors::success;
}

} // namespace vantrel
