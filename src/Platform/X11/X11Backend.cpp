// Offers the X11 desktop to the system bridge as the backend "x11".
#include "Platform/X11/X11Backend.h"

#include "Platform/X11/X11Accessibility.h"
#include "Platform/X11/X11Connection.h"
#include "Platform/X11/X11Desktop.h"
#include "Platform/X11/X11WindowServer.h"
#include "Platform/X11/X11Workspace.h"

namespace vantrel {

std::variant<Backends, std::string> makeX11Backends(RunLoop& loop, const std::string& display, LostHandler onLost)
{
    auto connection = X11Connection::open(loop, display);
    if (!connection)
        return X11Connection::openFailure(display);
    return makeX11Backends(std::move(connection), loop, std::move(onLost));
}

Backends makeX11Backends(std::shared_ptr<X11Connection> connection, RunLoop& loop, LostHandler onLost)
{
    auto desktop = X11Desktop::create(std::move(connection), loop);
    if (onLost) {
        const auto message = "lost the connection to the X server '" + desktop->connection().display() + "'";
        desktop->onLost([onLost = std::move(onLost), message] { onLost(message); });
    }
    Backends backends;
    backends.windowServer = std::make_shared<X11WindowServer>(desktop);
    backends.accessibility = std::make_shared<X11Accessibility>(desktop);
    backends.workspace = std::make_shared<X11Workspace>(desktop);
    return backends;
}

void registerX11Backend()
{
    BackendRegistry::add("x11", [](const BackendOptions& options) -> std::variant<Backends, std::string> {
        if (!options.mainLoop)
            return std::string("the x11 backend needs the main run loop");
        return makeX11Backends(*options.mainLoop, {}, options.onLost);
    });
}

} // namespace vantrel
