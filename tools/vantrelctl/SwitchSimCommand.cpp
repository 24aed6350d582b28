// vantrelctl switch-sim: the switcher and search controllers scripted over sample windows, on virtual time,
// without a display: chords through the hot keys, the search panel, Fast Search, item actions, the pause list.
#include "Command.h"

#include "VantrelCore/KeyCodes.h"

#if VANTRELCTL_HAS_VANTREL

#include "Runtime/ManualRunLoop.h"
#include "Runtime/SerialQueue.h"
#include "Platform/Sim/SimulatedInput.h"
#include "Runtime/UserDefaults.h"
#include "Vantrel/SearchController.h"
#include "Vantrel/SwitcherController.h"
#include "VantrelCore/SelectionWrap.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace vantrelctl {
namespace {

using namespace vantrel;


WindowInfo sampleWindow(WindowID id, ProcessID pid, std::string app, std::string title, std::vector<SpaceID> spaces,
                        bool minimized = false, bool hidden = false)
{
    WindowInfo window;
    window.id = id;
    window.pid = pid;
    window.appName = std::move(app);
    window.title = std::move(title);
    window.spaceIDs = std::move(spaces);
    window.isMinimized = minimized;
    window.isAppHidden = hidden;
    return window;
}

// Most recently used first. Desktop 1 (Space 1) is on screen, Space 2 is
// desktop 2, Space 3 a full-screen Space.
std::vector<WindowInfo> sampleWindows()
{
    return {
        sampleWindow(1, 101, "Firefox", "Release notes", {1}),
        sampleWindow(2, 102, "Terminal", "ssh build-host", {1}),
        sampleWindow(3, 103, "Mail", "Inbox", {2}),
        sampleWindow(4, 102, "Terminal", "vim notes.md", {2}),
        sampleWindow(5, 104, "Code", "SwitcherController.cpp", {1}),
        sampleWindow(6, 105, "Notes", "Groceries", {1}, true),
        sampleWindow(7, 106, "Music", "Now Playing", {3}, false, true),
        sampleWindow(8, 107, "Calendar", "December", {3}),
    };
}

std::string describe(const WindowInfo& window)
{
    std::string text = "#" + std::to_string(window.id) + " " + window.appName;
    if (!window.title.empty())
        text += " — " + window.title;
    if (window.isMinimized)
        text += " (minimized)";
    if (window.isAppHidden)
        text += " (hidden app)";
    return text;
}

/// Prints every line with the virtual time in front.
class Printer {
public:
    Printer(const ManualRunLoop& loop, std::ostream& out) : loop_(loop), out_(out) {}
    void line(const std::string& text) const
    {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(loop_.now().time_since_epoch()).count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%6lld ms] ", static_cast<long long>(ms));
        out_ << stamp << text << "\n";
    }
    void rows(const std::vector<WindowInfo>& items, std::ptrdiff_t selected) const
    {
        for (std::size_t i = 0; i < items.size(); ++i)
            out_ << "              " << (static_cast<std::ptrdiff_t>(i) == selected ? "> " : "  ") << describe(items[i]) << "\n";
    }

private:
    const ManualRunLoop& loop_;
    std::ostream& out_;
};

/// Rows and selection kept as the real panel keeps them, printed as they change.
class PrintingPanel final : public SwitcherPanelInterface {
public:
    PrintingPanel(const Printer& printer, std::string name) : printer_(printer), name_(std::move(name)) {}

