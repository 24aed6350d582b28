// The login session: whether the screen is locked.
#include "SystemBridge/Session.h"

#include "SystemBridge/BridgeState.h"

namespace vantrel::Session {

bool isScreenLocked()
{
    auto backends = detail::currentState()->backends;
    if (!backends.windowServer)
        return false;
    auto copy = backends.windowServer->slots().sessionCopyCurrentDictionary;
    if (!copy)
        return false;
    auto dictionary = copy();
    if (!dictionary || !dictionary->is_object())
        return false;
    auto it = dictionary->find("CGSSessionScreenIsLocked");
    if (it == dictionary->end())
        return false;
    if (it->is_boolean())
        return it->get<bool>();
    if (it->is_number_integer())
        return it->get<std::int64_t>() != 0;
    if (it->is_number_float())
        return it->get<double>() != 0.0;
    return false;
}

} // namespace vantrel::Session
