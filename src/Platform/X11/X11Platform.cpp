// Everything the application needs of one X display, over one connection, without xcb types.
#include "Platform/X11/X11Platform.h"

#include "Platform/X11/X11Backend.h"
#include "Platform/X11/X11Connection.h"
#include "Platform/X11/X11Input.h"

namespace vantrel {

namespace {

struct Held {
    std::shared_ptr<X11Connection> connection;
    X11Connection::Subscription lost;
};

} // namespace

std::variant<X11Platform, std::string> openX11Platform(RunLoop& loop, const std::string& display,
                                                       std::function<void()> onLost)
{
    auto connection = X11Connection::open(loop, display);
    if (!connection)
        return X11Connection::openFailure(display);
    auto held = std::make_shared<Held>();
    held->connection = connection;
    held->lost = connection->onLost(std::move(onLost));
    X11Platform platform;
    platform.backends = makeX11Backends(connection, loop);
    platform.input = X11InputBackend::make(connection);
    platform.keepAlive = std::move(held);
    return platform;
}

} // namespace vantrel