    void show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting, const std::optional<ScreenIdentifier>& on,
              bool takeKey) override
    {
        items_ = items;
        selected_ = wrapSelection(selecting, items.size());
        query_.clear();
        visible_ = true;
        printer_.line(name_ + ": show " + std::to_string(items.size()) + " rows" + (on ? " on " + *on : "") +
                      (takeKey ? ", key" : ""));
        printer_.rows(items_, selected_);
    }
    void update(const std::vector<WindowInfo>& items) override
    {
        if (!visible_)
            return;
        if (!items.empty())
            selected_ = keptSelection(items_, selected_, items);
        items_ = items;
        printer_.line(name_ + ": update " + std::to_string(items.size()) + " rows");
        printer_.rows(items_, selected_);
    }
    void select(std::ptrdiff_t index) override
    {
        if (items_.empty())
            return;
        selected_ = wrapSelection(index, items_.size());
        if (visible_)
            printer_.line(name_ + ": select " + std::to_string(selected_) + " " + describe(items_[static_cast<std::size_t>(selected_)]));
    }
    void setQuery(std::string_view query) override
    {
        query_ = std::string(query);
        printer_.line(name_ + ": query \"" + query_ + "\"");
    }
    void hide() override
    {
        if (visible_)
            printer_.line(name_ + ": hide");
        visible_ = false;
    }
    bool isVisible() const override { return visible_; }
    std::optional<ScreenIdentifier> screen() const override
    {
        return visible_ ? std::optional<ScreenIdentifier>("display-1") : std::nullopt;
    }
    void setSpaceNumbers(const std::map<SpaceID, int>&) override {}
    void setVisibleSpaceIDs(const std::set<SpaceID>&) override {}

    /// What the panel's own keys do: Return commits, Escape clears or cancels,
    /// Delete trims the query, other text is proposed as query.
    void key(const std::string& name, const std::string& text = {})
    {
        if (!visible_) {
            printer_.line(name_ + ": not shown, key ignored");
            return;
        }
        if (name == "return") {
            visible_ = false;
            printer_.line(name_ + ": ordered out (commit)");
            bool inside = selected_ >= 0 && static_cast<std::size_t>(selected_) < items_.size();
            if (inside && onCommit)
                onCommit(items_[static_cast<std::size_t>(selected_)]);
            else if (!inside && onCancel)
                onCancel();
        } else if (name == "escape") {
            if (!query_.empty()) {
                if (onQueryChanged)
                    onQueryChanged("");
            } else {
                visible_ = false;
                printer_.line(name_ + ": ordered out (cancel)");
                if (onCancel)
                    onCancel();
            }
        } else if (name == "backspace") {
            if (!query_.empty() && onQueryChanged) {
                std::string shorter = query_;
                // Drop one UTF-8 character, not one byte.
                do
                    shorter.pop_back();
                while (!shorter.empty() && (static_cast<unsigned char>(shorter.back()) & 0xC0) == 0x80);
                onQueryChanged(shorter);
            }
        } else if (onQueryChanged) {
            onQueryChanged(query_ + text);
        }
    }

    /// The selected row's window, when a row is selected.
    std::optional<WindowInfo> selectedWindow() const
    {
        if (selected_ < 0 || static_cast<std::size_t>(selected_) >= items_.size())
            return std::nullopt;
        return items_[static_cast<std::size_t>(selected_)];
    }

private:
    const Printer& printer_;
    std::string name_;
    std::vector<WindowInfo> items_;
    std::ptrdiff_t selected_ = 0;
    std::string query_;
    bool visible_ = false;
};

/// One mirror on a second display, printed the same way.
class PrintingMirrors final : public MirrorPanelsInterface {
public:
    explicit PrintingMirrors(const Printer& printer) : panel_(printer, "mirror") {}
    void show(const std::vector<WindowInfo>& items, std::ptrdiff_t selecting,
              const std::optional<ScreenIdentifier>& excluding) override
    {
        panel_.show(items, selecting, excluding && *excluding == "display-2" ? "display-1" : "display-2", false);
    }
    void update(const std::vector<WindowInfo>& items) override { panel_.update(items); }
    void select(std::ptrdiff_t index) override
    {
        if (panel_.isVisible())
            panel_.select(index);
    }
    void hide() override { panel_.hide(); }

private:
    PrintingPanel panel_;
};

/// The search panel: its own query field, printed as it changes.
class PrintingSearchPanel final : public SearchPanelInterface {
public:
    explicit PrintingSearchPanel(const Printer& printer) : printer_(printer) {}

    void show(const std::vector<WindowInfo>& items, const std::optional<ScreenIdentifier>&) override
    {
        query_.clear();
        rows("show", items);
    }
    void showFast(std::string_view query, const std::vector<WindowInfo>& items, const std::optional<ScreenIdentifier>&) override
    {
        query_ = std::string(query);
        rows("fast show \"" + query_ + "\"", items);
    }
    void update(const std::vector<WindowInfo>& items) override { rows("update", items); }
    void updateFast(std::string_view query, const std::vector<WindowInfo>& items) override
    {
        query_ = std::string(query);
        rows("fast \"" + query_ + "\"", items);
    }
    void select(std::ptrdiff_t index) override
    {
        if (items_.empty())
            return;
        selected_ = wrapSelection(index, items_.size());
        printer_.line("search: select " + std::to_string(selected_) + " " + describe(items_[static_cast<std::size_t>(selected_)]));
    }
    void hide() override
    {
        if (visible_)
            printer_.line("search: hide");
        visible_ = false;
    }
    void cancel() override
    {
        hide();
        if (onCancel)
            onCancel();
    }
    std::string query() const override { return query_; }
    bool isVisible() const override { return visible_; }

