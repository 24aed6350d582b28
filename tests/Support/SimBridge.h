// Test fixture: a simulated desktop installed as the bridge's backends, on virtual time.
#pragma once

#include "Platform/Sim/SimDesktop.h"
#include "Runtime/ManualRunLoop.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/SymbolicHotKeys.h"
#include "Support/Installed.h"

#include <gtest/gtest.h>

namespace vantrel::test {

/// Installs an empty simulated desktop (and fresh in-memory defaults) for
/// each test and uninstalls it afterwards. Tests that change a slot the
/// bridge has already resolved call `reinstall()` so it resolves afresh.
class SimBridgeTest : public ::testing::Test {
protected:
    void reinstall() { SystemBridge::install(desktop->backends()); }

    ManualRunLoop loop;
    std::shared_ptr<Sim::SimDesktop> desktop = Sim::SimDesktop::create(loop);
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    InstalledHotKeyDefaults hotKeyDefaults{defaults};
    InstalledBridge bridge{desktop->backends()};
};

} // namespace vantrel::test
