// Global hot keys: one exclusive grab of a key chord, with press and release
// callbacks on the main run loop.
#pragma once

#include "InputEngine/InputBackend.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace vantrel {

struct KeyChord;

class HotKey : public std::enable_shared_from_this<HotKey> {
public:
    /// The grabbed key and modifiers.
    struct Chord {
        /// Carbon virtual key code.
        std::uint32_t keyCode = 0;
        /// `ModifierFlags` shift, control, option, command; other bits are
        /// ignored when registering.
        std::uint64_t modifiers = 0;
        bool operator==(const Chord&) const = default;

        /// From a settings chord on the current backend's keyboard: the
        /// key-above-Tab placeholder becomes key 10 on ISO keyboards, else 50.
        static Chord from(const KeyChord& chord);
        /// The same on a keyboard of the given type.
        static Chord from(const KeyChord& chord, KeyboardType keyboard);
    };

    /// Registers `chord` on the current backend. Null when there is no
    /// backend or the grab is refused; an id is consumed either way.
    static std::shared_ptr<HotKey> make(Chord chord, std::function<void()> handler);
    /// The same on the given backend.
    static std::shared_ptr<HotKey> make(const std::shared_ptr<InputBackend>& backend, Chord chord,
                                        std::function<void()> handler);

    ~HotKey();
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    /// Unique within the process, never reused.
    std::uint32_t id() const { return id_; }
    /// The chord as registered.
    Chord chord() const { return chord_; }
    /// True from registration until `unregister`.
    bool isRegistered() const { return registered_; }

    /// Called on release; may be set or replaced at any time.
    std::function<void()> onRelease;

    /// Gives the grab back and leaves the registry (which may release this
    /// object). Safe to call twice.
    void unregister();

    /// Live hot keys by id. The table owns them: a registered hot key stays
    /// alive until `unregister`, whatever its creator keeps.
    static const std::map<std::uint32_t, std::shared_ptr<HotKey>>& registry();

    /// Delivers an event for hot key `id`: press calls the handler, release
    /// `onRelease`; unknown ids do nothing. Backends call it through their sink.
    static void dispatch(std::uint32_t id, HotKeyPhase phase);

private:
    HotKey(std::uint32_t id, Chord chord, std::function<void()> handler, std::weak_ptr<InputBackend> backend);

    std::uint32_t id_;
    Chord chord_;
    std::function<void()> handler_;
    std::weak_ptr<InputBackend> backend_;
    bool registered_ = false;
};

} // namespace vantrel
