// The simulated desktop's internal records: elements, observers, subscriptions and state.
#pragma once

#include "Platform/Sim/SimDesktop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <string>

namespace vantrel::Sim {

/// A process serial number this desktop handed out carries this high word.
inline constexpr std::uint32_t psnMarker = 0x53494d; // "SIM"
/// What the process manager answers for a pid that does not run.
inline constexpr std::int32_t processNotFound = -600;
/// The platform's messaging timeout of an element nobody set one on.
inline constexpr Duration defaultMessagingTimeout = std::chrono::seconds(6);

struct SimDesktop::Element final : AXElementObject {
    enum class Kind { application, window, closeButton };
    Element(Kind kind, Pid pid, WindowID window, std::uint64_t generation, float timeout)
        : kind(kind), pid(pid), window(window), generation(generation), timeout(timeout)
    {
    }
    Kind kind;
    Pid pid;
    WindowID window;
    std::uint64_t generation;
    /// Seconds; 0 for the platform default.
    std::atomic<float> timeout;
};

class SimDesktop::Observer final : public AXObserver {
public:
    Observer(std::weak_ptr<SimDesktop> desktop, Pid pid, AXObserverCallback callback)
        : desktop_(std::move(desktop)), pid_(pid), callback_(std::move(callback))
    {
    }

    AXError addNotification(const AXElement& element, std::string_view notification) override
    {
        auto desktop = desktop_.lock();
        auto* sim = dynamic_cast<Element*>(element.get());
        if (!desktop || sim == nullptr || sim->pid != pid_)
            return AXErrors::illegalArgument;
        AXError code = desktop->checkObserverTarget(*sim, "AXObserverAddNotification " + std::string(notification));
        if (code != AXErrors::success)
            return code;
        std::lock_guard lock(mutex_);
        if (!registrations_.insert({key(*sim), std::string(notification)}).second)
            return AXErrors::notificationAlreadyRegistered;
        return AXErrors::success;
    }

    AXError removeNotification(const AXElement& element, std::string_view notification) override
    {
        auto* sim = dynamic_cast<Element*>(element.get());
        if (sim == nullptr)
            return AXErrors::illegalArgument;
        std::lock_guard lock(mutex_);
        if (registrations_.erase({key(*sim), std::string(notification)}) == 0)
            return AXErrors::notificationNotRegistered;
        return AXErrors::success;
    }

    void attach(RunLoop& loop) override
    {
        std::lock_guard lock(mutex_);
        loop_ = &loop;
        ++epoch_;
    }

    void detach() override
    {
        std::lock_guard lock(mutex_);
        loop_ = nullptr;
        ++epoch_;
    }

    Pid pid() const { return pid_; }

    /// Queues the callback when the observer listens for `notification` on
    /// the element or on its application.
    void deliver(const std::shared_ptr<Observer>& self, const AXElement& element, WindowID window,
                 const std::string& notification)
    {
        std::lock_guard lock(mutex_);
        if (loop_ == nullptr)
            return;
        bool listening = registrations_.count({0, notification}) > 0 ||
                         (window != 0 && registrations_.count({window, notification}) > 0);
        if (!listening)
            return;
        auto epoch = epoch_;
        loop_->post([self, element, notification, epoch] {
            AXObserverCallback callback;
            {
                std::lock_guard lock(self->mutex_);
                if (self->epoch_ != epoch || self->loop_ == nullptr)
                    return;
                callback = self->callback_;
            }
            callback(element, notification);
        });
    }

private:
    static WindowID key(const Element& element) { return element.kind == Element::Kind::application ? 0 : element.window; }

