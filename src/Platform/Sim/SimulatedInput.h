// A scripted keyboard for tests: key events typed by the test, hot keys that
// can be refused, a modifier feed, a Fast Search tap and a layout with dead keys.
#pragma once

#include "InputEngine/InputBackend.h"
#include "InputEngine/InputListeners.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

/// A small table-driven keyboard layout with dead keys.
struct SimulatedLayout {
    /// The text of one key on each shift level; empty: nothing.
    struct Key {
        std::string plain;
        std::string shifted;
        std::string option;
        bool operator==(const Key&) const = default;
    };
    std::string name = "U.S.";
    /// False: an input method without layout data; every key gives nothing.
    bool hasLayoutData = true;
    std::map<std::uint16_t, Key> keys;
    /// Keys that are dead on their plain level, by the accent's spacing form
    /// (what the dead key types when composed with itself or space).
    std::map<std::uint16_t, std::string> deadKeys;
    /// (spacing accent, next key's text) → composed text.
    std::map<std::pair<std::string, std::string>, std::string> compose;
    bool operator==(const SimulatedLayout&) const = default;

    /// US letters, digits and punctuation; Return types "\r", Tab "\t".
    static SimulatedLayout us();
    /// `us` with the quote key (39) a dead acute and the grave key (50) a
    /// dead grave: acute+e → "é", acute+acute → "´", acute+space → "'".
    static SimulatedLayout usInternational();
};

/// Translates on the simulated backend's current layout.
class SimulatedLayoutTranslator final : public KeyboardLayoutTranslator {
public:
    explicit SimulatedLayoutTranslator(std::function<SimulatedLayout()> currentLayout);
    std::optional<std::string> character(std::uint16_t keyCode, std::uint64_t flags) override;
    void reloadLayout() override;
    std::string layoutName() const override { return name_; }

private:
    std::function<SimulatedLayout()> currentLayout_;
    std::optional<SimulatedLayout> layout_;
    std::string deadKey_;
    std::string name_ = "?";
};

/// Every event is delivered synchronously from the call that types it, so a
/// test runs on one thread without a run loop.
class SimulatedInput final : public InputBackend {
public:
    SimulatedInput();
    ~SimulatedInput() override;

    // Configuration.
    KeyboardType keyboard = KeyboardType::ansi;
    bool inputMonitoring = true;
    /// False: the modifier feed is refused.
    bool modifierFeedAvailable = true;
    /// False: installing a key tap fails.
    bool tapAvailable = true;
    /// Hold keys this keyboard does not have.
    std::set<FastSearchModifier> missingHoldKeys;
    /// Makes a chord's grab fail, as when another program holds it.
    void refuseChord(std::uint32_t keyCode, std::uint64_t modifiers);
    /// Replaces the layout and tells the observers.
    void setLayout(SimulatedLayout layout);
    const SimulatedLayout& layout() const { return layout_; }

    // Scripted input. Each call routes one event: an active keyboard grab
    // first, then the key tap, then the hot keys, then the frontmost program.
    void keyDown(std::uint16_t keyCode, std::uint64_t flags = 0);
    void keyUp(std::uint16_t keyCode, std::uint64_t flags = 0);
    /// A modifier key went down or up; `flags` is the modifier set after it.
    void flagsChanged(std::uint16_t keyCode, std::uint64_t flags);
    void send(const KeyEvent& event);

    // What happened.
    /// Events that reached the frontmost program (neither swallowed nor grabbed).
    std::vector<KeyEvent> delivered;
    /// Grabbed chords by hot-key id.
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint64_t>> grabs;
    int tapInstalls = 0;
    /// Called as a keyboard grab is taken.
    std::function<void()> onGrab;
    bool tapInstalled() const;
    FastSearchModifier tapModifier() const;
    int inputMonitoringRequests = 0;

    // InputBackend
    KeyboardType keyboardType() override { return keyboard; }
    void setHotKeySink(std::function<void(std::uint32_t, HotKeyPhase)> sink) override;
    bool registerHotKey(std::uint32_t id, std::uint32_t keyCode, std::uint64_t modifiers) override;
    void unregisterHotKey(std::uint32_t id) override;
    std::unique_ptr<InputSubscription> watchModifiers(std::function<void(std::uint64_t)> onChange) override;
    bool hasInputMonitoring() override { return inputMonitoring; }
    void requestInputMonitoring() override { ++inputMonitoringRequests; }
    bool canHold(FastSearchModifier modifier) override { return !missingHoldKeys.contains(modifier); }
    std::unique_ptr<KeyTap> installKeyTap(FastSearchModifier modifier, KeyTapHandler handler) override;
    std::unique_ptr<InputSubscription> grabKeyboard(std::function<void(const KeyEvent&)> onKey,
                                                    GrabMode mode = GrabMode::hotKeysFire) override;
    std::unique_ptr<KeyboardLayoutTranslator> makeLayoutTranslator() override;
    std::unique_ptr<InputSubscription> observeLayoutChanges(std::function<void()> onChange) override;

private:
    std::optional<std::uint32_t> matchingHotKey(const KeyEvent& event) const;
    bool routeToHotKeys(const KeyEvent& event);

    std::shared_ptr<InputListeners> listeners_;
    std::function<void(std::uint32_t, HotKeyPhase)> sink_;
    std::set<std::pair<std::uint32_t, std::uint64_t>> refused_;
    PressedHotKeys pressedHotKeys_;
    SimulatedLayout layout_;
};

} // namespace vantrel
