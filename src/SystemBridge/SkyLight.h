// The window server's entry points, each looked up once, and the connection id.
#pragma once

#include "SystemBridge/WindowServerBackend.h"

#include <functional>
#include <optional>

namespace vantrel::SkyLight {

// Each slot is read from the installed window-server backend on first use and
// kept, absent included, until other backends are installed. Callers test a
// slot for emptiness before calling it.

/// "CGSMainConnectionID".
std::function<ConnectionID()> mainConnectionID();
/// "CGSSetSymbolicHotKeyEnabled".
std::function<CGError(std::int32_t, bool)> setSymbolicHotKeyEnabled();
/// "CGSIsSymbolicHotKeyEnabled".
std::function<bool(std::int32_t)> isSymbolicHotKeyEnabled();
/// "_SLPSSetFrontProcessWithOptions".
std::function<CGError(const ProcessSerialNumber&, WindowID, std::uint32_t)> setFrontProcessWithOptions();
/// "SLPSPostEventRecordTo".
std::function<CGError(const ProcessSerialNumber&, std::span<const std::uint8_t, eventRecordSize>)> postEventRecordTo();
/// "CGSCopyManagedDisplaySpaces".
std::function<std::optional<nlohmann::json>(ConnectionID)> copyManagedDisplaySpaces();
/// "CGSGetActiveSpace".
std::function<SpaceID(ConnectionID)> getActiveSpace();
/// "CGSCopySpacesForWindows".
std::function<std::optional<nlohmann::json>(ConnectionID, std::int32_t, const nlohmann::json&)> copySpacesForWindows();
/// "CGSCopyWindowsWithOptionsAndTags".
std::function<std::optional<nlohmann::json>(ConnectionID, std::int32_t, const nlohmann::json&, std::int32_t,
                                            std::int64_t&, std::int64_t&)>
copyWindowsWithOptionsAndTags();
/// "SLSSpaceSetFrontPSN", or "CGSSpaceSetFrontPSN" when only that exists.
std::function<CGError(ConnectionID, SpaceID, const ProcessSerialNumber&)> spaceSetFrontPSN();
/// "CGSManagedDisplaySetCurrentSpace".
std::function<void(ConnectionID, const std::string&, SpaceID)> managedDisplaySetCurrentSpace();
/// "GetProcessForPID".
std::function<std::int32_t(Pid, ProcessSerialNumber&)> getProcessForPID();
/// "CGWindowListCopyWindowInfo" (public, but it lives in the same backend).
std::function<std::optional<nlohmann::json>(std::int32_t, WindowID)> windowListCopyWindowInfo();

/// This process's connection: `mainConnectionID()` called once, absent when
/// that slot is.
std::optional<ConnectionID> connectionID();

} // namespace vantrel::SkyLight
