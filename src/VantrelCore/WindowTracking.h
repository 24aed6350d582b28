// The interface through which the window store drives a window tracker.
#pragma once

#include "VantrelCore/WindowInfo.h"

#include <functional>

namespace vantrel {

/// A window tracker. Both callbacks are invoked on the main run loop, from any
/// point after `start` until `stop`; the tracker keeps them.
class WindowTracking {
public:
    /// Receives each published snapshot.
    using ChangeHandler = std::function<void(TrackingSnapshot)>;
    /// Receives the number of a window that just became focused.
    using FocusHandler = std::function<void(WindowID)>;

    virtual ~WindowTracking() = default;

    /// Begins tracking; returns once the tracker is set up.
    virtual void start(ChangeHandler onChange, FocusHandler onFocus) = 0;
    /// Ends tracking and releases what the tracker holds; returns when done.
    virtual void stop() = 0;
};

} // namespace vantrel
