// Typed accessibility operations: windows, attributes, actions, trust.
#pragma once

#include "SystemBridge/AXErrorCode.h"
#include "SystemBridge/AccessibilityBackend.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantrel {

/// A value or the accessibility error that prevented it.
template <class T>
struct AXResult {
    std::variant<T, AXErrorCode> value;

    bool ok() const { return value.index() == 0; }
    const T& get() const { return std::get<0>(value); }
    AXErrorCode error() const { return std::get<1>(value); }
};

namespace AXBridge {

/// The messaging timeout put on every application element, in seconds.
inline constexpr float defaultTimeout = 0.5f;

/// The process holds the accessibility permission.
bool isTrusted();
/// Asks (with the platform's prompt when `prompt`) and returns the current state.
bool requestTrust(bool prompt);
/// The element-to-window-id bridge is offered (decided once).
bool isWindowIDBridgeAvailable();

/// An application element carrying a messaging timeout of `timeout` seconds;
/// null when no accessibility backend is installed.
AXElement application(Pid pid, float timeout = defaultTimeout);
/// The window-server id of a window element; none when unavailable, on error, or 0.
std::optional<WindowID> windowID(const AXElement& element);

/// The raw value of an attribute, or the error code of the read.
AXResult<AXValue> attributeResult(const AXElement& element, std::string_view attribute);
/// An attribute as `T`; none on error or when the value is of another type.
template <class T>
std::optional<T> attribute(const AXElement& element, std::string_view attribute)
{
    auto result = attributeResult(element, attribute);
    if (!result.ok())
        return std::nullopt;
    if (auto value = std::get_if<T>(&result.get()))
        return *value;
    return std::nullopt;
}

/// "AXWindows" of an application element; a list of another type reads as empty.
AXResult<std::vector<AXElement>> windows(const AXElement& application);
/// "AXTitle".
std::optional<std::string> title(const AXElement& element);
/// "AXSubrole".
std::optional<std::string> subrole(const AXElement& element);
/// "AXMinimized"; false when unreadable.
bool isMinimized(const AXElement& element);
/// "AXFocusedWindow" of an application element, when it is an element.
std::optional<AXElement> focusedWindow(const AXElement& application);
/// Sets "AXMinimized".
AXError setMinimized(const AXElement& element, bool minimized);
/// Performs "AXRaise".
AXError raise(const AXElement& element);
/// Presses the window's "AXCloseButton"; attribute-unsupported (without
/// pressing anything) when it has none.
AXError close(const AXElement& element);
/// The window element of `pid` whose window-server id is `windowID`.
std::optional<AXElement> window(WindowID windowID, Pid pid);
/// The pid of an element; none on error.
std::optional<Pid> pid(const AXElement& element);

} // namespace AXBridge

} // namespace vantrel
