// System-wide shortcuts that conflict with ours: taking them over and giving them back.
#pragma once

#include "Runtime/UserDefaults.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

/// One of the five system shortcuts the program may switch off.
class SymbolicHotKey {
public:
    /// The cases, valued by the system's hot-key id.
    enum Case : std::int32_t {
        nextApplication = 1,
        previousApplication = 2,
        nextWindow = 6,
        previousInputSource = 60,
        nextInputSource = 61,
    };

    constexpr SymbolicHotKey(Case value) : value_(value) {}
    /// The case with this id; none for any other id.
    static std::optional<SymbolicHotKey> fromRawValue(std::int32_t rawValue);

    /// The system's hot-key id.
    constexpr std::int32_t rawValue() const { return value_; }
    /// "⌘Tab (1)", "⌘⇧Tab (2)", "⌘` (6)", "⌃Space input source (60)", "⌃⌥Space input source (61)".
    std::string_view description() const;

    /// Every case in declaration order.
    static const std::array<SymbolicHotKey, 5> allCases;
    /// The application and window switching shortcuts.
    static const std::array<SymbolicHotKey, 3> commandTab;
    /// The input-source switching shortcuts.
    static const std::array<SymbolicHotKey, 2> inputSources;

    constexpr bool operator==(const SymbolicHotKey&) const = default;

private:
    Case value_;
};

inline constexpr std::array<SymbolicHotKey, 5> SymbolicHotKey::allCases = {
    nextApplication, previousApplication, nextWindow, previousInputSource, nextInputSource};
inline constexpr std::array<SymbolicHotKey, 3> SymbolicHotKey::commandTab = {nextApplication, previousApplication, nextWindow};
inline constexpr std::array<SymbolicHotKey, 2> SymbolicHotKey::inputSources = {previousInputSource, nextInputSource};

namespace SymbolicHotKeys {

/// The user-defaults key of the prior states.
inline constexpr std::string_view savedStateKey = "symbolicHotKeysOriginalState";

/// Where the prior states are kept (the application's defaults). Until set,
/// an in-memory store is used.
void setUserDefaults(std::shared_ptr<UserDefaults> defaults);
/// The store in use.
std::shared_ptr<UserDefaults> userDefaults();

/// Both the set and the read entry points exist.
bool isAvailable();
/// The shortcut's state; none when it cannot be read.
std::optional<bool> isEnabled(SymbolicHotKey key);
/// Switches each key in order; true when every call succeeded (and for none),
/// false when the entry point is missing.
bool setEnabled(bool enabled, std::span<const SymbolicHotKey> keys);
/// Every case with its state.
std::vector<std::pair<SymbolicHotKey, std::optional<bool>>> status();
/// Records each key's prior state (the first recorded state wins) and
/// switches the keys off. True when every switch succeeded.
bool takeOver(std::span<const SymbolicHotKey> keys);
/// Gives the keys back their recorded prior state (on when none was recorded)
/// and forgets it.
void restore(std::span<const SymbolicHotKey> keys);
/// Gives back every key recorded as taken over.
void restore();
/// The keys recorded as taken over (in no particular order).
std::vector<SymbolicHotKey> takenOver();

/// Parses a saved-state key: a signed 32-bit decimal with an optional sign.
std::optional<std::int32_t> parseHotKeyID(std::string_view text);

/// Copies the saved state and the installed backend's signal-safe setter into
/// the memory a signal handler restores from. Done after every save, when the
/// defaults or the backends change, and by the guard's install.
void prepareSignalRestore();

/// Restores what the last write of the saved state recorded, using only
/// memory prepared in advance and the backend's signal-safe setter: safe to
/// call from a signal handler. The saved state itself is left for the next
/// launch to clear.
void restoreFromSignalHandler() noexcept;

} // namespace SymbolicHotKeys

namespace SymbolicHotKeyGuard {

/// The signals whose handler restores the shortcuts, in installation order:
/// SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT, SIGTRAP, SIGSEGV, SIGBUS, SIGILL, SIGFPE.
std::array<int, 10> handledSignals();

/// Installs, once per process, an exit handler, a terminate handler and the
/// signal handlers that restore every taken-over shortcut. SIGTERM, SIGINT
/// and SIGHUP are left alone when the program already handles or ignores them.
void install();
/// `SymbolicHotKeys::restore()`.
void restore();
/// Launch-time repair of shortcuts a previous run left off; true when
/// anything was repaired.
bool reassertAtLaunch();

} // namespace SymbolicHotKeyGuard

} // namespace vantrel
