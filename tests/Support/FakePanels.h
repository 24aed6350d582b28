// Recording switcher, mirror and search panels and a recording switcher environment: they hold what they were
// told and log every call.
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
    for (const auto& window : items)
        text += (text.empty() ? "" : ",") + std::to_string(window.id);
    return text;
}

/// A window of `app` (process `pid`) on `spaces`.
inline WindowInfo window(WindowID id, ProcessID pid, std::string app, std::string title = "", std::vector<SpaceID> spaces = {})
{
    return {.id = id, .pid = pid, .bundleID = {}, .appName = std::move(app), .title = std::move(title), .spaceIDs = std::move(spaces)};
}

/// A panel `Interface` that records its calls, as "update 3,1", "select 0" or
/// "hide", and holds the rows, selection and visibility it was last told.
/// Keeping and wrapping the selection is the real panels' own rule: the fakes
/// leave it to their owner, so a selection it forgets to send shows.
template <class Interface>
struct PanelRecording : Interface {
    std::vector<std::string> calls;
    std::vector<WindowInfo> items;
    std::ptrdiff_t selectedIndex = 0;
    bool visible = false;

    /// How many recorded calls start with `prefix`.
    std::size_t count(std::string_view prefix) const
    {
        return static_cast<std::size_t>(std::ranges::count_if(calls, [&](const std::string& call) { return call.starts_with(prefix); }));
    }
    // Only while visible.
    void update(const std::vector<WindowInfo>& rows) override
    {
        calls.push_back("update " + idList(rows));
        if (visible)
            items = rows;
    }
    void select(std::ptrdiff_t index) override
    {
        calls.push_back("select " + std::to_string(index));
        selectedIndex = index;
    }
    void hide() override
    {
        calls.push_back("hide");
        visible = false;
    }

protected:
    void recordShow(std::string call, const std::vector<WindowInfo>& rows, std::ptrdiff_t index)
    {
        calls.push_back(std::move(call));
        items = rows;
        selectedIndex = index;
        visible = true;
    }
};

/// The switcher panel. `calls` reads like "show 3,2,1 @1 key", "update 3,1",
/// "select 0", "query ab", "hide".
class FakeSwitcherPanel final : public PanelRecording<SwitcherPanelInterface> {
public:
    void show(const std::vector<WindowInfo>& rows, std::ptrdiff_t selecting, const std::optional<ScreenIdentifier>& on,
              bool takeKey) override
    {
        recordShow("show " + idList(rows) + " @" + std::to_string(selecting) + (on ? " on " + *on : "") + (takeKey ? " key" : ""),
                   rows, selecting);
        query = "";
    }
    void setQuery(std::string_view text) override
    {
        calls.push_back("query " + std::string(text));
        query = std::string(text);
    }
    bool isVisible() const override { return visible; }
    std::optional<ScreenIdentifier> screen() const override { return visible ? assignedScreen : std::nullopt; }
    void setSpaceNumbers(const std::map<SpaceID, int>& numbers) override { spaceNumbers = numbers; }
    void setVisibleSpaceIDs(const std::set<SpaceID>& ids) override { visibleSpaceIDs = ids; }

    /// Return pressed: orders out, then reports the selected window (or a
    /// cancel when nothing is selectable).
    void pressReturn()
    {
        visible = false;
        if (selectedIndex >= 0 && static_cast<std::size_t>(selectedIndex) < items.size())
            onCommit(items[static_cast<std::size_t>(selectedIndex)]);
        else
            onCancel();
    }
    /// Typed characters: proposed as the query followed by them.
    void type(std::string_view characters) { onQueryChanged(query + std::string(characters)); }

    std::string query;
    std::map<SpaceID, int> spaceNumbers;
    std::set<SpaceID> visibleSpaceIDs;
    /// The display the panel shows on; none models a panel that has no screen.
    std::optional<ScreenIdentifier> assignedScreen = "screen-1";
};

