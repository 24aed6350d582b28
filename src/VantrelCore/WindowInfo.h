// The window record and tracker snapshot that every module passes around.
#pragma once

#include "VantrelCore/Hasher.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantrel {

/// The window server's number for a window; unique among live windows.
using WindowID = std::uint32_t;
/// Process id of an application.
using ProcessID = std::int32_t;
/// Id of a Space (virtual desktop).
using SpaceID = std::uint64_t;

/// One window as the switcher and search panels show it.
struct WindowInfo {
    /// Not stable across relaunches of the owning application.
    WindowID id = 0;
    /// The owning application's process.
    ProcessID pid = 0;
    /// Absent for processes without a bundle identifier.
    std::optional<std::string> bundleID;
    /// Localized application name.
    std::string appName;
    /// Window title; may be empty.
    std::string title;
    /// Minimized to the Dock.
    bool isMinimized = false;
    /// The owning application is hidden.
    bool isAppHidden = false;
    /// Spaces the window is on; empty when the tracker has no Space for it.
    std::vector<SpaceID> spaceIDs;

    /// The text search scores against: "appName title", or appName alone when
    /// the title is empty.
    std::string searchText() const;

    /// Feeds every field in declaration order (bundleID behind a presence flag,
    /// spaceIDs behind its count).
    void hash(Hasher& hasher) const;

    bool operator==(const WindowInfo&) const = default;
};

/// Everything a tracker knows at one moment.
struct TrackingSnapshot {
    /// All tracked windows, in the tracker's own order.
    std::vector<WindowInfo> windows;
    /// The Space shown on each display.
    std::set<SpaceID> visibleSpaceIDs;
    /// Full-screen application Spaces.
    std::set<SpaceID> fullscreenSpaceIDs;
    /// Space id to the desktop number the user sees for it.
    std::map<SpaceID, int> spaceNumbers;

    bool operator==(const TrackingSnapshot&) const = default;
};

} // namespace vantrel

/// Lets WindowInfo key unordered containers; agrees with WindowInfo::hash.
template <>
struct std::hash<vantrel::WindowInfo> {
    std::size_t operator()(const vantrel::WindowInfo& window) const { return vantrel::hashValue(window); }
};
