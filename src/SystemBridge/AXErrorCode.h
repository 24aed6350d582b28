// Accessibility error codes as values with a readable description.
#pragma once

#include "SystemBridge/AccessibilityBackend.h"

#include <string>

namespace vantrel {

/// The error of a failed accessibility call.
struct AXErrorCode {
    AXError code = AXErrors::success;

    /// "success", "invalidUIElement", ... or "AXError(<code>)" for codes the
    /// platform does not publish.
    std::string description() const;
    bool operator==(const AXErrorCode&) const = default;
};

} // namespace vantrel
