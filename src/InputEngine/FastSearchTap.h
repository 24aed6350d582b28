// Fast Search input: while the chosen modifier is held, typed keys are
// swallowed and become a query; letting go commits.
#pragma once

#include "InputEngine/InputBackend.h"
#include "Runtime/Log.h"
#include "VantrelCore/FastSearch.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace vantrel {

class KeyboardLayoutTranslator;

class FastSearchTap {
public:
    /// Text to append to the query: one or more characters, never a control character.
    struct Character {
        std::string text;
        bool operator==(const Character&) const = default;
    };
    /// +1 (down) or -1 (up).
    struct MoveSelection {
        int delta = 0;
        bool operator==(const MoveSelection&) const = default;
    };
    /// The hold is over; committed: switch to the selection, else cancel.
    struct Ended {
        bool committed = false;
        bool operator==(const Ended&) const = default;
    };
    /// A hold has started.
    struct Began {
        bool operator==(const Began&) const = default;
    };
    /// Delete the last query character.
    struct Backspace {
        bool operator==(const Backspace&) const = default;
    };
    /// The events of a hold.
    using Event = std::variant<Character, MoveSelection, Ended, Began, Backspace>;

    /// On the current backend; nothing is installed yet.
    FastSearchTap();
    /// On the given backend (null: never installs).
    explicit FastSearchTap(std::shared_ptr<InputBackend> backend);
    /// Removes the tap without sending any event; owners call
    /// `setModifier(off)` first when a hold may be in progress.
    ~FastSearchTap();
    FastSearchTap(const FastSearchTap&) = delete;
    FastSearchTap& operator=(const FastSearchTap&) = delete;

    /// Called on the main thread for every event of a hold, before the key
    /// event's fate is decided.
    std::function<void(const Event&)> onEvent;

    /// True while a hold is in progress.
    bool isHeld() const { return held_; }
    /// The modifier in force; off at start.
    FastSearchModifier modifier() const { return modifier_; }
    /// Stores the modifier, then installs the tap (not off) or removes it
    /// (off). Changing between two non-off modifiers keeps the installed tap.
    void setModifier(FastSearchModifier modifier);
    /// True while a tap is installed.
    bool isInstalled() const { return tap_ != nullptr; }
    /// False when this keyboard has no key for `modifier` (X11 has no Fn).
    bool canHold(FastSearchModifier modifier) const;
    /// True when the platform lets the process watch and swallow keys.
    bool hasInputMonitoring() const;
    /// Shows the platform's permission prompt, if it has one.
    void requestInputMonitoring();

    /// The translator typed keys go through.
    KeyboardLayoutTranslator& translator() { return *translator_; }

    /// The key tap's handler: runs the hold state machine for one event and
    /// returns true when the event is swallowed. Public for the backends'
    /// tests; the installed tap calls it.
    bool handle(const KeyEvent& event);

private:
    void install();
    void uninstall();
    void send(const Event& event);
    void keyDownWhileHeld(const KeyEvent& event);
    void beginHold();

    std::shared_ptr<InputBackend> backend_;
    bool held_ = false;
    FastSearchModifier modifier_ = FastSearchModifier::off;
    // Said once per missing key, not at every settings change.
    std::optional<FastSearchModifier> reportedMissing_;
    std::unique_ptr<KeyTap> tap_;
    std::unique_ptr<KeyboardLayoutTranslator> translator_;
    std::unique_ptr<InputSubscription> layoutObserver_;
    Logger log_{"fastsearch"};
    // Lets the tap's and the observer's callbacks notice that this object is gone.
    std::shared_ptr<FastSearchTap*> self_;
};

} // namespace vantrel
