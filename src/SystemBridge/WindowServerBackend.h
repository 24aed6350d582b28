// The window server as the bridge sees it: a table of optional entry points.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

/// A process id.
using Pid = std::int32_t;
/// A window-server window number.
using WindowID = std::uint32_t;
/// A space (virtual desktop) id.
using SpaceID = std::uint64_t;
/// A connection to the window server.
using ConnectionID = std::int32_t;
/// A window-server status: 0 is success.
using CGError = std::int32_t;

/// The 8-byte process serial number. The bridge never looks inside it: it is
/// zero-filled, handed to `getProcessForPID` to be filled in, then passed on.
struct ProcessSerialNumber {
    std::uint32_t highLongOfPSN = 0;
    std::uint32_t lowLongOfPSN = 0;
    bool operator==(const ProcessSerialNumber&) const = default;
};

/// Size of the synthetic event record given to `postEventRecordTo`.
inline constexpr std::size_t eventRecordSize = 256;

/// Restores one system shortcut from a signal handler: a plain function and its
/// context, so calling it takes no lock, allocates nothing and touches nothing
/// but memory prepared in advance. Returns 0 on success.
struct SignalSafeHotKeySetter {
    CGError (*set)(void* context, std::int32_t hotKeyID, bool enabled) noexcept = nullptr;
    void* context = nullptr;
    explicit operator bool() const { return set != nullptr; }
};

/// Every window-server entry point the bridge uses. An empty slot is an entry
/// point this backend does not offer; callers then give their "unavailable"
/// answer without calling anything. Property lists (arrays, dictionaries,
/// numbers, strings) are JSON values; an absent optional is a null result.
/// Slots may be called from any thread.
struct WindowServerSlots {
    /// "CGSMainConnectionID": this process's connection.
    std::function<ConnectionID()> mainConnectionID;
    /// "CGSSetSymbolicHotKeyEnabled": switches a system shortcut on or off for
    /// every application, at once.
    std::function<CGError(std::int32_t hotKeyID, bool enabled)> setSymbolicHotKeyEnabled;
    /// "CGSIsSymbolicHotKeyEnabled": current state of a system shortcut.
    std::function<bool(std::int32_t hotKeyID)> isSymbolicHotKeyEnabled;
    /// "_SLPSSetFrontProcessWithOptions": makes the process frontmost with
    /// `windowID` as its key window.
    std::function<CGError(const ProcessSerialNumber& psn, WindowID windowID, std::uint32_t mode)> setFrontProcessWithOptions;
    /// "SLPSPostEventRecordTo": delivers a 256-byte event record to the process.
    std::function<CGError(const ProcessSerialNumber& psn, std::span<const std::uint8_t, eventRecordSize> record)> postEventRecordTo;
    /// "CGSCopyManagedDisplaySpaces": an array with one dictionary per display
    /// ("Display Identifier", "Current Space", "Spaces"; spaces carry "id64",
    /// "ManagedSpaceID", "uuid", "type").
    std::function<std::optional<nlohmann::json>(ConnectionID)> copyManagedDisplaySpaces;
    /// "CGSGetActiveSpace": the space the user looks at; 0 for none.
    std::function<SpaceID(ConnectionID)> getActiveSpace;
    /// "CGSCopySpacesForWindows": an array of space-id numbers holding the
    /// windows of `windowIDs` (an array of numbers); mask 7 = every kind.
    std::function<std::optional<nlohmann::json>(ConnectionID, std::int32_t mask, const nlohmann::json& windowIDs)> copySpacesForWindows;
    /// "CGSCopyWindowsWithOptionsAndTags": an array of window-id numbers on the
    /// spaces of `spaceIDs`, in window-server order. `owner` 0 means all owners.
    std::function<std::optional<nlohmann::json>(ConnectionID, std::int32_t owner, const nlohmann::json& spaceIDs,
                                                std::int32_t options, std::int64_t& setTags, std::int64_t& clearTags)>
        copyWindowsWithOptionsAndTags;
    /// "SLSSpaceSetFrontPSN": the process becomes the front process of the
    /// space without switching to it.
    std::function<CGError(ConnectionID, SpaceID, const ProcessSerialNumber& psn)> spaceSetFrontPSN;
    /// "CGSSpaceSetFrontPSN": the older name of the same operation, used only
    /// when `spaceSetFrontPSN` is not offered.
    std::function<CGError(ConnectionID, SpaceID, const ProcessSerialNumber& psn)> spaceSetFrontPSNFallback;
    /// "CGSManagedDisplaySetCurrentSpace": the display switches to the space.
    std::function<void(ConnectionID, const std::string& displayIdentifier, SpaceID)> managedDisplaySetCurrentSpace;
    /// "GetProcessForPID": fills `psn`; non-zero when no such process runs.
    std::function<std::int32_t(Pid pid, ProcessSerialNumber& psn)> getProcessForPID;
    /// "GetFrontProcess": fills `psn` with the frontmost process; non-zero on failure.
    std::function<std::int32_t(ProcessSerialNumber& psn)> getFrontProcess;
    /// "GetProcessPID": the pid of `psn`; non-zero on failure.
    std::function<std::int32_t(const ProcessSerialNumber& psn, Pid& pid)> getProcessPID;
    /// "CGSessionCopyCurrentDictionary": the login session's dictionary
    /// ("CGSSessionScreenIsLocked" → number); absent for no session.
    std::function<std::optional<nlohmann::json>()> sessionCopyCurrentDictionary;
    /// "CGWindowListCopyWindowInfo": the window list as an array of
    /// dictionaries ("kCGWindowLayer", "kCGWindowNumber", "kCGWindowOwnerPID",
    /// "kCGWindowBounds" with "Width"/"Height", "kCGWindowName").
    std::function<std::optional<nlohmann::json>(std::int32_t options, WindowID relativeToWindow)> windowListCopyWindowInfo;
};

/// The window server of one platform.
class WindowServerBackend {
public:
    virtual ~WindowServerBackend() = default;

    /// The entry points offered right now. The bridge reads each slot once, on
    /// first use, and keeps what it found (an empty slot included) for as long
    /// as the backend stays installed.
    virtual WindowServerSlots slots() = 0;

    /// Whether a name with no slot of its own (such as
    /// "CGSManagedDisplayGetCurrentSpace") is exported; diagnostics only.
    virtual bool exportsSymbol(std::string_view name) { (void)name; return false; }

    /// A setter of system shortcuts that may be called from a signal handler,
    /// or an empty one when this backend has no such path (the shortcuts are
    /// then only restored by orderly exits and at the next launch).
    virtual SignalSafeHotKeySetter signalSafeHotKeySetter() { return {}; }
};

} // namespace vantrel
