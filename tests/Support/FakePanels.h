// Recording switcher and mirror panels: they behave like the real ones and log every call.
#pragma once

#include "Vantrel/SearchPanels.h"
#include "Vantrel/SwitcherEnvironment.h"
#include "Vantrel/SwitcherPanels.h"

#include <algorithm>
#include <string>
#include <vector>

namespace vantrel::test {

/// Window numbers joined by commas: "3,2,1".
inline std::string idList(const std::vector<WindowInfo>& items)
{
    std::string text;
    for (const auto& window : items) {
        if (!text.empty())
            text += ",";
        text += std::to_string(window.id);
    }
    return text;
}

/// A window of `app` (process `pid`) on `spaces`.
inline WindowInfo window(WindowID id, ProcessID pid, std::string app, std::string title = "", std::vector<SpaceID> spaces = {})
{
    return {.id = id, .pid = pid, .bundleID = {}, .appName = std::move(app), .title = std::move(title), .spaceIDs = std::move(spaces)};
}

/// Rows, selection and visibility as the panel was last told them. Keeping
/// and wrapping the selection is the real panels' own rule: the fakes leave
/// it to their owner, so a selection it forgets to send shows.
struct FakePanelState {
    std::vector<WindowInfo> items;
    std::ptrdiff_t selectedIndex = 0;
    bool visible = false;

    void show(const std::vector<WindowInfo>& rows, std::ptrdiff_t index)
    {
        items = rows;
        selectedIndex = index;
        visible = true;
    }
    // Only while visible.
    void update(const std::vector<WindowInfo>& rows)
    {
        if (visible)
            items = rows;
    }
    void select(std::ptrdiff_t index) { selectedIndex = index; }
};

/// The calls both fakes record alike, applied to `state` as the real panels do.
struct PanelRecording {
    std::vector<std::string> calls;
    FakePanelState state;

    /// How many recorded calls start with `prefix`.
    std::size_t count(std::string_view prefix) const
    {
        return static_cast<std::size_t>(std::ranges::count_if(calls, [&](const std::string& call) { return call.starts_with(prefix); }));
    }
    void recordUpdate(const std::vector<WindowInfo>& items)
    {
        calls.push_back("update " + idList(items));
        state.update(items);
    }
    void recordHide()
    {
        calls.push_back("hide");
        state.visible = false;
    }
    void recordSelect(std::ptrdiff_t index)
    {
        calls.push_back("select " + std::to_string(index));
        state.select(index);
    }
};

/// The switcher panel. `calls` reads like "show 3,2,1 @1 key", "update 3,1",
/// "select 0", "query ab", "hide", "spaces".
class FakeSwitcherPanel final : public SwitcherPanelInterface, public PanelRecording {
public:
    void show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting, const std::optional<ScreenIdentifier>& on,
              bool takeKey) override
    {
        calls.push_back("show " + idList(items) + " @" + std::to_string(selecting) + (on ? " on " + *on : "") +
                        (takeKey ? " key" : ""));
        state.show(items, selecting);
        query = "";
    }
    void update(const std::vector<WindowInfo>& items) override { recordUpdate(items); }
    void select(std::ptrdiff_t index) override { recordSelect(index); }
    void setQuery(std::string_view text) override
    {
        calls.push_back("query " + std::string(text));
        query = std::string(text);
    }
    void hide() override { recordHide(); }
    bool isVisible() const override { return state.visible; }
    std::optional<ScreenIdentifier> screen() const override { return state.visible ? assignedScreen : std::nullopt; }
    void setSpaceNumbers(const std::map<SpaceID, int>& numbers) override { spaceNumbers = numbers; }
    void setVisibleSpaceIDs(const std::set<SpaceID>& ids) override { visibleSpaceIDs = ids; }

    /// Return pressed: orders out, then reports the selected window (or a
    /// cancel when nothing is selectable).
    void pressReturn()
    {
        state.visible = false;
        bool inside = state.selectedIndex >= 0 && static_cast<std::size_t>(state.selectedIndex) < state.items.size();
        if (inside && onCommit)
            onCommit(state.items[static_cast<std::size_t>(state.selectedIndex)]);
        else if (!inside && onCancel)
            onCancel();
    }
    /// Escape with an empty query: orders out and reports a cancel.
    void pressEscape()
    {
        state.visible = false;
        if (onCancel)
            onCancel();
    }
    /// Typed characters: proposed as the query followed by them.
    void type(std::string_view characters)
    {
        if (onQueryChanged)
            onQueryChanged(query + std::string(characters));
    }

    std::string query;
    std::map<SpaceID, int> spaceNumbers;
    std::set<SpaceID> visibleSpaceIDs;
    /// The display the panel shows on; none models a panel that has no screen.
    std::optional<ScreenIdentifier> assignedScreen = "screen-1";
};

