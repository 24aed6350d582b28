// What the search controller needs of the search panel.
#pragma once

#include "Vantrel/SwitcherPanels.h"
#include "VantrelCore/WindowInfo.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// The type-to-find panel: a query field above the ranked windows. In normal
/// mode it takes the keyboard and the user types into its field; in fast mode
/// the owner feeds it the query and never gives it the keyboard. The panel
/// orders itself out before it reports a commit or a cancel. Main thread only.
class SearchPanelInterface {
public:
    virtual ~SearchPanelInterface() = default;

    /// Normal mode: clears the query, shows `items` with the first selected on
    /// `on` (none: the main display) and takes the keyboard.
    virtual void show(const std::vector<WindowInfo>& items, const std::optional<ScreenIdentifier>& on) = 0;
    /// Fast mode: shows `query` and `items` without taking the keyboard.
    virtual void showFast(std::string_view query, const std::vector<WindowInfo>& items,
                          const std::optional<ScreenIdentifier>& on) = 0;
    /// Replaces the rows and selects the first.
    virtual void update(const std::vector<WindowInfo>& items) = 0;
    /// Fast mode: replaces the query and the rows, and selects the first row.
    virtual void updateFast(std::string_view query, const std::vector<WindowInfo>& items) = 0;
    /// Selects a row, wrapping around; 0 when there are no rows.
    virtual void select(std::ptrdiff_t index) = 0;
    /// Orders the panel out without calling back.
    virtual void hide() = 0;
    /// Orders the panel out and calls `onCancel`.
    virtual void cancel() = 0;
    /// The query field's text.
    virtual std::string query() const = 0;
    /// Whether the panel is on screen.
    virtual bool isVisible() const = 0;

    /// The user edited the query; carries the whole text.
    std::function<void(const std::string&)> onQueryChanged;
    /// The user chose a window; carries it and the query at that moment. The
    /// panel is already hidden.
    std::function<void(const WindowInfo&, const std::string&)> onCommit;
    /// The user dismissed the panel; it is already hidden.
    std::function<void()> onCancel;
    /// The user asked for an item action on the selected row.
    std::function<void(const WindowInfo&, ItemAction)> onAction;
};

} // namespace vantrel