    /// The panel's keys: Return commits the selection with the query, Escape
    /// cancels, Delete trims the query, other text extends it.
    void key(const std::string& name, const std::string& text = {})
    {
        if (name == "return") {
            auto chosen = selectedWindow();
            hide();
            if (chosen && onCommit)
                onCommit(*chosen, query_);
        } else if (name == "escape") {
            cancel();
        } else {
            if (name == "backspace" && !query_.empty())
                query_.pop_back();
            else
                query_ += text;
            if (onQueryChanged)
                onQueryChanged(query_);
        }
    }
    std::optional<WindowInfo> selectedWindow() const
    {
        if (selected_ < 0 || static_cast<std::size_t>(selected_) >= items_.size())
            return std::nullopt;
        return items_[static_cast<std::size_t>(selected_)];
    }

private:
    void rows(const std::string& what, const std::vector<WindowInfo>& items)
    {
        items_ = items;
        selected_ = 0;
        visible_ = true;
        printer_.line("search: " + what + ", " + std::to_string(items.size()) + " rows");
        printer_.rows(items_, selected_);
    }

    const Printer& printer_;
    std::vector<WindowInfo> items_;
    std::ptrdiff_t selected_ = 0;
    std::string query_;
    bool visible_ = false;
};

/// The desktop: says what it is asked to do, and lets the script change the
/// frontmost application and end applications.
class SimEnvironment final : public SwitcherEnvironment {
public:
    explicit SimEnvironment(const Printer& printer) : printer_(printer) {}
    std::optional<ProcessID> frontmostProcess() const override { return frontmost; }
    KeyRepeat keyRepeat() const override { return repeat; }
    std::optional<ScreenIdentifier> mainScreen() const override { return "display-1"; }
    WindowFocus::Trace focusWindow(const WindowInfo& window) override
    {
        printer_.line("focus " + describe(window));
        return {};
    }
    std::unique_ptr<Observation> observeFrontmost(FrontmostHandler onChange) override
    {
        frontmostHandler = std::move(onChange);
        return std::make_unique<Observation>();
    }
    bool quitApplication(ProcessID pid) override { return act("quit", pid, "app " + std::to_string(pid)); }
    bool hideApplication(ProcessID pid) override { return act("hide", pid, "app " + std::to_string(pid)); }
    bool closeWindow(const WindowInfo& window) override { return act("close", window.pid, describe(window)); }
    bool minimizeWindow(const WindowInfo& window) override { return act("minimize", window.pid, describe(window)); }

    std::optional<ProcessID> frontmost;
    KeyRepeat repeat;
    FrontmostHandler frontmostHandler;
    /// Applications that quit: actions on them find nothing.
    std::set<ProcessID> quitApps;

private:
    bool act(const std::string& what, ProcessID pid, const std::string& target)
    {
        const bool gone = quitApps.contains(pid);
        printer_.line(what + " " + target + (gone ? ": not running, nothing done" : ""));
        return !gone;
    }
    const Printer& printer_;
};

/// Hands the store whatever the script says the window server did.
class SimTracker final : public WindowTracking {
public:
    void start(ChangeHandler change, FocusHandler focus) override
    {
        onChange = std::move(change);
        onFocus = std::move(focus);
    }
    void stop() override {}
    ChangeHandler onChange;
    FocusHandler onFocus;
};


std::uint64_t parseFlags(const std::string& text)
{
    if (text == "none" || text == "0")
        return 0;
    if (text.rfind("0x", 0) == 0)
        return std::stoull(text.substr(2), nullptr, 16);
    std::uint64_t flags = 0;
    std::stringstream parts(text);
    std::string part;
    while (std::getline(parts, part, '+')) {
        if (part == "cmd" || part == "command")
            flags |= ModifierFlags::command;
        else if (part == "shift")
            flags |= ModifierFlags::shift;
        else if (part == "ctrl" || part == "control")
            flags |= ModifierFlags::control;
        else if (part == "opt" || part == "option" || part == "alt")
            flags |= ModifierFlags::option;
        else
            throw std::invalid_argument("unknown modifier '" + part + "' (cmd, shift, ctrl, opt, none or 0x...)");
    }
    return flags;
}

