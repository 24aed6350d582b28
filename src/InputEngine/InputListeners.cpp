// The listener bookkeeping shared by the keyboard backends.
#include "InputEngine/InputListeners.h"

#include <utility>

namespace vantrel {

class InputListeners::Subscription final : public InputSubscription {
public:
    Subscription(std::weak_ptr<InputListeners> listeners, int token) : listeners_(std::move(listeners)), token_(token)
    {
    }
    ~Subscription() override
    {
        if (auto listeners = listeners_.lock())
            listeners->remove(token_);
    }

private:
    std::weak_ptr<InputListeners> listeners_;
    int token_;
};

class InputListeners::InstalledTap final : public KeyTap {
public:
    InstalledTap(std::weak_ptr<InputListeners> listeners, int token,
                 std::function<bool(FastSearchModifier)> changeModifier)
        : listeners_(std::move(listeners)), token_(token), changeModifier_(std::move(changeModifier))
    {
    }
    ~InstalledTap() override
    {
        if (auto listeners = listeners_.lock())
            listeners->remove(token_);
    }
    bool setModifier(FastSearchModifier modifier) override
    {
        auto listeners = listeners_.lock();
        if (!listeners || listeners->tapToken_ != token_)
            return false;
        if (changeModifier_ && !changeModifier_(modifier))
            return false;
        listeners->tap_->modifier = modifier;
        return true;
    }

private:
    std::weak_ptr<InputListeners> listeners_;
    int token_;
    std::function<bool(FastSearchModifier)> changeModifier_;
};

std::shared_ptr<InputListeners> InputListeners::make()
{
    return std::shared_ptr<InputListeners>(new InputListeners());
}

std::unique_ptr<InputSubscription> InputListeners::addModifierFeed(std::function<void(std::uint64_t)> feed)
{
    const int token = nextToken_++;
    modifierFeeds_[token] = std::move(feed);
    return std::make_unique<Subscription>(weak_from_this(), token);
}

std::unique_ptr<InputSubscription> InputListeners::addLayoutObserver(std::function<void()> observer)
{
    const int token = nextToken_++;
    layoutObservers_[token] = std::move(observer);
    return std::make_unique<Subscription>(weak_from_this(), token);
}

std::unique_ptr<InputSubscription> InputListeners::takeGrab(KeyHandler onKey, std::function<void()> onRelease,
                                                            GrabMode mode)
{
    if (grab_)
        return nullptr;
    grabToken_ = nextToken_++;
    grabMode_ = mode;
    grab_ = std::make_shared<KeyHandler>(std::move(onKey));
    grabReleased_ = std::move(onRelease);
    return std::make_unique<Subscription>(weak_from_this(), grabToken_);
}

std::unique_ptr<KeyTap> InputListeners::installTap(FastSearchModifier modifier, KeyTapHandler handler,
                                                   std::function<bool(FastSearchModifier)> changeModifier,
                                                   std::function<void()> onRemove)
{
    if (tap_)
        return nullptr;
    tapToken_ = nextToken_++;
    tap_ = std::make_shared<Tap>(Tap{modifier, std::move(handler)});
    tapRemoved_ = std::move(onRemove);
    return std::make_unique<InstalledTap>(weak_from_this(), tapToken_, std::move(changeModifier));
}

void InputListeners::remove(int token)
{
    modifierFeeds_.erase(token);
    layoutObservers_.erase(token);
    if (token == grabToken_) {
        grab_.reset();
        grabToken_ = 0;
        if (auto released = std::exchange(grabReleased_, {}))
            released();
    }
    if (token == tapToken_) {
        tap_.reset();
        tapToken_ = 0;
        if (auto removed = std::exchange(tapRemoved_, {}))
            removed();
    }
}

void InputListeners::feedModifiers(std::uint64_t flags)
{
    // A copy: a feed may subscribe or unsubscribe while it runs.
    auto feeds = modifierFeeds_;
    for (auto& [token, feed] : feeds)
        feed(flags);
}

void InputListeners::notifyLayoutChange()
{
    auto observers = layoutObservers_;
    for (auto& [token, observer] : observers)
        observer();
}

std::optional<std::uint32_t> PressedHotKeys::release(std::uint32_t keyCode)
{
    auto it = pressed_.find(keyCode);
    if (it == pressed_.end())
        return std::nullopt;
    const std::uint32_t id = it->second;
    pressed_.erase(it);
    return id;
}

void PressedHotKeys::forget(std::uint32_t id)
{
    std::erase_if(pressed_, [id](const auto& entry) { return entry.second == id; });
}

} // namespace vantrel