/// The mirrors. `calls` reads like "show 3,2,1 @1 excluding screen-1",
/// "update 3,1", "select 0", "hide".
class FakeMirrorPanels final : public MirrorPanelsInterface, public PanelRecording {
public:
    void show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting,
              const std::optional<ScreenIdentifier>& excluding) override
    {
        calls.push_back("show " + idList(items) + " @" + std::to_string(selecting) + " excluding " +
                        (excluding ? *excluding : "-"));
        state.show(items, selecting);
    }
    void update(const std::vector<WindowInfo>& items) override { recordUpdate(items); }
    void select(std::ptrdiff_t index) override { recordSelect(index); }
    void hide() override { recordHide(); }
};

/// The search panel. `calls` reads like "show 3,2,1", "showFast ab 3,1",
/// "update 3,1", "updateFast abc 3", "select 1", "hide", "cancel".
class FakeSearchPanel final : public SearchPanelInterface, public PanelRecording {
public:
    void show(const std::vector<WindowInfo>& items, const std::optional<ScreenIdentifier>&) override
    {
        showRows("show ", "", items);
    }
    void showFast(std::string_view query, const std::vector<WindowInfo>& items, const std::optional<ScreenIdentifier>&) override
    {
        showRows("showFast ", query, items);
    }
    void update(const std::vector<WindowInfo>& items) override { updateRows("update ", typed, items); }
    void updateFast(std::string_view query, const std::vector<WindowInfo>& items) override
    {
        updateRows("updateFast " + std::string(query) + " ", query, items);
    }
    void select(std::ptrdiff_t index) override { recordSelect(index); }
    void hide() override { recordHide(); }
    void cancel() override
    {
        calls.push_back("cancel");
        state.visible = false;
    }
    std::string query() const override { return typed; }
    bool isVisible() const override { return state.visible; }

    /// The user types: the field's text grows and is reported.
    void type(std::string_view characters)
    {
        typed += characters;
        onQueryChanged(typed);
    }
    /// Return: orders out, then commits the selected row with the query.
    void pressReturn()
    {
        state.visible = false;
        if (const auto index = static_cast<std::size_t>(state.selectedIndex); index < state.items.size())
            onCommit(state.items[index], typed);
    }

    std::string typed;

private:
    void showRows(const std::string& call, std::string_view query, const std::vector<WindowInfo>& items)
    {
        calls.push_back(call + (query.empty() ? "" : std::string(query) + " ") + idList(items));
        state.show(items, 0);
        typed = std::string(query);
    }
    // Both modes select the first of the new rows.
    void updateRows(const std::string& call, std::string_view query, const std::vector<WindowInfo>& items)
    {
        calls.push_back(call + idList(items));
        typed = std::string(query);
        state.items = items;
        state.selectedIndex = 0;
    }
};

/// A desktop whose frontmost application, key repeat and main display the
/// test sets, and which records the windows it was asked to focus and the
/// item actions it carried out.
class FakeSwitcherEnvironment final : public SwitcherEnvironment {
public:
    std::optional<ProcessID> frontmostProcess() const override { return frontmost; }
    KeyRepeat keyRepeat() const override { return repeat; }
    std::optional<ScreenIdentifier> mainScreen() const override { return main; }
    WindowFocus::Trace focusWindow(const WindowInfo& window) override
    {
        focused.push_back(window);
        if (onFocus)
            onFocus(window);
        return focusTrace;
    }
    std::unique_ptr<Observation> observeFrontmost(FrontmostHandler onChange) override
    {
        frontmostHandler = std::move(onChange);
        return std::make_unique<Observation>();
    }
    bool quitApplication(ProcessID pid) override { return act("quit", pid); }
    bool hideApplication(ProcessID pid) override { return act("hide", pid); }
    bool closeWindow(const WindowInfo& window) override { return act("close", window.id); }
    bool minimizeWindow(const WindowInfo& window) override { return act("minimize", window.id); }

    /// Another application comes to the front.
    void bringToFront(std::optional<std::string> bundleID, std::optional<std::string> name)
    {
        if (frontmostHandler)
            frontmostHandler(bundleID, name);
    }

    std::optional<ProcessID> frontmost;
    KeyRepeat repeat;
    std::optional<ScreenIdentifier> main = "screen-main";
    std::vector<WindowInfo> focused;
    /// Called for each focus request, after it was recorded.
    std::function<void(const WindowInfo&)> onFocus;
    /// What every focus attempt reports (no steps: success).
    WindowFocus::Trace focusTrace;
    FrontmostHandler frontmostHandler;
    /// Actions carried out, as "close 3" (window) or "quit 10" (process).
    std::vector<std::string> actions;

private:
    bool act(const std::string& what, std::uint64_t target)
    {
        actions.push_back(what + " " + std::to_string(target));
        return true;
    }
};

} // namespace vantrel::test
