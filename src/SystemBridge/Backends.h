// Choosing the platform behind the bridge: the backend registry and the installed backends.
#pragma once

#include "SystemBridge/AccessibilityBackend.h"
#include "SystemBridge/WindowServerBackend.h"
#include "SystemBridge/WorkspaceBackend.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantrel {

class RunLoop;

/// The three interfaces of one platform. A missing pointer is a platform
/// without that interface: the bridge then answers "unavailable".
struct Backends {
    std::shared_ptr<WindowServerBackend> windowServer;
    std::shared_ptr<AccessibilityBackend> accessibility;
    std::shared_ptr<WorkspaceBackend> workspace;
};

/// What a backend factory gets.
struct BackendOptions {
    /// The main run loop, where notifications and observer callbacks arrive.
    /// Must outlive the backends.
    RunLoop* mainLoop = nullptr;
    /// Called once on the main loop when the platform goes away for good (the
    /// X server ended or closed the connection), with a message for the user.
    /// Nothing the backends answer afterwards is of use: a long-running
    /// program ends on it, with an error.
    std::function<void(const std::string& message)> onLost = {};
};

/// Creates a backend, or explains why it cannot (no display, ...).
using BackendFactory = std::function<std::variant<Backends, std::string>(const BackendOptions&)>;

namespace BackendRegistry {

/// Adds (or replaces) a named backend. Each platform library offers a
/// `register<Name>Backend()` function calling this (`registerSimBackend()`,
/// `registerX11Backend()`); programs call those they link before `make`.
void add(std::string name, BackendFactory factory);
/// The registered names, sorted.
std::vector<std::string> names();
/// Whether `name` is registered.
bool contains(std::string_view name);
/// Creates the named backend; an error text when it is not registered or its
/// factory failed.
std::variant<Backends, std::string> make(std::string_view name, const BackendOptions& options);
/// The backend used when none is asked for: "x11" when DISPLAY is set, else "sim".
std::string defaultName();

} // namespace BackendRegistry

namespace SystemBridge {

/// Makes `backends` the process-wide platform of the bridge. Every cached
/// entry point, the connection id and the prepared signal-time state are
/// forgotten, so the next use resolves against the new backends. Not meant to
/// race with bridge calls on other threads (install at start-up and in tests).
void install(Backends backends);
/// Installs no backends at all: every operation answers "unavailable".
void reset();
/// The installed backends (each pointer may be null).
Backends installed();

} // namespace SystemBridge

} // namespace vantrel
