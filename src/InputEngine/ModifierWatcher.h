// A passive, system-wide feed of the keyboard's modifier state, for
// release-to-select.
#pragma once

#include "InputEngine/InputBackend.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace vantrel {

class ModifierWatcher {
public:
    /// The device-independent part of the modifier flags (the `ModifierFlags`
    /// bits; the low 16 bits are device-specific).
    static constexpr std::uint64_t deviceIndependentMask = 0xFFFF0000;

    /// Starts watching on the current backend; null when there is none or it
    /// refuses the feed.
    static std::unique_ptr<ModifierWatcher> make();
    /// The same on the given backend.
    static std::unique_ptr<ModifierWatcher> make(InputBackend& backend);

    ModifierWatcher(const ModifierWatcher&) = delete;
    ModifierWatcher& operator=(const ModifierWatcher&) = delete;
    /// Stops the feed.
    ~ModifierWatcher();

    /// Called on the main thread with the new modifier set after every change;
    /// may be replaced at any time. While empty, changes are dropped.
    std::function<void(std::uint64_t flags)> onFlagsChanged;

private:
    ModifierWatcher();
    void report(std::uint64_t flags);

    // Shared with the feed's callback so that it does nothing once the
    // watcher is gone, even if the backend delivers late.
    std::shared_ptr<ModifierWatcher*> self_;
    std::unique_ptr<InputSubscription> feed_;
};

} // namespace vantrel