int milliseconds(const std::string& text)
{
    std::size_t used = 0;
    int value = std::stoi(text, &used);
    if (used != text.size() || value < 0)
        throw std::invalid_argument("not a number of milliseconds: " + text);
    return value;
}

struct Event {
    std::string verb;
    std::vector<std::string> args;
};

// Command-line words: a verb followed by its arguments (`type` takes one word;
// quote it to include blanks).
std::vector<Event> parseWords(const std::vector<std::string>& words)
{
    static const std::map<std::string, int, std::less<>> arity{
        {"press", -1}, {"up", -1}, {"release", 0}, {"flags", 1}, {"type", 1}, {"backspace", 0}, {"escape", 0},
        {"return", 0}, {"wait", 1}, {"close", 1}, {"focus", 1}, {"front", 1}, {"list", 0}, {"search", 0},
        {"fast", 1}, {"action", 1}, {"quit", 1}};
    std::vector<Event> events;
    for (std::size_t i = 0; i < words.size();) {
        auto it = arity.find(words[i]);
        if (it == arity.end())
            throw std::invalid_argument("unknown event '" + words[i] + "'");
        Event event{words[i++], {}};
        int count = it->second;
        if (count < 0) // optional switcher id
            count = (i < words.size() && !arity.contains(words[i])) ? 1 : 0;
        for (int k = 0; k < count; ++k) {
            if (i >= words.size())
                throw std::invalid_argument("'" + event.verb + "' needs an argument");
            event.args.push_back(words[i++]);
        }
        events.push_back(std::move(event));
    }
    return events;
}

// Standard input: one event per line; `type` takes the rest of the line as is;
// blank lines and lines starting with # are skipped.
std::vector<Event> parseLines(std::istream& in)
{
    std::vector<Event> events;
    std::string line;
    while (std::getline(in, line)) {
        auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        line = line.substr(start);
        if (line.rfind("type ", 0) == 0) {
            events.push_back({"type", {line.substr(5)}});
            continue;
        }
        std::stringstream words(line);
        std::vector<std::string> parts;
        for (std::string word; words >> word;)
            parts.push_back(word);
        for (auto& event : parseWords(parts))
            events.push_back(std::move(event));
    }
    return events;
}


std::optional<ItemAction> itemAction(const std::string& name)
{
    static const std::map<std::string, ItemAction, std::less<>> actions{
        {"close", ItemAction::close}, {"quit", ItemAction::quit}, {"minimize", ItemAction::minimize}, {"hide", ItemAction::hide}};
    auto it = actions.find(name);
    return it == actions.end() ? std::nullopt : std::optional<ItemAction>(it->second);
}

/// The key that types `c` on the simulated US layout.
std::uint16_t keyTyping(const SimulatedLayout& layout, char c)
{
    for (const auto& [code, key] : layout.keys)
        if (key.plain == std::string(1, c))
            return code;
    throw std::invalid_argument(std::string("no key types '") + c + "'");
}

// The key of a modifier change that is no Fast Search hold key.
constexpr std::uint16_t modifierKey = KeyCodes::leftControl;

