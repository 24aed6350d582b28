// Spaces (virtual desktops): reading them per display and switching between them.
#pragma once

#include "SystemBridge/WindowServerBackend.h"

#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantrel {

/// One space.
struct SpaceInfo {
    /// The window server's id ("id64").
    SpaceID id = 0;
    /// "ManagedSpaceID"; 0 when absent.
    std::int64_t managedID = 0;
    /// "uuid"; empty when absent.
    std::string uuid;
    /// "type"; 0 (an ordinary desktop) when absent.
    std::int64_t type = 0;

    /// Type 4 is a full-screen space; every other type is not.
    bool isFullscreen() const { return type == 4; }
    bool operator==(const SpaceInfo&) const = default;
};

/// The spaces of one display.
struct DisplaySpaces {
    /// "Display Identifier".
    std::string displayUUID;
    /// The id of the display's current space; 0 when it has no usable one.
    SpaceID currentSpaceID = 0;
    /// In the window server's order.
    std::vector<SpaceInfo> spaces;
    bool operator==(const DisplaySpaces&) const = default;
};

namespace Spaces {

/// The window-list option the tracker passes to `windowIDs`.
inline constexpr std::int32_t trackerWindowListOptions = 2;

/// Parses one space dictionary; none when it has no numeric "id64".
std::optional<SpaceInfo> parseSpace(const nlohmann::json& dictionary);
/// Parses the managed-display array, skipping what is malformed.
std::vector<DisplaySpaces> parseDisplays(const std::optional<nlohmann::json>& managedDisplays);

/// The connection and the managed-display slot are both present.
bool isAvailable();
/// The active space; none when unavailable or 0.
std::optional<SpaceID> activeSpaceID();
/// Every display's spaces, in the window server's order; empty when unavailable.
std::vector<DisplaySpaces> displays();
/// Each display's current space id (0 for a display without one).
std::set<SpaceID> visibleSpaceIDs();
/// The spaces of one window, in the order the window server lists them.
std::vector<SpaceID> spaceIDs(WindowID windowID);
/// The windows on one space, in window-server order.
std::vector<WindowID> windowIDs(SpaceID spaceID, std::int32_t options);
/// The front-process-of-space entry point is present.
bool canSetFrontProcess();
/// Switches the display that lists `spaceID` to it. True once the switch was
/// asked for (or nothing needed doing); false when no display lists the space.
bool makeCurrent(SpaceID spaceID);
/// Makes `pid` the front process of `spaceID` without switching to it.
bool setFrontProcess(SpaceID spaceID, Pid pid);

} // namespace Spaces

/// The space tables of one walk over the displays, as snapshots carry them.
struct SpaceTables {
    /// Every display's current space.
    std::set<SpaceID> visibleSpaceIDs;
    /// Spaces numbered 1, 2, 3 ... across displays in window-server order.
    std::map<SpaceID, int> spaceNumbers;
    /// Spaces of type 4.
    std::set<SpaceID> fullscreenSpaceIDs;
    /// Window → the spaces holding it, in walk order.
    std::map<WindowID, std::vector<SpaceID>> windowSpaces;
    bool operator==(const SpaceTables&) const = default;
};

namespace Spaces {
/// Builds the tables from `displays`; `windowsIn` lists a space's windows
/// (normally `windowIDs(id, trackerWindowListOptions)`).
SpaceTables tables(const std::vector<DisplaySpaces>& displays,
                   const std::function<std::vector<WindowID>(SpaceID)>& windowsIn);
} // namespace Spaces

} // namespace vantrel
