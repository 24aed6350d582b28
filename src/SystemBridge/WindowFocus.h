// Bringing one window of one process to the front, across spaces, as a trace of steps.
#pragma once

#include "SystemBridge/AccessibilityBackend.h"
#include "SystemBridge/WindowServerBackend.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::WindowFocus {

/// How to focus; the defaults are what the switcher uses.
struct Options {
    /// Post the synthetic event record after making the process frontmost.
    bool postEventRecord = true;
    /// Post a second record (type 2) after the first.
    bool postMouseUp = false;
    /// Perform the accessibility raise action on the window.
    bool raise = true;
    /// Give the space the user left back its previous front process.
    bool repairOriginSpace = true;
    /// Mode of the set-front-process call.
    std::uint32_t frontProcessMode = 0x200;
    bool operator==(const Options&) const = default;
};

/// One performed step.
struct Step {
    /// "switchSpace", "unminimize", "psn", "setFrontProcessWithOptions",
    /// "postEventRecord", "raise" or "repairOriginSpace".
    std::string name;
    bool ok = false;
    std::string detail;
    /// Time the step's own operation took (monotonic).
    std::chrono::nanoseconds elapsed{0};
    bool operator==(const Step&) const = default;
};

/// The record of one focus attempt.
struct Trace {
    std::vector<Step> steps;
    /// The active space before anything was done.
    std::optional<SpaceID> originSpaceID;
    /// The active space afterwards; none when focusing stopped at "psn".
    std::optional<SpaceID> finalSpaceID;
    std::chrono::nanoseconds total{0};

    /// Every step succeeded, a failed "repairOriginSpace" aside.
    bool succeeded() const;
    /// "name=true name=false ..." for logs.
    std::string summary() const;
    bool operator==(const Trace&) const = default;
};

/// The 256-byte record posted to the process: zero but for 0xF8 at offset 4,
/// `type` at 8, 300000.0 at 32 and 40, 0x10 at 58 and the window id at 60
/// (all little-endian).
std::array<std::uint8_t, eventRecordSize> makeEventRecord(WindowID windowID, std::uint8_t type);

/// Both the front-process and the pid-to-process entry points exist.
bool isAvailable();

/// The frontmost process, looked up afresh on every call.
std::optional<Pid> frontmostPID();

/// Focuses the window: switches to its space if none of its spaces is
/// visible, un-minimizes it, makes its process frontmost with it, posts the
/// event record, raises it and repairs the space the user came from.
/// Synchronous; may run on any thread. `element` is the window's element when
/// known (it is looked up otherwise).
Trace focus(WindowID windowID, Pid pid, AXElement element = nullptr, const Options& options = Options());

} // namespace vantrel::WindowFocus
