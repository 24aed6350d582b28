// Asks a display whether an EWMH window manager runs there, without xcb types.
#include "Platform/X11/X11Probe.h"

#include "Platform/X11/X11Clients.h"
#include "Platform/X11/X11Properties.h"
#include "Runtime/ManualRunLoop.h"

#include <algorithm>

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

bool supportsSwitching(X11Connection& connection)
{
    auto state = readRootState(connection);
    if (!state || !state->supportingWM)
        return false;
    // EWMH: "_NET_SUPPORTED ... MUST be set by the Window Manager to indicate
    // which hints it supports". 1024 atoms is far more than any manager lists.
    auto* c = connection.raw();
    auto cookie = requestProperty(c, connection.root(), connection.atom("_NET_SUPPORTED"), 4 * 1024);
    connection.noteRoundTrip();
    auto reply = takeProperty(c, cookie);
    auto supported = cardinals(reply.get(), {XCB_ATOM_ATOM});
    if (!supported)
        return false;
    auto lists = [&](std::string_view name) { return std::ranges::count(*supported, connection.atom(name)) > 0; };
    return lists("_NET_CLIENT_LIST") && lists("_NET_ACTIVE_WINDOW");
}

std::shared_ptr<void> holdDisplay(const std::string& display)
{
    std::shared_ptr<xcb_connection_t> held(xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr),
                                           xcb_disconnect);
    if (xcb_connection_has_error(held.get()))
        return nullptr;
    return held;
}

} // namespace vantrel
