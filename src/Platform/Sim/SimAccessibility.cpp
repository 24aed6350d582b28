// The simulated desktop as an accessibility API: elements, attributes, actions, failures.
#include "Platform/Sim/SimDesktop.h"

#include "Platform/Sim/SimDesktopState.h"

namespace vantrel::Sim {

// ---- AccessibilityBackend ----

bool SimDesktop::isProcessTrusted()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXIsProcessTrusted");
    return state_->trusted;
}

bool SimDesktop::isProcessTrustedWithOptions(bool prompt)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back(std::string("AXIsProcessTrustedWithOptions prompt=") + (prompt ? "true" : "false"));
    return state_->trusted;
}

AXElement SimDesktop::createApplication(Pid pid)
{
    record("AXUIElementCreateApplication " + std::to_string(pid));
    return std::make_shared<Element>(Element::Kind::application, pid, 0, 0, 0.0f);
}

AXError SimDesktop::setMessagingTimeout(const AXElement& element, float seconds)
{
    auto* sim = dynamic_cast<Element*>(element.get());
    if (sim == nullptr || seconds < 0)
        return AXErrors::illegalArgument;
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXUIElementSetMessagingTimeout " + std::to_string(sim->pid));
    sim->timeout.store(seconds);
    return AXErrors::success;
}

AXError SimDesktop::checkElement(const AXElement& element, Element*& sim)
{
    // Called with the state locked.
    sim = dynamic_cast<Element*>(element.get());
    if (sim == nullptr)
        return AXErrors::illegalArgument;
    if (!state_->trusted)
        return AXErrors::apiDisabled;
    if (state_->app(sim->pid) == nullptr)
        return AXErrors::invalidUIElement;
    if (auto it = state_->axErrors.find(sim->pid); it != state_->axErrors.end())
        return it->second;
    if (state_->hung.count(sim->pid) > 0) {
        float timeout = sim->timeout.load();
        state_->waited += timeout > 0 ? std::chrono::duration_cast<Duration>(std::chrono::duration<double>(timeout))
                                      : defaultMessagingTimeout;
        return AXErrors::cannotComplete;
    }
    return AXErrors::success;
}

AXError SimDesktop::checkObserverTarget(const Element& element, std::string call)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back(std::move(call));
    if (!state_->trusted)
        return AXErrors::apiDisabled;
    if (state_->app(element.pid) == nullptr)
        return AXErrors::invalidUIElement;
    if (auto it = state_->axErrors.find(element.pid); it != state_->axErrors.end())
        return it->second;
    return AXErrors::success;
}

bool SimDesktop::isStale(const Element& element)
{
    if (element.kind == Element::Kind::application)
        return false;
    auto* window = state_->window(element.window);
    return window == nullptr || window->pid != element.pid || state_->generations[element.window] != element.generation;
}

AXElement SimDesktop::windowElement(const Window& window, float timeout, bool closeButton)
{
    auto kind = closeButton ? Element::Kind::closeButton : Element::Kind::window;
    return std::make_shared<Element>(kind, window.pid, window.id, state_->generations[window.id], timeout);
}

AXError SimDesktop::copyAttributeValue(const AXElement& element, std::string_view attribute, AXValue& value)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXUIElementCopyAttributeValue " + std::string(attribute));
    Element* sim = nullptr;
    if (AXError code = checkElement(element, sim); code != AXErrors::success)
        return code;
    if (isStale(*sim))
        return AXErrors::invalidUIElement;
    float timeout = sim->timeout.load();
    if (sim->kind == Element::Kind::application) {
        auto* app = state_->app(sim->pid);
        if (attribute == "AXWindows") {
            std::vector<AXElement> list;
            for (const auto& w : state_->windows)
                if (w.pid == sim->pid && w.accessible)
                    list.push_back(windowElement(w, timeout, false));
            value = std::move(list);
            return AXErrors::success;
        }
        if (attribute == "AXFocusedWindow") {
            auto it = state_->focusedWindow.find(sim->pid);
            auto* w = it == state_->focusedWindow.end() ? nullptr : state_->window(it->second);
            if (w == nullptr || !w->accessible)
                return AXErrors::noValue;
            value = windowElement(*w, timeout, false);
            return AXErrors::success;
        }
        if (attribute == "AXTitle") {
            if (!app->name)
                return AXErrors::noValue;
            value = *app->name;
            return AXErrors::success;
        }
        if (attribute == "AXRole") {
            value = std::string("AXApplication");
            return AXErrors::success;
        }
        if (attribute == "AXHidden") {
            value = app->hidden;
            return AXErrors::success;
        }
        return AXErrors::attributeUnsupported;
    }
    auto* w = state_->window(sim->window);
    if (sim->kind == Element::Kind::closeButton) {
        if (attribute == "AXRole") {
            value = std::string("AXButton");
            return AXErrors::success;
        }
        return AXErrors::attributeUnsupported;
    }
    if (attribute == "AXTitle") {
        value = w->title;
        return AXErrors::success;
    }
    if (attribute == "AXSubrole") {
        if (w->subrole.empty())
            return AXErrors::noValue;
        value = w->subrole;
        return AXErrors::success;
    }
    if (attribute == "AXMinimized") {
        value = w->minimized;
        return AXErrors::success;
    }
    if (attribute == "AXRole") {
        value = std::string("AXWindow");
        return AXErrors::success;
    }
    if (attribute == "AXCloseButton") {
        if (!w->hasCloseButton)
            return AXErrors::noValue;
        value = windowElement(*w, timeout, true);
        return AXErrors::success;
    }
    return AXErrors::attributeUnsupported;
}

