// Guards for the process's input backend and hot keys: what a test found comes
// back when the guard goes, also when the test fails half-way. (Apart from the
// bridge's guards, which Qt's keywords keep out of Qt test sources.)
#pragma once

#include "InputEngine/HotKey.h"
#include "InputEngine/InputBackend.h"

#include <memory>

namespace vantrel::test {

/// Makes `backend` the process's input backend while it lives; the one
/// installed before comes back afterwards.
class InstalledInputBackend {
public:
    explicit InstalledInputBackend(std::shared_ptr<InputBackend> backend)
        : previous_(currentInputBackend())
    {
        setCurrentInputBackend(std::move(backend));
    }
    ~InstalledInputBackend() { setCurrentInputBackend(previous_); }
    InstalledInputBackend(const InstalledInputBackend&) = delete;
    InstalledInputBackend& operator=(const InstalledInputBackend&) = delete;

private:
    std::shared_ptr<InputBackend> previous_;
};

/// Unregisters every hot key still registered when it goes: the registry is
/// the process's, and each test leaves it as it found it. Declare it after
/// the input backend's guard.
class HotKeysUnregistered {
public:
    HotKeysUnregistered() = default;
    ~HotKeysUnregistered()
    {
        auto live = HotKey::registry();
        for (auto& [id, hotKey] : live)
            hotKey->unregister();
    }
    HotKeysUnregistered(const HotKeysUnregistered&) = delete;
    HotKeysUnregistered& operator=(const HotKeysUnregistered&) = delete;
};

} // namespace vantrel::test