int run(Args argsIn)
{
    std::vector<std::string> args(argsIn.begin(), argsIn.end());
    SettingsStore settingsStore(std::make_shared<MemoryUserDefaults>());
    settingsStore.update([](Settings& s) { s.fastSearchModifier = FastSearchModifier::rightOption; });
    if (auto delay = takeOption(args, "--delay"))
        settingsStore.update([&](Settings& s) { s.showDelayMilliseconds = std::stoll(*delay); });
    if (auto spaces = takeOption(args, "--spaces")) {
        auto filter = fromRawValue<SpacesFilter>(*spaces);
        if (!filter)
            throw std::invalid_argument("--spaces takes allSpaces, visibleAndFullscreen or visibleSpaces");
        settingsStore.update([&](Settings& s) { s.spacesFilter = *filter; });
    }
    if (auto mode = takeOption(args, "--minimized")) {
        auto filter = fromRawValue<WindowFilter>(*mode);
        if (!filter)
            throw std::invalid_argument("--minimized takes show, bottom or hide");
        settingsStore.update([&](Settings& s) { s.minimizedWindows = *filter; });
    }
    if (auto mode = takeOption(args, "--hidden-apps")) {
        auto filter = fromRawValue<WindowFilter>(*mode);
        if (!filter)
            throw std::invalid_argument("--hidden-apps takes show, bottom or hide");
        settingsStore.update([&](Settings& s) { s.hiddenApps = *filter; });
    }
    if (auto pause = takeOption(args, "--pause")) {
        std::vector<std::string> apps;
        std::stringstream parts(*pause);
        for (std::string app; std::getline(parts, app, ',');)
            apps.push_back(app);
        settingsStore.update([&](Settings& s) { s.rules.pauseApps = apps; });
    }
    if (auto fast = takeOption(args, "--fast")) {
        auto modifier = fromRawValue<FastSearchModifier>(*fast);
        if (!modifier)
            throw std::invalid_argument("--fast takes off, fn, capsLock, leftCommand, rightCommand, leftOption or rightOption");
        settingsStore.update([&](Settings& s) { s.fastSearchModifier = *modifier; });
    }
    bool allDisplays = takeFlag(args, "--all-displays");
    if (allDisplays)
        settingsStore.update([](Settings& s) { s.panelDisplayMode = PanelDisplayMode::allDisplays; });
    bool useStdin = takeFlag(args, "-");

    ManualRunLoop loop;
    Printer printer(loop, std::cout);
    SimEnvironment environment(printer);
    if (auto repeat = takeOption(args, "--repeat")) {
        auto comma = repeat->find(',');
        if (comma == std::string::npos)
            throw std::invalid_argument("--repeat takes DELAY,INTERVAL in milliseconds");
        environment.repeat.delay = std::chrono::milliseconds(milliseconds(repeat->substr(0, comma)));
        environment.repeat.interval = std::chrono::milliseconds(milliseconds(repeat->substr(comma + 1)));
    }
    if (auto front = takeOption(args, "--frontmost"))
        environment.frontmost = std::stoi(*front);

    std::vector<Event> events = (useStdin || args.empty()) ? parseLines(std::cin) : parseWords(args);

    // A keyboard of our own: chords reach the controllers through their hot
    // keys, the modifier watcher and the Fast Search tap.
    auto input = std::make_shared<SimulatedInput>();
    input->missingHoldKeys = {FastSearchModifier::fn}; // as on X11
    setCurrentInputBackend(input);
    // Learned shortcuts live for the run only.
    const auto shortcuts = std::filesystem::temp_directory_path() / ("vantrelctl-switch-sim-" + std::to_string(::getpid()) + ".json");

    auto trackerOwned = std::make_unique<SimTracker>();
    SimTracker* tracker = trackerOwned.get();
    WindowStore store(std::move(trackerOwned));
    PrintingPanel panel(printer, "panel");
    PrintingSearchPanel searchPanel(printer);
    // The controller shows mirrors only with --all-displays.
    SwitcherController controller(loop, store, panel, settingsStore, environment, std::make_unique<PrintingMirrors>(printer),
                                  std::make_shared<ManualSerialQueue>(loop));
    SearchController search(loop, store, searchPanel, settingsStore, shortcuts);
    // Wired as the application wires them.
    search.focus = [&](const WindowInfo& window) { controller.focus(window); };
    search.perform = [&](const WindowInfo& window, ItemAction action) { controller.perform(action, window); };
    store.onChange = [&] {
        controller.storeChanged();
        if (searchPanel.isVisible())
            search.queryChanged(searchPanel.query());
    };
    store.start();

    std::vector<WindowInfo> windows = sampleWindows();
    auto publish = [&] {
        TrackingSnapshot snapshot;
        snapshot.windows = windows;
        snapshot.visibleSpaceIDs = {1};
        snapshot.fullscreenSpaceIDs = {3};
        snapshot.spaceNumbers = {{1, 1}, {2, 2}, {3, 3}};
        tracker->onChange(snapshot);
    };
    publish();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        tracker->onFocus(it->id);
    controller.start();
    search.start();

    auto switcher = [&](const Event& event) {
        std::string id = event.args.empty() ? "cmd-tab" : event.args[0];
        for (const auto& config : settingsStore.settings().switchers)
            if (config.id == id)
                return config;
        throw std::invalid_argument("no switcher '" + id + "' (cmd-tab, cmd-grave, ctrl-opt-tab)");
    };
    auto appName = [&](ProcessID pid) {
        for (const auto& window : sampleWindows())
            if (window.pid == pid)
                return std::optional<std::string>(window.appName);
        return std::optional<std::string>();
    };
    // The chord whose key is down, if `isDown`.
    HotKey::Chord down;
    bool isDown = false;
    auto keyDown = [&](HotKey::Chord chord) {
        down = chord;
        isDown = true;
        input->keyDown(static_cast<std::uint16_t>(chord.keyCode), chord.modifiers);
    };
    auto keyUp = [&] {
        if (isDown)
            input->keyUp(static_cast<std::uint16_t>(down.keyCode), down.modifiers);
        isDown = false;
    };
    const std::uint16_t holdKey = keyCode(settingsStore.settings().fastSearchModifier).value_or(0);
    const std::uint64_t holdFlag = [&]() -> std::uint64_t {
        switch (settingsStore.settings().fastSearchModifier) {
        case FastSearchModifier::leftOption:
        case FastSearchModifier::rightOption: return KeyChord::option;
        case FastSearchModifier::leftCommand:
        case FastSearchModifier::rightCommand: return KeyChord::command;
        case FastSearchModifier::fn: return ModifierFlags::function;
        default: return 0;
        }
    }();

    for (const Event& event : events) {
        std::string echo = event.verb;
        for (const auto& arg : event.args)
            echo += " " + arg;
        if ((event.verb == "press" || event.verb == "up") && event.args.empty())
            echo += " cmd-tab";
        if (event.verb != "wait")
            printer.line(echo);
        const std::size_t deliveredBefore = input->delivered.size();
        if (event.verb == "press") {
            keyDown(HotKey::Chord::from(switcher(event).activate));
        } else if (event.verb == "up") {
            auto config = switcher(event);
            if (!config.moveUp)
                throw std::invalid_argument("switcher '" + config.id + "' has no move-up chord");
            keyDown(HotKey::Chord::from(*config.moveUp));
        } else if (event.verb == "release") {
            keyUp();
        } else if (event.verb == "flags") {
            input->flagsChanged(modifierKey, parseFlags(event.args[0]));
        } else if (event.verb == "search") {
            if (auto chord = settingsStore.settings().searchChord) {
                keyDown(HotKey::Chord::from(*chord));
                keyUp();
            }
        } else if (event.verb == "fast") {
            // Hold the key, type (">" down, "<" up, "!" Escape), let go.
            if (isFlagsChanged(settingsStore.settings().fastSearchModifier))
                input->flagsChanged(holdKey, holdFlag);
            else
                input->keyDown(holdKey);
            loop.runPending();
            for (char c : event.args[0] == "-" ? std::string() : event.args[0]) {
                const std::uint16_t key = c == '>' ? KeyCodes::tab : c == '<' ? KeyCodes::up : c == '!' ? KeyCodes::escape : keyTyping(input->layout(), c);
                input->keyDown(key, holdFlag);
                input->keyUp(key, holdFlag);
            }
            if (isFlagsChanged(settingsStore.settings().fastSearchModifier))
                input->flagsChanged(holdKey, 0);
            else
                input->keyUp(holdKey);
        } else if (event.verb == "type" || event.verb == "backspace" || event.verb == "escape" || event.verb == "return") {
            const std::string text = event.verb == "type" ? event.args[0] : std::string();
            if (searchPanel.isVisible())
                searchPanel.key(event.verb == "type" ? "text" : event.verb, text);
            else
                panel.key(event.verb == "type" ? "text" : event.verb, text);
        } else if (event.verb == "action") {
            auto action = itemAction(event.args[0]);
            if (!action)
                throw std::invalid_argument("unknown action '" + event.args[0] + "' (close, minimize, quit, hide)");
            auto chosen = searchPanel.isVisible() ? searchPanel.selectedWindow() : panel.isVisible() ? panel.selectedWindow() : std::nullopt;
            auto& onAction = searchPanel.isVisible() ? searchPanel.onAction : panel.onAction;
            if (!chosen)
                printer.line("no panel shows a selected row");
            else if (onAction)
                onAction(*chosen, *action);
        } else if (event.verb == "wait") {
            loop.advance(std::chrono::milliseconds(milliseconds(event.args[0])));
        } else if (event.verb == "close") {
            WindowID id = static_cast<WindowID>(std::stoul(event.args[0]));
            std::erase_if(windows, [id](const WindowInfo& w) { return w.id == id; });
            publish();
        } else if (event.verb == "quit") {
            ProcessID pid = std::stoi(event.args[0]);
            environment.quitApps.insert(pid);
            std::erase_if(windows, [pid](const WindowInfo& w) { return w.pid == pid; });
            publish();
        } else if (event.verb == "focus") {
            tracker->onFocus(static_cast<WindowID>(std::stoul(event.args[0])));
        } else if (event.verb == "front") {
            environment.frontmost = event.args[0] == "none" ? std::nullopt : std::optional<ProcessID>(std::stoi(event.args[0]));
            if (environment.frontmostHandler)
                environment.frontmostHandler(std::nullopt, environment.frontmost ? appName(*environment.frontmost) : std::nullopt);
        } else if (event.verb == "list") {
            printer.rows(store.ordered(), -1);
        }
        loop.runPending();
        for (std::size_t i = deliveredBefore; i < input->delivered.size(); ++i)
            if (input->delivered[i].kind == KeyEvent::Kind::keyDown)
                printer.line("the frontmost program gets key " + std::to_string(input->delivered[i].keyCode));
    }
    const auto& session = controller.session();
    printer.line(session ? "end of script; session " + session->config.id + " still open" : "end of script; no session");
    search.stop();
    controller.stop();
    setCurrentInputBackend(nullptr);
    std::filesystem::remove(shortcuts);
    return 0;
}

