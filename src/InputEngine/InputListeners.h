// What every keyboard backend keeps for its listeners: modifier feeds, layout
// observers, the one Fast Search tap, the one keyboard grab, and the hot keys
// whose key is down.
#pragma once

#include "InputEngine/InputBackend.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace vantrel {

/// The listeners of one keyboard backend. Subscriptions and taps remove
/// themselves when destroyed and do nothing once the listeners are gone, so
/// they may outlive their backend. Main thread only.
class InputListeners : public std::enable_shared_from_this<InputListeners> {
public:
    /// The installed Fast Search tap.
    struct Tap {
        FastSearchModifier modifier = FastSearchModifier::off;
        KeyTapHandler handler;
    };
    using KeyHandler = std::function<void(const KeyEvent&)>;

    static std::shared_ptr<InputListeners> make();

    /// Adds a modifier feed.
    std::unique_ptr<InputSubscription> addModifierFeed(std::function<void(std::uint64_t)> feed);
    /// Adds a layout observer.
    std::unique_ptr<InputSubscription> addLayoutObserver(std::function<void()> observer);
    /// Takes the keyboard grab; null while another grab is held. `onRelease`
    /// runs when the grab ends while the listeners live.
    std::unique_ptr<InputSubscription> takeGrab(KeyHandler onKey, std::function<void()> onRelease = {},
                                                GrabMode mode = GrabMode::hotKeysFire);
    /// Installs the tap; null while another tap is installed. `changeModifier`
    /// is asked before the tap's modifier changes (false refuses the change);
    /// `onRemove` runs when the tap goes while the listeners live.
    std::unique_ptr<KeyTap> installTap(FastSearchModifier modifier, KeyTapHandler handler,
                                       std::function<bool(FastSearchModifier)> changeModifier,
                                       std::function<void()> onRemove = {});

    /// Tells every modifier feed the new flags.
    void feedModifiers(std::uint64_t flags);
    /// Tells every layout observer.
    void notifyLayoutChange();
    /// The installed tap; shared so a handler that removes it stays alive
    /// through its call.
    std::shared_ptr<Tap> tap() const { return tap_; }
    /// The held grab's handler, shared for the same reason.
    std::shared_ptr<KeyHandler> grab() const { return grab_; }
    /// Whether hot keys fire during the held grab.
    GrabMode grabMode() const { return grabMode_; }

private:
    class Subscription;
    class InstalledTap;

    InputListeners() = default;
    void remove(int token);

    int nextToken_ = 1;
    std::map<int, std::function<void(std::uint64_t)>> modifierFeeds_;
    std::map<int, std::function<void()>> layoutObservers_;
    std::shared_ptr<Tap> tap_;
    int tapToken_ = 0;
    std::function<void()> tapRemoved_;
    std::shared_ptr<KeyHandler> grab_;
    int grabToken_ = 0;
    GrabMode grabMode_ = GrabMode::hotKeysFire;
    std::function<void()> grabReleased_;
};

/// The hot keys whose key is down, by key code. A key that is already down
/// presses nothing again, so auto-repeat never repeats a hot key.
class PressedHotKeys {
public:
    /// Notes a press of `id`'s key; false when that key is already down.
    bool press(std::uint32_t keyCode, std::uint32_t id) { return pressed_.emplace(keyCode, id).second; }
    /// The hot key whose key went up, when one was down.
    std::optional<std::uint32_t> release(std::uint32_t keyCode);
    /// Forgets a hot key that is no longer registered.
    void forget(std::uint32_t id);

private:
    std::map<std::uint32_t, std::uint32_t> pressed_;
};

} // namespace vantrel
