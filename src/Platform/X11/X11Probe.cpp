// Asks a display whether an EWMH window manager runs there, without xcb types.
#include "Platform/X11/X11Probe.h"

#include "Platform/X11/X11Clients.h"
#include "Runtime/ManualRunLoop.h"

namespace vantrel {

std::optional<std::string> probeWindowManager(const std::string& display)
{
    // Nothing is dispatched: the probe only reads properties.
    ManualRunLoop loop;
    auto connection = X11Connection::open(loop, display);
    if (!connection)
        return std::nullopt;
    auto state = readRootState(*connection);
    // openbox names its check window before it publishes the desktops; a
    // window manager is ready for us only when both are there.
    if (!state || !state->supportingWM || !state->currentDesktop || state->numberOfDesktops == 0)
        return std::nullopt;
    return state->windowManagerName;
}

} // namespace vantrel