AXError SimDesktop::setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXUIElementSetAttributeValue " + std::string(attribute));
    Element* sim = nullptr;
    if (AXError code = checkElement(element, sim); code != AXErrors::success)
        return code;
    if (isStale(*sim))
        return AXErrors::invalidUIElement;
    if (sim->kind != Element::Kind::window || attribute != "AXMinimized")
        return AXErrors::attributeUnsupported;
    auto* flag = std::get_if<bool>(&value);
    if (flag == nullptr)
        return AXErrors::illegalArgument;
    setMinimized(sim->window, *flag);
    return AXErrors::success;
}

AXError SimDesktop::performAction(const AXElement& element, std::string_view action)
{
    std::unique_lock lock(state_->mutex);
    state_->calls.push_back("AXUIElementPerformAction " + std::string(action));
    Element* sim = nullptr;
    if (AXError code = checkElement(element, sim); code != AXErrors::success)
        return code;
    if (auto& queue = state_->actionFailures[sim->pid]; !queue.empty()) {
        AXError code = queue.front();
        queue.pop_front();
        return code;
    }
    if (isStale(*sim))
        return AXErrors::invalidUIElement;
    if (sim->kind == Element::Kind::window && action == "AXRaise") {
        auto* w = state_->window(sim->window);
        auto moved = *w;
        std::erase_if(state_->windows, [&](const Window& other) { return other.id == moved.id; });
        state_->windows.insert(state_->windows.begin(), moved);
        state_->focusedWindow[moved.pid] = moved.id;
        emit(moved.pid, moved.id, "AXMainWindowChanged");
        if (state_->frontmost == moved.pid)
            emit(moved.pid, moved.id, "AXFocusedWindowChanged");
        return AXErrors::success;
    }
    if (sim->kind == Element::Kind::closeButton && action == "AXPress") {
        closeWindow(sim->window);
        return AXErrors::success;
    }
    return AXErrors::actionUnsupported;
}

AXError SimDesktop::getPid(const AXElement& element, Pid& pid)
{
    auto* sim = dynamic_cast<Element*>(element.get());
    if (sim == nullptr)
        return AXErrors::illegalArgument;
    record("AXUIElementGetPid");
    pid = sim->pid;
    return AXErrors::success;
}

bool SimDesktop::offersGetWindow()
{
    std::lock_guard lock(state_->mutex);
    return state_->offers("_AXUIElementGetWindow");
}

AXError SimDesktop::getWindow(const AXElement& element, WindowID& windowID)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("_AXUIElementGetWindow");
    Element* sim = nullptr;
    if (AXError code = checkElement(element, sim); code != AXErrors::success)
        return code;
    if (sim->kind != Element::Kind::window)
        return AXErrors::illegalArgument;
    if (isStale(*sim))
        return AXErrors::invalidUIElement;
    windowID = sim->window;
    return AXErrors::success;
}

AXError SimDesktop::createObserver(Pid pid, AXObserverCallback callback, std::shared_ptr<AXObserver>& observer)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("AXObserverCreate " + std::to_string(pid));
    if (pid <= 0 || !callback)
        return AXErrors::illegalArgument;
    if (auto it = state_->axErrors.find(pid); it != state_->axErrors.end())
        return it->second;
    auto created = std::make_shared<Observer>(weak_from_this(), pid, std::move(callback));
    state_->observers.push_back(created);
    observer = created;
    return AXErrors::success;
}

} // namespace vantrel::Sim
