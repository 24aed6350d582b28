// Choosing and installing the platform backend for a vantrelctl command (--backend sim|x11).
#include "BackendSelection.h"

#include "Command.h"

#if VANTRELCTL_HAS_SYSTEMBRIDGE
#include "SystemBridge/Backends.h"
#endif
#if VANTRELCTL_HAS_PLATFORMSIM
#include "Platform/Sim/SimDesktop.h"
#endif
#if VANTRELCTL_HAS_PLATFORMX11 && __has_include("Platform/X11/X11Backend.h")
#include "Platform/X11/X11Backend.h"
#define VANTRELCTL_REGISTERS_X11 1
#endif

namespace vantrelctl {

std::optional<std::string> installBackend(std::vector<std::string>& args, vantrel::RunLoop& loop,
                                          std::function<void(const std::string& message)> onLost)
{
#if VANTRELCTL_HAS_SYSTEMBRIDGE
    using namespace vantrel;
#if VANTRELCTL_HAS_PLATFORMSIM
    registerSimBackend();
#endif
#if VANTRELCTL_REGISTERS_X11
    registerX11Backend();
#endif
    auto name = takeOption(args, "--backend").value_or(BackendRegistry::defaultName());
    if (name != "sim" && name != "x11")
        return "unknown backend '" + name + "' (expected sim or x11)";
    if (!BackendRegistry::contains(name))
        return "backend '" + name + "' is not available in this build";
    auto made = BackendRegistry::make(name, BackendOptions{&loop, std::move(onLost)});
    if (auto* error = std::get_if<std::string>(&made))
        return "backend '" + name + "' could not start: " + *error;
    SystemBridge::install(std::get<Backends>(std::move(made)));
    return std::nullopt;
#else
    (void)args;
    (void)loop;
    (void)onLost;
    return std::string("this build has no system bridge");
#endif
}

} // namespace vantrelctl
