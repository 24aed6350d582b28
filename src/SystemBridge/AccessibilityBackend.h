// The accessibility interface of the platform: elements, attributes, actions, observers.
#pragma once

#include "Runtime/RunLoop.h"
#include "SystemBridge/WindowServerBackend.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantrel {

/// A platform accessibility error code (0 is success; see AXErrorCode).
using AXError = std::int32_t;

/// The platform's error codes, as the backends must report them.
namespace AXErrors {
inline constexpr AXError success = 0;
inline constexpr AXError failure = -25200;
inline constexpr AXError illegalArgument = -25201;
inline constexpr AXError invalidUIElement = -25202;
inline constexpr AXError invalidUIElementObserver = -25203;
inline constexpr AXError cannotComplete = -25204;
inline constexpr AXError attributeUnsupported = -25205;
inline constexpr AXError actionUnsupported = -25206;
inline constexpr AXError notificationUnsupported = -25207;
inline constexpr AXError notImplemented = -25208;
inline constexpr AXError notificationAlreadyRegistered = -25209;
inline constexpr AXError notificationNotRegistered = -25210;
inline constexpr AXError apiDisabled = -25211;
inline constexpr AXError noValue = -25212;
inline constexpr AXError parameterizedAttributeUnsupported = -25213;
inline constexpr AXError notEnoughPrecision = -25214;
} // namespace AXErrors

/// The backend's own representation of an element (an application, a window,
/// a button). The bridge never looks inside; backends downcast their own.
class AXElementObject {
public:
    virtual ~AXElementObject() = default;
};

/// An accessibility element: opaque and reference counted. Null means none.
using AXElement = std::shared_ptr<AXElementObject>;

/// A value whose type the bridge does not interpret (a point, a range...).
struct AXOpaqueValue {
    std::string typeName;
    bool operator==(const AXOpaqueValue&) const = default;
};

/// An attribute value. A list of elements is its own alternative, as the
/// bridge reads no other lists.
using AXValue = std::variant<bool, std::int64_t, double, std::string, AXElement, std::vector<AXElement>, AXOpaqueValue>;

/// Receives the notifications an observer was registered for: the element
/// they concern and the notification's name.
using AXObserverCallback = std::function<void(const AXElement& element, const std::string& notification)>;

/// An accessibility observer of one process.
class AXObserver {
public:
    virtual ~AXObserver() = default;
    /// Registers `notification` on `element` (AXObserverAddNotification).
    virtual AXError addNotification(const AXElement& element, std::string_view notification) = 0;
    /// Unregisters it (AXObserverRemoveNotification).
    virtual AXError removeNotification(const AXElement& element, std::string_view notification) = 0;
    /// Starts delivering callbacks as jobs on `loop` (the run-loop source added
    /// to the main run loop). `loop` must outlive the attachment. Notifications
    /// that happen while detached are dropped.
    virtual void attach(RunLoop& loop) = 0;
    /// Stops delivery; nothing is delivered afterwards, not even jobs already queued.
    virtual void detach() = 0;
};

/// The platform's accessibility API. Every call is synchronous and may be made
/// from any thread; a call on an element of a hung application costs at most
/// the messaging timeout put on that application's element and then returns
/// `AXErrors::cannotComplete`.
class AccessibilityBackend {
public:
    virtual ~AccessibilityBackend() = default;

    /// AXIsProcessTrusted.
    virtual bool isProcessTrusted() = 0;
    /// AXIsProcessTrustedWithOptions with "AXTrustedCheckOptionPrompt" → `prompt`.
    virtual bool isProcessTrustedWithOptions(bool prompt) = 0;

    /// AXUIElementCreateApplication: never null, even for a pid that does not
    /// run (calls on it then fail).
    virtual AXElement createApplication(Pid pid) = 0;
    /// AXUIElementSetMessagingTimeout, in seconds (0 restores the default).
    virtual AXError setMessagingTimeout(const AXElement& element, float seconds) = 0;
    /// AXUIElementCopyAttributeValue: fills `value` on success.
    virtual AXError copyAttributeValue(const AXElement& element, std::string_view attribute, AXValue& value) = 0;
    /// AXUIElementSetAttributeValue.
    virtual AXError setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value) = 0;
    /// AXUIElementPerformAction.
    virtual AXError performAction(const AXElement& element, std::string_view action) = 0;
    /// AXUIElementGetPid.
    virtual AXError getPid(const AXElement& element, Pid& pid) = 0;

    /// Whether the private element-to-window bridge ("_AXUIElementGetWindow")
    /// is offered.
    virtual bool offersGetWindow() = 0;
    /// "_AXUIElementGetWindow": the window-server id of a window element. The
    /// same window always maps to the same id.
    virtual AXError getWindow(const AXElement& element, WindowID& windowID) = 0;

    /// AXObserverCreate for `pid`; fills `observer` on success.
    virtual AXError createObserver(Pid pid, AXObserverCallback callback, std::shared_ptr<AXObserver>& observer) = 0;
};

} // namespace vantrel
