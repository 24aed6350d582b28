// Serial queues: a worker thread with a due-ordered job list, and a manual
// variant that runs on a ManualRunLoop's timeline.
#include "Runtime/SerialQueue.h"

#include "Runtime/ManualRunLoop.h"

#include <atomic>
#include <future>
#include <map>
#include <mutex>

namespace vantrel {

namespace {

using Clock = std::chrono::steady_clock;

TimePoint steadyNow()
{
    return std::chrono::time_point_cast<Duration>(Clock::now());
}

/// A job that can be cancelled before it runs.
struct CancellableJob {
    std::function<void()> run;
    std::atomic<bool> valid{true};
};

class JobTimer final : public Timer {
public:
    explicit JobTimer(std::weak_ptr<CancellableJob> job) : job_(std::move(job)) {}
    void invalidate() override
    {
        if (auto job = job_.lock())
            job->valid = false;
    }
    bool isValid() const override
    {
        auto job = job_.lock();
        return job && job->valid;
    }

private:
    std::weak_ptr<CancellableJob> job_;
};

thread_local const void* currentQueue = nullptr;

/// Marks the running thread as being on `queue` for the duration of a job.
class CurrentQueueScope {
public:
    explicit CurrentQueueScope(const void* queue) : previous_(currentQueue) { currentQueue = queue; }
    ~CurrentQueueScope() { currentQueue = previous_; }

private:
    const void* previous_;
};

} // namespace

struct ThreadSerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::multimap<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<CancellableJob>> jobs;
    std::uint64_t sequence = 0;
    bool stopping = false;
    std::string label;
};

ThreadSerialQueue::ThreadSerialQueue(std::string label) : state_(std::make_shared<State>())
{
    state_->label = std::move(label);
    thread_ = std::thread([state = state_, self = static_cast<const void*>(this)] {
        CurrentQueueScope scope(self);
        std::unique_lock lock(state->mutex);
        while (!state->stopping) {
            if (state->jobs.empty()) {
                state->wake.wait(lock);
                continue;
            }
            auto it = state->jobs.begin();
            TimePoint due = it->first.first;
            if (due > steadyNow()) {
                state->wake.wait_until(lock, due);
                continue;
            }
            auto job = it->second;
            state->jobs.erase(it);
            if (!job->valid.exchange(false))
                continue;
            lock.unlock();
            job->run();
            job->run = nullptr; // release captures on the queue's thread
            lock.lock();
        }
    });
}

ThreadSerialQueue::~ThreadSerialQueue()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->jobs.clear();
    }
    state_->wake.notify_all();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
}

void ThreadSerialQueue::async(std::function<void()> job)
{
    asyncAfter(Duration{0}, std::move(job));
}

std::shared_ptr<Timer> ThreadSerialQueue::asyncAfter(Duration delay, std::function<void()> job)
{
    auto entry = std::make_shared<CancellableJob>();
    entry->run = std::move(job);
    TimePoint due = delay > Duration{0} ? steadyNow() + delay : TimePoint{};
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.emplace(std::make_pair(due, state_->sequence++), entry);
    }
    state_->wake.notify_one();
    return std::make_shared<JobTimer>(entry);
}

void ThreadSerialQueue::sync(std::function<void()> job)
{
    if (isCurrent()) {
        job();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&] {
        job();
        done.set_value();
    });
    finished.wait();
}

bool ThreadSerialQueue::isCurrent() const
{
    return currentQueue == this;
}

TimePoint ThreadSerialQueue::now() const
{
    return steadyNow();
}

// The manual queue keeps its own FIFO so that `sync` can drain it, and asks the
// loop to run one queued job per scheduled turn.
struct ManualSerialQueue::State {
    std::mutex mutex;
    std::deque<std::shared_ptr<CancellableJob>> ready;
    bool alive = true;
};

ManualSerialQueue::ManualSerialQueue(ManualRunLoop& loop) : loop_(loop), state_(std::make_shared<State>()) {}

ManualSerialQueue::~ManualSerialQueue()
{
    std::lock_guard lock(state_->mutex);
    state_->alive = false;
    state_->ready.clear();
}

void ManualSerialQueue::async(std::function<void()> job)
{
    auto entry = std::make_shared<CancellableJob>();
    entry->run = std::move(job);
    {
        std::lock_guard lock(state_->mutex);
        state_->ready.push_back(entry);
    }
    std::weak_ptr<State> weak = state_;
    const void* self = this;
    loop_.post([weak, self] {
        auto state = weak.lock();
        if (!state)
            return;
        std::shared_ptr<CancellableJob> next;
        {
            std::lock_guard lock(state->mutex);
            if (!state->alive || state->ready.empty())
                return;
            next = state->ready.front();
            state->ready.pop_front();
        }
        if (next->valid.exchange(false)) {
            CurrentQueueScope scope(self);
            next->run();
        }
    });
}

std::shared_ptr<Timer> ManualSerialQueue::asyncAfter(Duration delay, std::function<void()> job)
{
    auto entry = std::make_shared<CancellableJob>();
    entry->run = std::move(job);
    std::weak_ptr<State> weak = state_;
    std::weak_ptr<CancellableJob> weakJob = entry;
    const void* self = this;
    // The timer itself is the cancellation handle; keep the job alive through
    // the loop's closure.
    loop_.schedule(delay, [weak, entry, self] {
        auto state = weak.lock();
        if (!state || !state->alive)
            return;
        if (entry->valid.exchange(false)) {
            CurrentQueueScope scope(self);
            entry->run();
        }
    });
    return std::make_shared<JobTimer>(weakJob);
}

void ManualSerialQueue::sync(std::function<void()> job)
{
    if (isCurrent()) {
        job();
        return;
    }
    for (;;) {
        std::shared_ptr<CancellableJob> next;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->ready.empty())
                break;
            next = state_->ready.front();
            state_->ready.pop_front();
        }
        if (next->valid.exchange(false)) {
            CurrentQueueScope scope(this);
            next->run();
        }
    }
    CurrentQueueScope scope(this);
    job();
}

bool ManualSerialQueue::isCurrent() const
{
    return currentQueue == this;
}

TimePoint ManualSerialQueue::now() const
{
    return loop_.now();
}

} // namespace vantrel
