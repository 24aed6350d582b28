// Global hot keys: the process-wide id counter, the registry and dispatch.
#include "InputEngine/HotKey.h"

#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"


namespace vantrel {

namespace {
// Main thread only, like every hot-key operation, so neither needs a lock.
std::uint32_t nextId = 1;

std::map<std::uint32_t, std::shared_ptr<HotKey>>& table()
{
    static std::map<std::uint32_t, std::shared_ptr<HotKey>> registered;
    return registered;
}

} // namespace

HotKey::Chord HotKey::Chord::from(const KeyChord& chord, KeyboardType keyboard)
{
    std::uint32_t keyCode = chord.keyCode;
    if (keyCode == KeyChord::keyAboveTab)
        keyCode = keyboard == KeyboardType::iso ? KeyCodes::isoSection : KeyCodes::grave;
    return Chord{keyCode, chord.modifiers};
}

HotKey::Chord HotKey::Chord::from(const KeyChord& chord)
{
    auto backend = currentInputBackend();
    return from(chord, backend ? backend->keyboardType() : KeyboardType::ansi);
}

HotKey::HotKey(std::uint32_t id, Chord chord, std::function<void()> handler, std::weak_ptr<InputBackend> backend)
    : id_(id), chord_(chord), handler_(std::move(handler)), backend_(std::move(backend))
{
}

HotKey::~HotKey() = default;

std::shared_ptr<HotKey> HotKey::make(Chord chord, std::function<void()> handler)
{
    return make(currentInputBackend(), chord, std::move(handler));
}

std::shared_ptr<HotKey> HotKey::make(const std::shared_ptr<InputBackend>& backend, Chord chord,
                                     std::function<void()> handler)
{
    const std::uint32_t id = nextId++;
    if (!backend)
        return nullptr;
    // Cheap, and right even for a backend that replaced an earlier one at
    // the same address.
    backend->setHotKeySink([](std::uint32_t hotKeyId, HotKeyPhase phase) { HotKey::dispatch(hotKeyId, phase); });
    if (!backend->registerHotKey(id, chord.keyCode, chord.modifiers))
        return nullptr;
    std::shared_ptr<HotKey> hotKey(new HotKey(id, chord, std::move(handler), backend));
    hotKey->registered_ = true;
    table().emplace(id, hotKey);
    return hotKey;
}

void HotKey::unregister()
{
    if (registered_) {
        registered_ = false;
        if (auto backend = backend_.lock())
            backend->unregisterHotKey(id_);
    }
    // Keeps this object alive until the function returns, even when the
    // registry held the last reference.
    auto node = table().extract(id_);
}

const std::map<std::uint32_t, std::shared_ptr<HotKey>>& HotKey::registry()
{
    return table();
}

void HotKey::dispatch(std::uint32_t id, HotKeyPhase phase)
{
    auto it = table().find(id);
    if (it == table().end())
        return;
    // The handler may unregister this very hot key.
    std::shared_ptr<HotKey> hotKey = it->second;
    if (phase == HotKeyPhase::press) {
        if (hotKey->handler_)
            hotKey->handler_();
    } else if (hotKey->onRelease) {
        hotKey->onRelease();
    }
}

} // namespace vantrel
