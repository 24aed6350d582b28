// The login session: whether the screen is locked, and the lock notifications.
#pragma once

#include <string_view>

namespace vantrel::Session {

/// Distributed notification posted when the screen locks.
inline constexpr std::string_view screenLockedNotification = "com.apple.screenIsLocked";
/// Distributed notification posted when the screen unlocks.
inline constexpr std::string_view screenUnlockedNotification = "com.apple.screenIsUnlocked";

/// Read afresh on every call from the session dictionary's
/// "CGSSessionScreenIsLocked"; false whenever that cannot be read.
bool isScreenLocked();

} // namespace vantrel::Session
