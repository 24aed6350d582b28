// Whether some program has switched on secure keyboard input, which would
// blind the Fast Search tap.
#pragma once

#include <cstdint>
#include <optional>

namespace vantrel::SecureInput {

/// Always false on X11: the X server has no secure-input mode that hides key
/// events from a client holding a grab (a program protects a password field by
/// grabbing the keyboard itself, and then our grabs fail visibly instead).
bool isEnabled();

/// The process that turned secure input on; always absent on X11 (see above).
std::optional<std::int32_t> culpritPID();

} // namespace vantrel::SecureInput
