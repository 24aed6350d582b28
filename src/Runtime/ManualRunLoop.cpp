// Virtual-time run loop: a queue of due jobs that tests drive explicitly.
#include "Runtime/ManualRunLoop.h"

#include <cassert>

namespace vantrel {

struct ManualRunLoop::Entry {
    std::function<void()> fire;
    Duration interval{0}; // 0: one-shot
    bool valid = true;
};

class ManualRunLoop::ManualTimer final : public Timer {
public:
    explicit ManualTimer(std::weak_ptr<Entry> entry) : entry_(std::move(entry)) {}
    void invalidate() override
    {
        if (auto entry = entry_.lock())
            entry->valid = false;
    }
    bool isValid() const override
    {
        auto entry = entry_.lock();
        return entry && entry->valid;
    }

private:
    std::weak_ptr<Entry> entry_;
};

ManualRunLoop::ManualRunLoop() : owner_(std::this_thread::get_id()) {}

ManualRunLoop::~ManualRunLoop() = default;

void ManualRunLoop::post(std::function<void()> job)
{
    std::lock_guard lock(mutex_);
    auto entry = std::make_shared<Entry>();
    entry->fire = std::move(job);
    queue_.emplace(std::make_pair(now_, sequence_++), std::move(entry));
}

std::shared_ptr<Timer> ManualRunLoop::add(TimePoint due, Duration interval, std::function<void()> fire)
{
    auto entry = std::make_shared<Entry>();
    entry->fire = std::move(fire);
    entry->interval = interval;
    std::lock_guard lock(mutex_);
    if (due < now_)
        due = now_;
    queue_.emplace(std::make_pair(due, sequence_++), entry);
    return std::make_shared<ManualTimer>(entry);
}

std::shared_ptr<Timer> ManualRunLoop::schedule(Duration delay, std::function<void()> fire)
{
    return add(now() + delay, Duration{0}, std::move(fire));
}

std::shared_ptr<Timer> ManualRunLoop::scheduleRepeating(Duration delay, Duration interval, std::function<void()> fire)
{
    if (interval <= Duration{0})
        interval = Duration{1};
    return add(now() + delay, interval, std::move(fire));
}

TimePoint ManualRunLoop::now() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

bool ManualRunLoop::isLoopThread() const
{
    return std::this_thread::get_id() == owner_;
}

// Pops and runs the earliest entry due at or before `upTo`, moving the clock to
// its due time. Returns false when nothing is due.
bool ManualRunLoop::runOne(TimePoint upTo)
{
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(mutex_);
        for (;;) {
            auto it = queue_.begin();
            if (it == queue_.end() || it->first.first > upTo)
                return false;
            entry = it->second;
            if (it->first.first > now_)
                now_ = it->first.first;
            queue_.erase(it);
            if (entry->valid)
                break;
        }
        if (entry->interval > Duration{0})
            queue_.emplace(std::make_pair(now_ + entry->interval, sequence_++), entry);
        else
            entry->valid = false;
    }
    // Copy: the callback may invalidate its own timer, which must not destroy
    // the function while it runs.
    auto fire = entry->fire;
    fire();
    return true;
}

std::size_t ManualRunLoop::runPending()
{
    std::size_t count = 0;
    while (runOne(now()))
        ++count;
    return count;
}

void ManualRunLoop::advance(Duration by)
{
    TimePoint target = now() + by;
    while (runOne(target)) {
    }
    std::lock_guard lock(mutex_);
    if (now_ < target)
        now_ = target;
}

bool ManualRunLoop::runUntilIdle(Duration limit)
{
    TimePoint target = now() + limit;
    while (runOne(target)) {
    }
    std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : queue_)
        if (entry->valid)
            return false;
    return true;
}

std::optional<TimePoint> ManualRunLoop::nextDue() const
{
    std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : queue_)
        if (entry->valid)
            return key.first;
    return std::nullopt;
}

} // namespace vantrel
