// A run loop on virtual time for tests: nothing runs until the test says so.
#pragma once

#include "Runtime/RunLoop.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace vantrel {

/// Posted jobs and timers run only from `runPending`, `advance` and
/// `runUntilIdle`, on the calling thread, in order of due time and then of
/// scheduling. `post` may be called from any thread.
class ManualRunLoop final : public RunLoop {
public:
    ManualRunLoop();
    ~ManualRunLoop() override;

    void post(std::function<void()> job) override;
    std::shared_ptr<Timer> schedule(Duration delay, std::function<void()> fire) override;
    std::shared_ptr<Timer> scheduleRepeating(Duration delay, Duration interval, std::function<void()> fire) override;
    TimePoint now() const override;
    bool isLoopThread() const override;

    /// Runs every job and timer due at the current time, including those they
    /// queue for the current time. Returns how many ran.
    std::size_t runPending();

    /// Moves the clock forward by `by`, stopping at each due timer to run it (so
    /// `now()` inside a timer is its due time), then runs what is due at the end.
    void advance(Duration by);

    /// Advances to each next due timer until nothing is scheduled or `limit` of
    /// virtual time has passed. Returns false when it stopped at the limit.
    bool runUntilIdle(Duration limit = std::chrono::hours(1));


    /// Time of the earliest waiting job or timer, if any.
    std::optional<TimePoint> nextDue() const;

private:
    struct Entry;
    class ManualTimer;

    std::shared_ptr<Timer> add(TimePoint due, Duration interval, std::function<void()> fire);
    bool runOne(TimePoint upTo);

    mutable std::mutex mutex_;
    std::multimap<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<Entry>> queue_;
    std::uint64_t sequence_ = 0;
    TimePoint now_{};
    std::thread::id owner_;
};

} // namespace vantrel
