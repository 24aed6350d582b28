// System-wide shortcuts that conflict with ours: taking them over and giving them back.
#include "SystemBridge/SymbolicHotKeys.h"

#include "SystemBridge/BridgeState.h"
#include "SystemBridge/SkyLight.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>

namespace vantrel {

std::optional<SymbolicHotKey> SymbolicHotKey::fromRawValue(std::int32_t rawValue)
{
    for (auto key : allCases)
        if (key.rawValue() == rawValue)
            return key;
    return std::nullopt;
}

std::string_view SymbolicHotKey::description() const
{
    switch (value_) {
    case nextApplication: return "\u2318Tab (1)";
    case previousApplication: return "\u2318\u21e7Tab (2)";
    case nextWindow: return "\u2318` (6)";
    case previousInputSource: return "\u2303Space input source (60)";
    case nextInputSource: return "\u2303\u2325Space input source (61)";
    }
    return "?";
}

namespace SymbolicHotKeys {

namespace {

using SavedState = std::map<std::string, bool>;

struct DefaultsHolder {
    std::mutex mutex;
    std::shared_ptr<UserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
};

DefaultsHolder& defaultsHolder()
{
    static DefaultsHolder holder;
    return holder;
}

// What a signal handler restores: the recorded (id, prior state) pairs of the
// last saved state and the backend's signal-safe setter, kept in lock-free
// atomics so that the handler only loads plain values. `count` is cleared
// before the entries change and set after, so a handler never reads a
// half-written table.
struct PreparedRestore {
    static constexpr int capacity = 5;
    std::atomic<int> count{0};
    std::atomic<std::int32_t> ids[capacity];
    std::atomic<bool> states[capacity];
    std::atomic<CGError (*)(void*, std::int32_t, bool) noexcept> set{nullptr};
    std::atomic<void*> context{nullptr};
};

PreparedRestore prepared;
// Keeps the backend behind the prepared setter alive while it is prepared.
std::mutex preparedOwnerMutex;
std::shared_ptr<WindowServerBackend> preparedOwner;

struct SavedEntry {
    std::string text;
    SymbolicHotKey key;
    bool state;
};

/// The saved entries that name a known shortcut; the others are left alone.
std::vector<SavedEntry> entriesOf(const SavedState& saved)
{
    std::vector<SavedEntry> entries;
    for (const auto& [text, state] : saved)
        if (auto id = parseHotKeyID(text))
            if (auto key = SymbolicHotKey::fromRawValue(*id))
                entries.push_back({text, *key, state});
    return entries;
}

void prepare(const SavedState& saved)
{
    auto server = detail::currentState()->backends.windowServer;
    SignalSafeHotKeySetter setter = server ? server->signalSafeHotKeySetter() : SignalSafeHotKeySetter{};
    std::lock_guard lock(preparedOwnerMutex);
    prepared.count.store(0);
    prepared.set.store(setter.set);
    prepared.context.store(setter.context);
    preparedOwner = setter ? server : nullptr;
    int n = 0;
    for (const auto& entry : entriesOf(saved)) {
        if (n == PreparedRestore::capacity)
            break;
        prepared.ids[n].store(entry.key.rawValue());
        prepared.states[n].store(entry.state);
        ++n;
    }
    prepared.count.store(n);
}

SavedState readSaved()
{
    SavedState saved;
    auto value = userDefaults()->object(savedStateKey);
    if (!value || !value->is_object())
        return saved;
    for (const auto& [key, state] : value->items()) {
        if (!state.is_boolean())
            return {};
        saved[key] = state.get<bool>();
    }
    return saved;
}

void writeSaved(const SavedState& saved)
{
    if (saved.empty()) {
        userDefaults()->remove(savedStateKey);
    } else {
        nlohmann::json value = nlohmann::json::object();
        for (const auto& [key, state] : saved)
            value[key] = state;
        userDefaults()->setObject(savedStateKey, std::move(value));
    }
    prepare(saved);
}

void restoreKeys(SavedState& saved, std::span<const SymbolicHotKey> keys)
{
    auto set = SkyLight::setSymbolicHotKeyEnabled();
    for (auto key : keys) {
        bool state = true;
        auto it = saved.find(std::to_string(key.rawValue()));
        if (it != saved.end()) {
            state = it->second;
            saved.erase(it);
        }
        if (set)
            set(key.rawValue(), state);
    }
}

} // namespace

void setUserDefaults(std::shared_ptr<UserDefaults> defaults)
{
    auto& holder = defaultsHolder();
    {
        std::lock_guard lock(holder.mutex);
        holder.defaults = defaults ? std::move(defaults) : std::make_shared<MemoryUserDefaults>();
    }
    prepareSignalRestore();
}

std::shared_ptr<UserDefaults> userDefaults()
{
    auto& holder = defaultsHolder();
    std::lock_guard lock(holder.mutex);
    return holder.defaults;
}

std::optional<std::int32_t> parseHotKeyID(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

bool isAvailable()
{
    return static_cast<bool>(SkyLight::setSymbolicHotKeyEnabled()) && static_cast<bool>(SkyLight::isSymbolicHotKeyEnabled());
}

std::optional<bool> isEnabled(SymbolicHotKey key)
{
    auto read = SkyLight::isSymbolicHotKeyEnabled();
    if (!read)
        return std::nullopt;
    return read(key.rawValue());
}

bool setEnabled(bool enabled, std::span<const SymbolicHotKey> keys)
{
    auto set = SkyLight::setSymbolicHotKeyEnabled();
    if (!set)
        return false;
    bool ok = true;
    for (auto key : keys)
        ok = set(key.rawValue(), enabled) == 0 && ok;
    return ok;
}

std::vector<std::pair<SymbolicHotKey, std::optional<bool>>> status()
{
    std::vector<std::pair<SymbolicHotKey, std::optional<bool>>> result;
    for (auto key : SymbolicHotKey::allCases)
        result.emplace_back(key, isEnabled(key));
    return result;
}

bool takeOver(std::span<const SymbolicHotKey> keys)
{
    auto saved = readSaved();
    auto read = SkyLight::isSymbolicHotKeyEnabled();
    for (auto key : keys) {
        auto text = std::to_string(key.rawValue());
        if (saved.count(text) == 0)
            saved[text] = read ? read(key.rawValue()) : true;
    }
    writeSaved(saved);
    return setEnabled(false, keys);
}

void restore(std::span<const SymbolicHotKey> keys)
{
    auto saved = readSaved();
    restoreKeys(saved, keys);
    writeSaved(saved);
}

void restore()
{
    // Each entry gives back its own recorded state, whichever spelling of the
    // id it was saved under ("+1" as well as "1").
    auto saved = readSaved();
    auto set = SkyLight::setSymbolicHotKeyEnabled();
    for (const auto& entry : entriesOf(saved)) {
        saved.erase(entry.text);
        if (set)
            set(entry.key.rawValue(), entry.state);
    }
    writeSaved(saved);
}

std::vector<SymbolicHotKey> takenOver()
{
    std::vector<SymbolicHotKey> keys;
    for (const auto& entry : entriesOf(readSaved()))
        keys.push_back(entry.key);
    return keys;
}

void prepareSignalRestore()
{
    prepare(readSaved());
}

void restoreFromSignalHandler() noexcept
{
    auto set = prepared.set.load();
    void* context = prepared.context.load();
    int count = prepared.count.load();
    if (set == nullptr)
        return;
    for (int i = 0; i < count && i < PreparedRestore::capacity; ++i)
        set(context, prepared.ids[i].load(), prepared.states[i].load());
}

} // namespace SymbolicHotKeys

namespace SymbolicHotKeyGuard {

namespace {

std::atomic<bool> installed{false};
std::terminate_handler previousTerminate = nullptr;

void restoreAtExit()
{
    SymbolicHotKeys::restore();
}

[[noreturn]] void restoreOnTerminate()
{
    SymbolicHotKeys::restore();
    if (previousTerminate != nullptr)
        previousTerminate();
    std::abort();
}

void restoreOnSignal(int signal)
{
    SymbolicHotKeys::restoreFromSignalHandler();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

} // namespace

std::array<int, 10> handledSignals()
{
    return {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT, SIGTRAP, SIGSEGV, SIGBUS, SIGILL, SIGFPE};
}

void install()
{
    if (installed.exchange(true))
        return;
    // The exit handler must run before the objects it uses are destroyed, so
    // they are created before it is registered.
    (void)detail::currentState();
    (void)SymbolicHotKeys::userDefaults();
    SymbolicHotKeys::prepareSignalRestore();
    std::atexit(restoreAtExit);
    previousTerminate = std::set_terminate(restoreOnTerminate);
    for (int signal : handledSignals()) {
        // A quit the program already handles (its own handler, or an ignored
        // hang-up under nohup) goes through its orderly exit, which restores;
        // taking it over would turn that quit into a signal death.
        const bool quitSignal = signal == SIGTERM || signal == SIGINT || signal == SIGHUP;
        struct sigaction current {};
        if (quitSignal && sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = restoreOnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

void restore()
{
    SymbolicHotKeys::restore();
}

bool reassertAtLaunch()
{
    bool repaired = false;
    if (!SymbolicHotKeys::takenOver().empty()) {
        SymbolicHotKeys::restore();
        repaired = true;
    }
    auto read = SkyLight::isSymbolicHotKeyEnabled();
    if (!read)
        return repaired;
    bool allEnabled = true;
    for (auto key : SymbolicHotKey::commandTab)
        allEnabled = read(key.rawValue()) && allEnabled;
    if (allEnabled)
        return repaired;
    if (auto set = SkyLight::setSymbolicHotKeyEnabled())
        for (auto key : SymbolicHotKey::commandTab)
            set(key.rawValue(), true);
    return true;
}

} // namespace SymbolicHotKeyGuard

} // namespace vantrel
