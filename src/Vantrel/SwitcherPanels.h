// What the switcher controller needs of the switcher panel and its mirrors on other displays.
#pragma once

#include "VantrelCore/WindowInfo.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// A display, named by the workspace's screen identifier.
using ScreenIdentifier = std::string;

/// What the owner of a panel is asked to do with a row's window or its
/// application; both panels deliver these with the selected window.
enum class ItemAction { close, quit, minimize, hide };

/// The floating list shown while a switcher chord is held. The panel orders
/// itself out before it reports a commit or a cancel. Main thread only.
class SwitcherPanelInterface {
public:
    virtual ~SwitcherPanelInterface() = default;

    /// Replaces the rows, clears the query, selects `selecting` (wrapped) and
    /// brings the panel to front on `on` (none: the panel picks the active
    /// display); it becomes the key window when `takeKey`.
    virtual void show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting,
                      const std::optional<ScreenIdentifier>& on, bool takeKey) = 0;
    /// Replaces the rows of a visible panel; does nothing while hidden.
    virtual void update(const std::vector<WindowInfo>& items) = 0;
    /// Selects a row, wrapping around.
    virtual void select(std::ptrdiff_t index) = 0;
    /// Shows `query` in the header.
    virtual void setQuery(std::string_view query) = 0;
    /// Orders the panel out without calling back.
    virtual void hide() = 0;
    /// Whether the panel is on screen.
    virtual bool isVisible() const = 0;
    /// The display the panel is on, if it has one.
    virtual std::optional<ScreenIdentifier> screen() const = 0;
    /// Space id to the desktop number shown in row badges.
    virtual void setSpaceNumbers(const std::map<SpaceID, int>& spaceNumbers) = 0;
    /// The Spaces on screen now; rows of other Spaces get a badge.
    virtual void setVisibleSpaceIDs(const std::set<SpaceID>& visibleSpaceIDs) = 0;

    /// The user chose a window (Return); the panel is already hidden.
    std::function<void(const WindowInfo&)> onCommit;
    /// The user dismissed the panel; it is already hidden.
    std::function<void()> onCancel;
    /// The user edited the query; carries the whole proposed text. The panel
    /// does not change its query until `setQuery`.
    std::function<void(const std::string&)> onQueryChanged;
    /// The user asked for an item action on the selected row.
    std::function<void(const WindowInfo&, ItemAction)> onAction;
};

/// Read-only copies of the switcher panel on the other displays.
class MirrorPanelsInterface {
public:
    virtual ~MirrorPanelsInterface() = default;

    /// Shows the list on every attached display except `excluding`.
    virtual void show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting,
                      const std::optional<ScreenIdentifier>& excluding) = 0;
    /// Replaces the rows of every visible mirror.
    virtual void update(const std::vector<WindowInfo>& items) = 0;
    /// Selects a row (wrapping) on every visible mirror.
    virtual void select(std::ptrdiff_t index) = 0;
    /// Orders every mirror out.
    virtual void hide() = 0;
};

} // namespace vantrel
