// The installed backends and the entry points resolved from them (internal to the bridge).
#pragma once

#include "SystemBridge/Backends.h"

#include <memory>
#include <mutex>
#include <optional>

namespace vantrel::detail {

/// One installation of backends. Each entry point is looked up on first use,
/// once, and kept (an absent one included) for the life of this state.
class BridgeState {
public:
    explicit BridgeState(Backends backends) : backends(std::move(backends)) {}

    const Backends backends;

    /// One once-flag per slot.
    struct SlotFlags {
        std::once_flag mainConnectionID, setSymbolicHotKeyEnabled, isSymbolicHotKeyEnabled,
            setFrontProcessWithOptions, postEventRecordTo, copyManagedDisplaySpaces, getActiveSpace,
            copySpacesForWindows, copyWindowsWithOptionsAndTags, managedDisplaySetCurrentSpace, getProcessForPID,
            windowListCopyWindowInfo;
    };
    SlotFlags flags;

    /// The slot `member` of the window server, resolved once under `flag`.
    template <class F>
    F slot(std::once_flag& flag, F WindowServerSlots::*member)
    {
        std::call_once(flag, [&] {
            if (backends.windowServer)
                resolved_.*member = backends.windowServer->slots().*member;
        });
        return resolved_.*member;
    }

    /// The front-process-of-space slot: the newer name, else the older one.
    std::function<CGError(ConnectionID, SpaceID, const ProcessSerialNumber&)> spaceSetFrontPSN();

    /// "CGSMainConnectionID()" when offered, computed once.
    std::optional<ConnectionID> connectionID();

    /// Whether "_AXUIElementGetWindow" is offered, decided once.
    bool getWindowOffered();

private:
    WindowServerSlots resolved_;
    std::once_flag psnFlag_;
    std::function<CGError(ConnectionID, SpaceID, const ProcessSerialNumber&)> psn_;
    std::once_flag connectionFlag_;
    std::optional<ConnectionID> connection_;
    std::once_flag getWindowFlag_;
    bool getWindow_ = false;
};

/// The state in force; never null (an empty one when nothing was installed).
std::shared_ptr<BridgeState> currentState();
/// Replaces the state in force.
void installState(std::shared_ptr<BridgeState> state);

} // namespace vantrel::detail
