// Typed accessibility operations: windows, attributes, actions, trust.
#include "SystemBridge/AXBridge.h"

#include "SystemBridge/BridgeState.h"

namespace vantrel::AXBridge {

namespace {
std::shared_ptr<AccessibilityBackend> backend()
{
    return detail::currentState()->backends.accessibility;
}
} // namespace

bool isTrusted()
{
    auto ax = backend();
    return ax && ax->isProcessTrusted();
}

bool requestTrust(bool prompt)
{
    auto ax = backend();
    return ax && ax->isProcessTrustedWithOptions(prompt);
}

bool isWindowIDBridgeAvailable()
{
    return detail::currentState()->getWindowOffered();
}

AXElement application(Pid pid, float timeout)
{
    auto ax = backend();
    if (!ax)
        return nullptr;
    auto element = ax->createApplication(pid);
    if (element)
        ax->setMessagingTimeout(element, timeout);
    return element;
}

std::optional<WindowID> windowID(const AXElement& element)
{
    auto state = detail::currentState();
    if (!element || !state->getWindowOffered())
        return std::nullopt;
    WindowID id = 0;
    if (state->backends.accessibility->getWindow(element, id) != AXErrors::success || id == 0)
        return std::nullopt;
    return id;
}

AXResult<AXValue> attributeResult(const AXElement& element, std::string_view attribute)
{
    auto ax = backend();
    if (!ax)
        return {AXErrorCode{AXErrors::apiDisabled}};
    if (!element)
        return {AXErrorCode{AXErrors::illegalArgument}};
    AXValue value;
    AXError code = ax->copyAttributeValue(element, attribute, value);
    if (code != AXErrors::success)
        return {AXErrorCode{code}};
    return {std::move(value)};
}

AXResult<std::vector<AXElement>> windows(const AXElement& application)
{
    auto result = attributeResult(application, "AXWindows");
    if (!result.ok())
        return {result.error()};
    if (auto list = std::get_if<std::vector<AXElement>>(&result.get()))
        return {*list};
    return {std::vector<AXElement>{}};
}

std::optional<std::string> title(const AXElement& element)
{
    return attribute<std::string>(element, "AXTitle");
}

std::optional<std::string> subrole(const AXElement& element)
{
    return attribute<std::string>(element, "AXSubrole");
}

bool isMinimized(const AXElement& element)
{
    return attribute<bool>(element, "AXMinimized").value_or(false);
}

std::optional<AXElement> focusedWindow(const AXElement& application)
{
    auto element = attribute<AXElement>(application, "AXFocusedWindow");
    if (!element || !*element)
        return std::nullopt;
    return element;
}

AXError setMinimized(const AXElement& element, bool minimized)
{
    auto ax = backend();
    if (!ax)
        return AXErrors::apiDisabled;
    if (!element)
        return AXErrors::illegalArgument;
    return ax->setAttributeValue(element, "AXMinimized", AXValue{minimized});
}

AXError raise(const AXElement& element)
{
    auto ax = backend();
    if (!ax)
        return AXErrors::apiDisabled;
    if (!element)
        return AXErrors::illegalArgument;
    return ax->performAction(element, "AXRaise");
}

AXError close(const AXElement& element)
{
    auto ax = backend();
    auto button = attribute<AXElement>(element, "AXCloseButton");
    if (!ax || !button || !*button)
        return AXErrors::attributeUnsupported;
    return ax->performAction(*button, "AXPress");
}

std::optional<AXElement> window(WindowID windowID, Pid pid)
{
    auto app = application(pid, defaultTimeout);
    if (!app)
        return std::nullopt;
    auto list = windows(app);
    if (!list.ok())
        return std::nullopt;
    for (const auto& element : list.get())
        if (AXBridge::windowID(element) == windowID)
            return element;
    return std::nullopt;
}

std::optional<Pid> pid(const AXElement& element)
{
    auto ax = backend();
    if (!ax || !element)
        return std::nullopt;
    Pid value = 0;
    if (ax->getPid(element, value) != AXErrors::success)
        return std::nullopt;
    return value;
}

} // namespace vantrel::AXBridge
