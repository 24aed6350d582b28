// Serial queues: work that runs one job at a time off the main thread.
#pragma once

#include "Runtime/RunLoop.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <string>
#include <thread>

namespace vantrel {

class ManualRunLoop;

/// Runs jobs one at a time, in submission order (delayed jobs by due time).
class SerialQueue {
public:
    virtual ~SerialQueue() = default;
    /// Queues `job`. Thread-safe; never inline.
    virtual void async(std::function<void()> job) = 0;
    /// Queues `job` after `delay`; the returned timer can cancel it before it runs.
    virtual std::shared_ptr<Timer> asyncAfter(Duration delay, std::function<void()> job) = 0;
    /// Runs `job` on the queue and waits for it. Called on the queue itself it runs
    /// `job` inline (instead of dead-locking).
    virtual void sync(std::function<void()> job) = 0;
    /// True while running on this queue.
    virtual bool isCurrent() const = 0;
    /// The clock the queue's delays use.
    virtual TimePoint now() const = 0;
};

/// A serial queue on its own thread. The destructor finishes the job running,
/// drops the rest and joins the thread.
class ThreadSerialQueue final : public SerialQueue {
public:
    explicit ThreadSerialQueue(std::string label);
    ~ThreadSerialQueue() override;

    void async(std::function<void()> job) override;
    std::shared_ptr<Timer> asyncAfter(Duration delay, std::function<void()> job) override;
    void sync(std::function<void()> job) override;
    bool isCurrent() const override;
    TimePoint now() const override;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

/// A serial queue for virtual-time tests: its jobs are scheduled on a
/// ManualRunLoop's timeline and run on the test's thread when the loop runs,
/// interleaved with the loop's own work in due order. `sync` first runs
/// everything the queue has pending now, then `job`.
class ManualSerialQueue final : public SerialQueue {
public:
    explicit ManualSerialQueue(ManualRunLoop& loop);
    ~ManualSerialQueue() override;

    void async(std::function<void()> job) override;
    std::shared_ptr<Timer> asyncAfter(Duration delay, std::function<void()> job) override;
    void sync(std::function<void()> job) override;
    bool isCurrent() const override;
    TimePoint now() const override;


private:
    struct State;
    ManualRunLoop& loop_;
    std::shared_ptr<State> state_;
};

} // namespace vantrel
