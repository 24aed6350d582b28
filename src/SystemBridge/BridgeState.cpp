// The installed backends and the entry points resolved from them.
#include "SystemBridge/BridgeState.h"

#include <atomic>

namespace vantrel::detail {

namespace {
std::mutex stateMutex;

std::shared_ptr<BridgeState>& stateSlot()
{
    static std::shared_ptr<BridgeState> state = std::make_shared<BridgeState>(Backends{});
    return state;
}
} // namespace

std::function<CGError(ConnectionID, SpaceID, const ProcessSerialNumber&)> BridgeState::spaceSetFrontPSN()
{
    std::call_once(psnFlag_, [&] {
        if (!backends.windowServer)
            return;
        auto table = backends.windowServer->slots();
        psn_ = table.spaceSetFrontPSN ? table.spaceSetFrontPSN : table.spaceSetFrontPSNFallback;
    });
    return psn_;
}

std::optional<ConnectionID> BridgeState::connectionID()
{
    std::call_once(connectionFlag_, [&] {
        if (auto main = slot(flags.mainConnectionID, &WindowServerSlots::mainConnectionID))
            connection_ = main();
    });
    return connection_;
}

bool BridgeState::getWindowOffered()
{
    std::call_once(getWindowFlag_, [&] { getWindow_ = backends.accessibility && backends.accessibility->offersGetWindow(); });
    return getWindow_;
}

std::shared_ptr<BridgeState> currentState()
{
    std::lock_guard lock(stateMutex);
    return stateSlot();
}

void installState(std::shared_ptr<BridgeState> state)
{
    std::lock_guard lock(stateMutex);
    stateSlot() = std::move(state);
}

} // namespace vantrel::detail
