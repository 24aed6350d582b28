// The backend registry and the process-wide installed backends.
#include "SystemBridge/Backends.h"

#include "SystemBridge/BridgeState.h"
#include "SystemBridge/SymbolicHotKeys.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

namespace vantrel {

namespace {
struct Registry {
    std::mutex mutex;
    std::map<std::string, BackendFactory, std::less<>> factories;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}
} // namespace

namespace BackendRegistry {

void add(std::string name, BackendFactory factory)
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories.insert_or_assign(std::move(name), std::move(factory));
}

std::vector<std::string> names()
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<std::string> result;
    for (const auto& entry : r.factories)
        result.push_back(entry.first);
    return result;
}

bool contains(std::string_view name)
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.factories.find(name) != r.factories.end();
}

std::variant<Backends, std::string> make(std::string_view name, const BackendOptions& options)
{
    BackendFactory factory;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.factories.find(name);
        if (it == r.factories.end())
            return "backend '" + std::string(name) + "' is not available in this build";
        factory = it->second;
    }
    // The factory may register or look up other things; call it unlocked.
    return factory(options);
}

std::string defaultName()
{
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0' ? "x11" : "sim";
}

} // namespace BackendRegistry

namespace SystemBridge {

void install(Backends backends)
{
    detail::installState(std::make_shared<detail::BridgeState>(std::move(backends)));
    SymbolicHotKeys::prepareSignalRestore();
}

void reset()
{
    install(Backends{});
}

Backends installed()
{
    return detail::currentState()->backends;
}

} // namespace SystemBridge

} // namespace vantrel
