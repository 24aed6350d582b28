// A guard for the process's input backend: the one a test found comes back
// when the guard goes, also when the test fails half-way. (Apart from the
// bridge's guards, which Qt's keywords keep out of Qt test sources.)
#pragma once

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

} // namespace vantrel::test
