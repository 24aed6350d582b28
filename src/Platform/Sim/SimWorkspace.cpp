// The simulated desktop as a workspace: applications, notifications, screens, preferences.
#include "Platform/Sim/SimDesktop.h"

#include "Platform/Sim/SimDesktopState.h"

namespace vantrel::Sim {

// ---- WorkspaceBackend ----

std::vector<RunningApplication> SimDesktop::runningApplications()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("runningApplications");
    std::vector<RunningApplication> result;
    for (const auto& app : state_->apps)
        result.push_back(running(app));
    return result;
}

std::optional<RunningApplication> SimDesktop::runningApplication(Pid pid)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("runningApplication " + std::to_string(pid));
    if (auto* app = state_->app(pid))
        return running(*app);
    return std::nullopt;
}

std::optional<RunningApplication> SimDesktop::frontmostApplication()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("frontmostApplication");
    if (!state_->frontmost)
        return std::nullopt;
    if (auto* app = state_->app(*state_->frontmost))
        return running(*app);
    return std::nullopt;
}

std::optional<ApplicationIcon> SimDesktop::icon(Pid pid)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("icon " + std::to_string(pid));
    if (auto* app = state_->app(pid))
        return app->icon;
    return std::nullopt;
}

bool SimDesktop::terminate(Pid pid)
{
    record("terminate " + std::to_string(pid));
    if (!application(pid))
        return false;
    quit(pid);
    return true;
}

bool SimDesktop::hide(Pid pid)
{
    record("hide " + std::to_string(pid));
    if (!application(pid))
        return false;
    setHidden(pid, true);
    return true;
}

std::unique_ptr<Observation> SimDesktop::observe(WorkspaceEvent event, RunLoop& loop,
                                                 std::function<void(const RunningApplication&)> callback)
{
    auto subscription = std::make_shared<Subscription>();
    subscription->kind = Subscription::Kind::workspace;
    subscription->event = event;
    subscription->loop = &loop;
    subscription->onApplication = std::move(callback);
    std::lock_guard lock(state_->mutex);
    state_->subscriptions.push_back(subscription);
    return std::make_unique<SubscriptionToken>(subscription, &subscription->alive);
}

std::unique_ptr<Observation> SimDesktop::observeDistributed(std::string_view name, RunLoop& loop,
                                                            std::function<void()> callback)
{
    auto subscription = std::make_shared<Subscription>();
    subscription->kind = Subscription::Kind::distributed;
    subscription->name = std::string(name);
    subscription->loop = &loop;
    subscription->onEvent = std::move(callback);
    std::lock_guard lock(state_->mutex);
    state_->subscriptions.push_back(subscription);
    return std::make_unique<SubscriptionToken>(subscription, &subscription->alive);
}

std::vector<Screen> SimDesktop::screens()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("screens");
    std::vector<Screen> result;
    for (const auto& display : state_->displays)
        result.push_back({display.identifier, display.frame, display.visibleFrame});
    return result;
}

std::unique_ptr<Observation> SimDesktop::observeScreens(RunLoop& loop, std::function<void()> callback)
{
    auto subscription = std::make_shared<Subscription>();
    subscription->kind = Subscription::Kind::screens;
    subscription->loop = &loop;
    subscription->onEvent = std::move(callback);
    std::lock_guard lock(state_->mutex);
    state_->subscriptions.push_back(subscription);
    return std::make_unique<SubscriptionToken>(subscription, &subscription->alive);
}

std::unique_ptr<Observation> SimDesktop::observeSpaces(RunLoop& loop, std::function<void()> callback)
{
    auto subscription = std::make_shared<Subscription>();
    subscription->kind = Subscription::Kind::spaces;
    subscription->loop = &loop;
    subscription->onEvent = std::move(callback);
    std::lock_guard lock(state_->mutex);
    state_->subscriptions.push_back(subscription);
    return std::make_unique<SubscriptionToken>(subscription, &subscription->alive);
}

KeyRepeatSettings SimDesktop::keyRepeat()
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("keyRepeat");
    return state_->keyRepeat;
}

bool SimDesktop::openURL(std::string_view url)
{
    std::lock_guard lock(state_->mutex);
    state_->calls.push_back("openURL " + std::string(url));
    state_->urls.emplace_back(url);
    return true;
}

} // namespace vantrel::Sim
