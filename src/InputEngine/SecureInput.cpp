// Secure keyboard input on X11: the mode does not exist there.
#include "InputEngine/SecureInput.h"

namespace vantrel::SecureInput {

bool isEnabled()
{
    return false;
}

std::optional<std::int32_t> culpritPID()
{
    return std::nullopt;
}

} // namespace vantrel::SecureInput
