// A window tracker for tests: the test publishes snapshots and focus reports.
#pragma once

#include "VantrelCore/WindowTracking.h"

#include <memory>
#include <utility>

namespace vantrel::test {

/// What the fake saw, kept apart from the fake so a test can still read it
/// after the store that owns the fake is gone.
struct FakeTrackingLog {
    int startCount = 0;
    int stopCount = 0;
    WindowTracking::ChangeHandler onChange;
    WindowTracking::FocusHandler onFocus;

    /// Delivers a snapshot the way the tracker would (no-op before start).
    void publish(TrackingSnapshot snapshot) const
    {
        if (onChange)
            onChange(std::move(snapshot));
    }
    /// Reports a focus change the way the tracker would (no-op before start).
    void focus(WindowID id) const
    {
        if (onFocus)
            onFocus(id);
    }
};

/// Keeps the callbacks in a shared log, even after stop (as a tracker whose
/// last delivery is still queued on the run loop would).
class FakeWindowTracking final : public WindowTracking {
public:
    explicit FakeWindowTracking(std::shared_ptr<FakeTrackingLog> log) : log_(std::move(log)) {}

    void start(ChangeHandler onChange, FocusHandler onFocus) override
    {
        ++log_->startCount;
        log_->onChange = std::move(onChange);
        log_->onFocus = std::move(onFocus);
    }
    void stop() override { ++log_->stopCount; }

private:
    std::shared_ptr<FakeTrackingLog> log_;
};

} // namespace vantrel::test