    std::weak_ptr<SimDesktop> desktop_;
    Pid pid_;
    AXObserverCallback callback_;
    std::mutex mutex_;
    std::set<std::pair<WindowID, std::string>> registrations_;
    RunLoop* loop_ = nullptr;
    std::uint64_t epoch_ = 0;
};

struct SimDesktop::Subscription {
    enum class Kind { workspace, distributed, screens, spaces };
    Kind kind;
    WorkspaceEvent event = WorkspaceEvent::didLaunchApplication;
    std::string name;
    RunLoop* loop = nullptr;
    std::function<void(const RunningApplication&)> onApplication;
    std::function<void()> onEvent;
    std::atomic<bool> alive{true};
};

/// Ends a subscription when dropped.
class SubscriptionToken final : public Observation {
public:
    explicit SubscriptionToken(std::shared_ptr<void> subscription, std::atomic<bool>* alive)
        : subscription_(std::move(subscription)), alive_(alive)
    {
    }
    ~SubscriptionToken() override { alive_->store(false); }

private:
    std::shared_ptr<void> subscription_;
    std::atomic<bool>* alive_;
};

// The system shortcut table, in a shared anonymous mapping: a forked child's
// changes (its signal handler's restore included) are what the parent reads.
struct SimDesktop::SharedHotKeys {
    static constexpr int capacity = 64;
    std::atomic<int> count{0};
    std::atomic<std::int32_t> ids[capacity];
    std::atomic<bool> enabled[capacity];

    static CGError set(void* context, std::int32_t id, bool state) noexcept
    {
        auto* table = static_cast<SharedHotKeys*>(context);
        int n = table->count.load();
        for (int i = 0; i < n && i < capacity; ++i) {
            if (table->ids[i].load() == id) {
                table->enabled[i].store(state);
                return 0;
            }
        }
        int slot = table->count.fetch_add(1);
        if (slot >= capacity)
            return -1;
        table->ids[slot].store(id);
        table->enabled[slot].store(state);
        return 0;
    }

    bool get(std::int32_t id) const
    {
        int n = count.load();
        for (int i = 0; i < n && i < capacity; ++i)
            if (ids[i].load() == id)
                return enabled[i].load();
        return true;
    }
};

struct SimDesktop::State {
    mutable std::recursive_mutex mutex;
    std::vector<Display> displays;
    std::size_t activeDisplay = 0;
    std::vector<Application> apps;
    std::vector<Window> windows;
    std::map<WindowID, std::uint64_t> generations;
    std::map<Pid, WindowID> focusedWindow;
    std::optional<Pid> frontmost;
    std::map<SpaceID, Pid> spaceFront;
    bool secureInput = false;
    bool locked = false;
    bool trusted = true;
    KeyRepeatSettings keyRepeat;
    std::vector<std::string> urls;
    std::set<std::string, std::less<>> removed;
    std::optional<std::optional<nlohmann::json>> sessionOverride;
    std::map<std::string, std::deque<std::int32_t>, std::less<>> failures;
    std::map<Pid, AXError> axErrors;
    std::set<Pid> hung;
    std::map<Pid, std::deque<AXError>> actionFailures;
    Duration waited{0};
    std::vector<std::string> calls;
    std::vector<std::array<std::uint8_t, eventRecordSize>> records;
    std::vector<std::weak_ptr<Observer>> observers;
    std::vector<std::weak_ptr<Subscription>> subscriptions;

    Application* app(Pid pid)
    {
        auto it = std::find_if(apps.begin(), apps.end(), [&](const Application& a) { return a.pid == pid; });
        return it == apps.end() ? nullptr : &*it;
    }
    Window* window(WindowID id)
    {
        auto it = std::find_if(windows.begin(), windows.end(), [&](const Window& w) { return w.id == id; });
        return it == windows.end() ? nullptr : &*it;
    }
    bool offers(std::string_view name) const { return removed.find(name) == removed.end(); }
    std::int32_t nextResult(std::string_view name)
    {
        auto it = failures.find(name);
        if (it == failures.end() || it->second.empty())
            return 0;
        auto code = it->second.front();
        it->second.pop_front();
        return code;
    }
};

} // namespace vantrel::Sim