const Registration registration{Command{
    "switch-sim",
    "run the switcher and search controllers over sample windows",
    "usage: vantrelctl switch-sim [OPTIONS] [EVENT...]\n"
    "       vantrelctl switch-sim [OPTIONS] - < script\n\n"
    "Runs the switcher and search controllers on virtual time over eight\n"
    "sample windows (most recently used first: 1 Firefox, 2 Terminal, 3 Mail,\n"
    "4 Terminal, 5 Code, 6 Notes (minimized), 7 Music (hidden app),\n"
    "8 Calendar; desktop 1 is on screen, Space 3 is full-screen) on a\n"
    "simulated keyboard: chords reach them through their hot keys, modifier\n"
    "changes through the modifier watcher, Fast Search through its key tap.\n"
    "Prints every panel call, focus and item action. Without events on the\n"
    "command line, reads them from standard input, one per line (`type` then\n"
    "takes the rest of the line).\n\n"
    "events:\n"
    "  press [SWITCHER]   activate chord's key goes down (cmd-tab, cmd-grave, ctrl-opt-tab)\n"
    "  up [SWITCHER]      move-up chord's key goes down\n"
    "  release            that key goes up (key repeat stops)\n"
    "  flags MODS         modifiers now held: none, cmd, cmd+shift, ctrl+opt, 0x...\n"
    "  search             the search chord (ctrl+Space) pressed\n"
    "  fast KEYS          hold the Fast Search key, type KEYS (> down, < up,\n"
    "                     ! Escape; - for none), let go\n"
    "  type TEXT          typed into the open panel\n"
    "  backspace | escape | return   the open panel's keys\n"
    "  action NAME        close, minimize, quit or hide on the open panel's row\n"
    "  wait MS            let virtual time pass\n"
    "  close ID           a window closes\n"
    "  quit PID           an application ends with its windows\n"
    "  focus ID           a window gets focused by other means\n"
    "  front PID|none     the frontmost application changes (see --pause)\n"
    "  list               print the windows in most-recently-used order\n\n"
    "options:\n"
    "  --delay MS         show delay (default 150)\n"
    "  --repeat D,I       key-repeat delay and interval in ms (default 500,83)\n"
    "  --frontmost PID    frontmost application at start\n"
    "  --pause APPS       comma-separated names whose frontmost windows pause the chords\n"
    "  --fast MOD         Fast Search key (default rightOption; fn is absent here)\n"
    "  --spaces MODE      allSpaces, visibleAndFullscreen or visibleSpaces\n"
    "  --minimized MODE   show, bottom or hide (also --hidden-apps)\n"
    "  --all-displays     mirror the panel on a second display\n\n"
    "example:\n"
    "  vantrelctl switch-sim press release wait 80 flags none\n"
    "  vantrelctl switch-sim press wait 200 release press type term wait 10 flags none\n"
    "  vantrelctl switch-sim search type term return fast te fast '>'\n"
    "  vantrelctl switch-sim --pause Mail front 103 press release flags none\n",
    run,
}};

} // namespace
} // namespace vantrelctl

#endif
