// The process's input backend.
#include "InputEngine/InputBackend.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <mutex>

namespace vantrel {

namespace {
std::mutex backendMutex;
std::shared_ptr<InputBackend>& backendSlot()
{
    static std::shared_ptr<InputBackend> backend;
    return backend;
}
} // namespace

std::shared_ptr<InputBackend> currentInputBackend()
{
    std::lock_guard lock(backendMutex);
    return backendSlot();
}

void setCurrentInputBackend(std::shared_ptr<InputBackend> backend)
{
    std::weak_ptr<InputBackend> weak = backend;
    {
        std::lock_guard lock(backendMutex);
        backendSlot() = std::move(backend);
    }
    if (weak.expired()) {
        setKeyboardLayoutTranslatorFactory({});
        return;
    }
    setKeyboardLayoutTranslatorFactory([weak]() -> std::unique_ptr<KeyboardLayoutTranslator> {
        auto current = weak.lock();
        return current ? current->makeLayoutTranslator() : nullptr;
    });
}

} // namespace vantrel
