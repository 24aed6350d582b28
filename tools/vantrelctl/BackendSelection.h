// Choosing and installing the platform backend for a vantrelctl command (--backend sim|x11).
#pragma once

#include "Runtime/RunLoop.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrelctl {

/// Registers every backend linked into the tool, takes `--backend NAME` out of
/// `args` (default: x11 with a display, else sim), creates that backend with
/// `loop` as its main loop and installs it in the bridge. On failure returns
/// the message to print.
std::optional<std::string> installBackend(std::vector<std::string>& args, vantrel::RunLoop& loop);

} // namespace vantrelctl
