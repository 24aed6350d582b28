// Test fixture: a simulated desktop installed as the bridge's backends, on virtual time.
#pragma once

#include "Platform/Sim/SimDesktop.h"
#include "Runtime/ManualRunLoop.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/SymbolicHotKeys.h"
#include "Support/Installed.h"

#include <gtest/gtest.h>

#include <optional>

namespace vantrel::test {

/// Installs an empty simulated desktop (and fresh in-memory defaults) before
/// each test and uninstalls it afterwards. Tests that change the desktop's
/// slots before first use call `reinstall()` so the bridge resolves afresh.
class SimBridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        desktop = Sim::SimDesktop::create(loop);
        defaults = std::make_shared<MemoryUserDefaults>();
        hotKeyDefaults.emplace(defaults);
        bridge.emplace(desktop->backends());
    }

    void reinstall() { SystemBridge::install(desktop->backends()); }

    ManualRunLoop loop;
    std::shared_ptr<Sim::SimDesktop> desktop;
    std::shared_ptr<MemoryUserDefaults> defaults;
    std::optional<InstalledHotKeyDefaults> hotKeyDefaults;
    std::optional<InstalledBridge> bridge;
};

} // namespace vantrel::test
