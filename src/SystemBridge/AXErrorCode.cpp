// Accessibility error codes as values with a readable description.
#include "SystemBridge/AXErrorCode.h"

namespace vantrel {

std::string AXErrorCode::description() const
{
    switch (code) {
    case AXErrors::success: return "success";
    case AXErrors::failure: return "failure";
    case AXErrors::illegalArgument: return "illegalArgument";
    case AXErrors::invalidUIElement: return "invalidUIElement";
    case AXErrors::invalidUIElementObserver: return "invalidUIElementObserver";
    case AXErrors::cannotComplete: return "cannotComplete (timeout / hung app)";
    case AXErrors::attributeUnsupported: return "attributeUnsupported";
    case AXErrors::actionUnsupported: return "actionUnsupported";
    case AXErrors::notificationUnsupported: return "notificationUnsupported";
    case AXErrors::notImplemented: return "notImplemented";
    case AXErrors::notificationAlreadyRegistered: return "notificationAlreadyRegistered";
    case AXErrors::notificationNotRegistered: return "notificationNotRegistered";
    case AXErrors::apiDisabled: return "apiDisabled (no Accessibility permission)";
    case AXErrors::noValue: return "noValue";
    case AXErrors::parameterizedAttributeUnsupported: return "parameterizedAttributeUnsupported";
    case AXErrors::notEnoughPrecision: return "notEnoughPrecision";
    default: return "AXError(" + std::to_string(code) + ")";
    }
}

} // namespace vantrel
