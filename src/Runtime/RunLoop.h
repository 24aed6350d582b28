// The main run loop: where every stateful object of the application lives.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace vantrel {

/// Monotonic time as the run loops see it. The manual loop starts at the epoch
/// and only moves when a test advances it.
using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

/// The longest delay a setting may ask for. A setting holds any 64-bit count
/// of milliseconds, and most of those overflow a Duration.
inline constexpr Duration longestSettingDelay = std::chrono::hours(24);

/// A delay in milliseconds from a setting as a Duration: 0 when negative, at
/// most `longestSettingDelay`.
constexpr Duration settingDelay(std::int64_t milliseconds)
{
    constexpr auto longest = std::chrono::duration_cast<std::chrono::milliseconds>(longestSettingDelay).count();
    return std::chrono::milliseconds(std::clamp<std::int64_t>(milliseconds, 0, longest));
}

/// A scheduled timer. The run loop keeps it alive until it fires for the last
/// time or is invalidated; dropping the handle does not cancel it.
class Timer {
public:
    virtual ~Timer() = default;
    /// Stops the timer; it will not fire again. Safe to call twice and from the
    /// timer's own callback. Only on the thread the timer belongs to.
    virtual void invalidate() = 0;
    /// False once invalidated or after a one-shot timer fired.
    virtual bool isValid() const = 0;
};

/// The main thread's event loop.
class RunLoop {
public:
    virtual ~RunLoop() = default;

    /// Queues `job` to run on the loop's thread after everything already queued.
    /// Thread-safe; never runs `job` inline, even when called on the loop's thread.
    virtual void post(std::function<void()> job) = 0;

    /// Runs `fire` once after `delay` (zero or negative: on the next turn of the loop).
    virtual std::shared_ptr<Timer> schedule(Duration delay, std::function<void()> fire) = 0;

    /// Runs `fire` first after `delay`, then every `interval` (> 0) until invalidated.
    virtual std::shared_ptr<Timer> scheduleRepeating(Duration delay, Duration interval, std::function<void()> fire) = 0;

    /// Monotonic now.
    virtual TimePoint now() const = 0;

    /// True on the thread that runs this loop.
    virtual bool isLoopThread() const = 0;
};

} // namespace vantrel
