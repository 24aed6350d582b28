// The window server's entry points, each looked up once, and the connection id.
#include "SystemBridge/SkyLight.h"

#include "SystemBridge/BridgeState.h"

namespace vantrel::SkyLight {

using detail::currentState;

std::function<ConnectionID()> mainConnectionID()
{
    auto state = currentState();
    return state->slot(state->flags.mainConnectionID, &WindowServerSlots::mainConnectionID);
}

std::function<CGError(std::int32_t, bool)> setSymbolicHotKeyEnabled()
{
    auto state = currentState();
    return state->slot(state->flags.setSymbolicHotKeyEnabled, &WindowServerSlots::setSymbolicHotKeyEnabled);
}

std::function<bool(std::int32_t)> isSymbolicHotKeyEnabled()
{
    auto state = currentState();
    return state->slot(state->flags.isSymbolicHotKeyEnabled, &WindowServerSlots::isSymbolicHotKeyEnabled);
}

std::function<CGError(const ProcessSerialNumber&, WindowID, std::uint32_t)> setFrontProcessWithOptions()
{
    auto state = currentState();
    return state->slot(state->flags.setFrontProcessWithOptions, &WindowServerSlots::setFrontProcessWithOptions);
}

std::function<CGError(const ProcessSerialNumber&, std::span<const std::uint8_t, eventRecordSize>)> postEventRecordTo()
{
    auto state = currentState();
    return state->slot(state->flags.postEventRecordTo, &WindowServerSlots::postEventRecordTo);
}

std::function<std::optional<nlohmann::json>(ConnectionID)> copyManagedDisplaySpaces()
{
    auto state = currentState();
    return state->slot(state->flags.copyManagedDisplaySpaces, &WindowServerSlots::copyManagedDisplaySpaces);
}

std::function<SpaceID(ConnectionID)> getActiveSpace()
{
    auto state = currentState();
    return state->slot(state->flags.getActiveSpace, &WindowServerSlots::getActiveSpace);
}

std::function<std::optional<nlohmann::json>(ConnectionID, std::int32_t, const nlohmann::json&)> copySpacesForWindows()
{
    auto state = currentState();
    return state->slot(state->flags.copySpacesForWindows, &WindowServerSlots::copySpacesForWindows);
}

std::function<std::optional<nlohmann::json>(ConnectionID, std::int32_t, const nlohmann::json&, std::int32_t,
                                            std::int64_t&, std::int64_t&)>
copyWindowsWithOptionsAndTags()
{
    auto state = currentState();
    return state->slot(state->flags.copyWindowsWithOptionsAndTags, &WindowServerSlots::copyWindowsWithOptionsAndTags);
}

std::function<CGError(ConnectionID, SpaceID, const ProcessSerialNumber&)> spaceSetFrontPSN()
{
    return currentState()->spaceSetFrontPSN();
}

std::function<void(ConnectionID, const std::string&, SpaceID)> managedDisplaySetCurrentSpace()
{
    auto state = currentState();
    return state->slot(state->flags.managedDisplaySetCurrentSpace, &WindowServerSlots::managedDisplaySetCurrentSpace);
}

std::function<std::int32_t(Pid, ProcessSerialNumber&)> getProcessForPID()
{
    auto state = currentState();
    return state->slot(state->flags.getProcessForPID, &WindowServerSlots::getProcessForPID);
}

std::function<std::optional<nlohmann::json>(std::int32_t, WindowID)> windowListCopyWindowInfo()
{
    auto state = currentState();
    return state->slot(state->flags.windowListCopyWindowInfo, &WindowServerSlots::windowListCopyWindowInfo);
}

std::optional<ConnectionID> connectionID()
{
    return currentState()->connectionID();
}

} // namespace vantrel::SkyLight
