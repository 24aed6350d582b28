// Guards for what a test installs in the bridge: the state it found comes
// back when the guard goes, also when the test fails half-way.
#pragma once

#include "SystemBridge/Backends.h"
#include "SystemBridge/SymbolicHotKeys.h"

#include <memory>

namespace vantrel::test {

/// Installs `backends` in the bridge while it lives; the bridge is reset
/// (no backends) afterwards.
class InstalledBridge {
public:
    explicit InstalledBridge(Backends backends) { SystemBridge::install(std::move(backends)); }
    ~InstalledBridge() { SystemBridge::reset(); }
    InstalledBridge(const InstalledBridge&) = delete;
    InstalledBridge& operator=(const InstalledBridge&) = delete;
};

/// Makes `defaults` the store the symbolic hot keys read while it lives; the
/// one before comes back afterwards.
class InstalledHotKeyDefaults {
public:
    explicit InstalledHotKeyDefaults(std::shared_ptr<UserDefaults> defaults)
        : previous_(SymbolicHotKeys::userDefaults())
    {
        SymbolicHotKeys::setUserDefaults(std::move(defaults));
    }
    ~InstalledHotKeyDefaults() { SymbolicHotKeys::setUserDefaults(previous_); }
    InstalledHotKeyDefaults(const InstalledHotKeyDefaults&) = delete;
    InstalledHotKeyDefaults& operator=(const InstalledHotKeyDefaults&) = delete;

private:
    std::shared_ptr<UserDefaults> previous_;
};

} // namespace vantrel::test
