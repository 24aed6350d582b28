// Synthetic key presses through the XTEST extension, for tests, benchmarks and
// diagnostics that must drive the real keyboard path.
#pragma once

#include "Platform/X11/X11Connection.h"

#include <cstdint>

namespace vantrel::X11FakeInput {

/// True when the server has XTEST.
bool isAvailable(X11Connection& connection);

/// Presses or releases the key of a Carbon virtual key code as if typed on
/// the keyboard, and flushes. False when the key has no X key code.
bool key(X11Connection& connection, std::uint16_t carbonKeyCode, bool press);

} // namespace vantrel::X11FakeInput
