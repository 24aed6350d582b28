// vantrelctl symbols: which window-server entry points the chosen backend offers.
#include "BackendSelection.h"
#include "Command.h"

#if VANTRELCTL_HAS_SYSTEMBRIDGE
#include "Runtime/ManualRunLoop.h"
#include "SystemBridge/PrivateSymbols.h"
#endif

#include <iomanip>
#include <iostream>

namespace vantrelctl {
namespace {

int runSymbols(Args arguments)
{
#if VANTRELCTL_HAS_SYSTEMBRIDGE
    std::vector<std::string> args(arguments.begin(), arguments.end());
    vantrel::ManualRunLoop loop;
    if (auto error = installBackend(args, loop)) {
        std::cerr << "vantrelctl symbols: " << *error << "\n";
        return 1;
    }
    if (!args.empty()) {
        std::cerr << "vantrelctl symbols: unexpected argument '" << args.front() << "'\n";
        return 2;
    }
    for (const auto& entry : vantrel::PrivateSymbols::report())
        std::cout << std::left << std::setw(34) << entry.name << (entry.resolved ? "true" : "false") << "\n";
    return 0;
#else
    (void)arguments;
    std::cerr << "vantrelctl symbols: this build has no system bridge\n";
    return 1;
#endif
}

const Registration registration{{
    "symbols",
    "list the window-server entry points and whether the backend offers them",
    "usage: vantrelctl symbols [--backend sim|x11]\n"
    "Prints one row per entry point the system bridge uses, in a fixed order:\n"
    "its name and whether the backend offers it (true or false).\n"
    "The sim backend answers for a small built-in sample desktop.\n",
    runSymbols,
}};

} // namespace
} // namespace vantrelctl