/// The mirrors. `calls` reads like "show 3,2,1 @1 excluding screen-1",
/// "update 3,1", "select 0", "hide".
class FakeMirrorPanels final : public PanelRecording<MirrorPanelsInterface> {
public:
    void show(const std::vector<WindowInfo>& rows, std::ptrdiff_t selecting,
              const std::optional<ScreenIdentifier>& excluding) override
    {
        recordShow("show " + idList(rows) + " @" + std::to_string(selecting) + " excluding " + excluding.value_or("-"), rows,
                   selecting);
    }
};

/// The search panel. `calls` reads like "show 3,2,1", "showFast ab 3,1",
/// "update 3,1", "updateFast abc 3", "select 1", "hide", "cancel". Both
/// modes select the first of new rows, shown or not.
class FakeSearchPanel final : public PanelRecording<SearchPanelInterface> {
public:
    void show(const std::vector<WindowInfo>& rows, const std::optional<ScreenIdentifier>&) override
    {
        showRows("show ", "", rows);
    }
    void showFast(std::string_view query, const std::vector<WindowInfo>& rows, const std::optional<ScreenIdentifier>&) override
    {
        showRows("showFast ", query, rows);
    }
    void update(const std::vector<WindowInfo>& rows) override { updateRows("update " + idList(rows), typed, rows); }
    void updateFast(std::string_view query, const std::vector<WindowInfo>& rows) override
    {
        updateRows("updateFast " + std::string(query) + " " + idList(rows), query, rows);
    }
    void cancel() override
    {
        calls.push_back("cancel");
        visible = false;
    }
    std::string query() const override { return typed; }
    bool isVisible() const override { return visible; }

    /// The user types: the field's text grows and is reported.
    void type(std::string_view characters)
    {
        typed += characters;
        onQueryChanged(typed);
    }
    /// Return: orders out, then commits the selected row with the query.
    void pressReturn()
    {
        visible = false;
        if (const auto index = static_cast<std::size_t>(selectedIndex); index < items.size())
            onCommit(items[index], typed);
    }

    std::string typed;

private:
    void showRows(const std::string& call, std::string_view query, const std::vector<WindowInfo>& rows)
    {
        recordShow(call + (query.empty() ? "" : std::string(query) + " ") + idList(rows), rows, 0);
        typed = std::string(query);
    }
    void updateRows(std::string call, std::string_view query, const std::vector<WindowInfo>& rows)
    {
        calls.push_back(std::move(call));
        typed = std::string(query);
        items = rows;
        selectedIndex = 0;
    }
};

/// A desktop whose frontmost application and key repeat the test sets, and
/// which records the windows it was asked to focus and the item actions it
/// carried out.
class FakeSwitcherEnvironment final : public SwitcherEnvironment {
public:
    std::optional<ProcessID> frontmostProcess() const override { return frontmost; }
    KeyRepeat keyRepeat() const override { return repeat; }
    std::optional<ScreenIdentifier> mainScreen() const override { return "screen-main"; }
    WindowFocus::Trace focusWindow(const WindowInfo& window) override
    {
        focused.push_back(window.id);
        return focusTrace;
    }
    std::unique_ptr<Observation> observeFrontmost(FrontmostHandler onChange) override
    {
        bringToFront = std::move(onChange);
        return std::make_unique<Observation>();
    }
    bool quitApplication(ProcessID pid) override { return act("quit", pid); }
    bool hideApplication(ProcessID pid) override { return act("hide", pid); }
    bool closeWindow(const WindowInfo& window) override { return act("close", window.id); }
    bool minimizeWindow(const WindowInfo& window) override { return act("minimize", window.id); }

    std::optional<ProcessID> frontmost;
    KeyRepeat repeat;
    std::vector<WindowID> focused;
    /// What every focus attempt reports (no steps: success).
    WindowFocus::Trace focusTrace;
    /// Another application comes to the front: the observer's handler.
    FrontmostHandler bringToFront;
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
