// Diagnostics: which of the window server's private entry points the installed backend offers.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::PrivateSymbols {

/// Every private name the bridge uses, in report order.
inline constexpr std::array<std::string_view, 14> knownNames = {
    "_AXUIElementGetWindow",
    "GetProcessForPID",
    "CGSMainConnectionID",
    "CGSSetSymbolicHotKeyEnabled",
    "CGSIsSymbolicHotKeyEnabled",
    "_SLPSSetFrontProcessWithOptions",
    "SLPSPostEventRecordTo",
    "CGSCopyManagedDisplaySpaces",
    "CGSGetActiveSpace",
    "CGSManagedDisplayGetCurrentSpace",
    "CGSCopySpacesForWindows",
    "CGSCopyWindowsWithOptionsAndTags",
    "SLSSpaceSetFrontPSN",
    "CGSSpaceSetFrontPSN",
};

/// One row of the report.
struct Entry {
    std::string name;
    bool resolved = false;
    bool operator==(const Entry&) const = default;
};

/// Whether the installed backends offer `name` right now (uncached: unlike the
/// slots, this asks again every time).
bool isResolvable(std::string_view name);

/// One row per known name, in table order.
std::vector<Entry> report();

} // namespace vantrel::PrivateSymbols
