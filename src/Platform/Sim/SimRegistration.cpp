// Makes the simulated desktop selectable as backend "sim".
#include "Platform/Sim/SimDesktop.h"

namespace vantrel {

void registerSimBackend()
{
    BackendRegistry::add("sim", [](const BackendOptions& options) -> std::variant<Backends, std::string> {
        if (options.mainLoop == nullptr)
            return std::string("the simulated desktop needs a main run loop");
        return Sim::SimDesktop::sample(*options.mainLoop)->backends();
    });
}

} // namespace vantrel
