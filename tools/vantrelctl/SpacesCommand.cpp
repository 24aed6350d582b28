// vantrelctl spaces: the displays, their spaces and the visible and active ones, as JSON.
#include "BackendSelection.h"
#include "Command.h"

#if VANTRELCTL_HAS_SYSTEMBRIDGE
#include "Runtime/ManualRunLoop.h"
#include "SystemBridge/Spaces.h"

#include <nlohmann/json.hpp>
#endif

#include <iostream>

namespace vantrelctl {
namespace {

int runSpaces(Args arguments)
{
#if VANTRELCTL_HAS_SYSTEMBRIDGE
    using json = nlohmann::ordered_json;
    std::vector<std::string> args(arguments.begin(), arguments.end());
    vantrel::ManualRunLoop loop;
    if (auto error = installBackend(args, loop)) {
        std::cerr << "vantrelctl spaces: " << *error << "\n";
        return 1;
    }
    if (!args.empty()) {
        std::cerr << "vantrelctl spaces: unexpected argument '" << args.front() << "'\n";
        return 2;
    }
    json displays = json::array();
    for (const auto& display : vantrel::Spaces::displays()) {
        json spaces = json::array();
        for (const auto& space : display.spaces)
            spaces.push_back({{"id", space.id}, {"managedID", space.managedID}, {"uuid", space.uuid}, {"type", space.type}});
        displays.push_back(
            {{"displayUUID", display.displayUUID}, {"currentSpaceID", display.currentSpaceID}, {"spaces", std::move(spaces)}});
    }
    json visible = json::array();
    for (auto id : vantrel::Spaces::visibleSpaceIDs())
        visible.push_back(id);
    auto active = vantrel::Spaces::activeSpaceID();
    json result = {{"displays", std::move(displays)},
                   {"visibleSpaceIDs", std::move(visible)},
                   {"activeSpaceID", active ? json(*active) : json(nullptr)}};
    std::cout << result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return 0;
#else
    (void)arguments;
    std::cerr << "vantrelctl spaces: this build has no system bridge\n";
    return 1;
#endif
}

const Registration registration{{
    "spaces",
    "print the displays and their spaces as JSON",
    "usage: vantrelctl spaces [--backend sim|x11]\n"
    "Prints one JSON object: {\"displays\": [{\"displayUUID\", \"currentSpaceID\",\n"
    "\"spaces\": [{\"id\", \"managedID\", \"uuid\", \"type\"}]}], \"visibleSpaceIDs\": [...],\n"
    "\"activeSpaceID\": id or null}. The sim backend answers for a small built-in\n"
    "sample desktop.\n",
    runSpaces,
}};

} // namespace
} // namespace vantrelctl
