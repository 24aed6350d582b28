// Choosing and installing the platform backend for a vantrelctl command (--backend sim|x11).
#pragma once

#include "Runtime/RunLoop.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrelctl {

/// Registers every backend linked into the tool, takes `--backend NAME` out of
/// `args` (default: x11 with a display, else sim), creates that backend with
/// `loop` as its main loop and installs it in the bridge. `onLost` is told,
/// on the loop, when the backend loses its desktop for good (the X server
/// went away). On failure returns the message to print.
std::optional<std::string> installBackend(std::vector<std::string>& args, vantrel::RunLoop& loop,
                                          std::function<void(const std::string& message)> onLost = {});

} // namespace vantrelctl
