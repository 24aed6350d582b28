// vantrelctl switch-sim: a scripted switcher session over sample windows, on virtual time, without a display.
#include "Command.h"

#if VANTRELCTL_HAS_VANTREL

#include "Runtime/ManualRunLoop.h"
#include "Runtime/SerialQueue.h"
#include "Runtime/UserDefaults.h"
#include "Vantrel/SwitcherController.h"
#include "VantrelCore/SelectionWrap.h"

#include <cstdio>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace vantrelctl {
namespace {

using namespace vantrel;

constexpr std::uint64_t shiftFlag = 0x20000;
constexpr std::uint64_t controlFlag = 0x40000;
constexpr std::uint64_t optionFlag = 0x80000;
constexpr std::uint64_t commandFlag = 0x100000;

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
        std::optional<WindowID> keep;
        if (selected_ >= 0 && static_cast<std::size_t>(selected_) < items_.size())
            keep = items_[static_cast<std::size_t>(selected_)].id;
        items_ = items;
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (keep && items_[i].id == *keep)
                selected_ = static_cast<std::ptrdiff_t>(i);
        if (!items_.empty())
            selected_ = std::min<std::ptrdiff_t>(selected_, static_cast<std::ptrdiff_t>(items_.size()) - 1);
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
        return nullptr;
    }
    bool quitApplication(ProcessID pid) override { return act("quit", pid, pid); }
    bool hideApplication(ProcessID pid) override { return act("hide", pid, pid); }
    bool closeWindow(const WindowInfo& window) override { return act("close", window.pid, window.id); }
    bool minimizeWindow(const WindowInfo& window) override { return act("minimize", window.pid, window.id); }

    std::optional<ProcessID> frontmost;
    KeyRepeat repeat;
    FrontmostHandler frontmostHandler;
    /// Applications that quit: actions on them find nothing.
    std::set<ProcessID> quitApps;

private:
    bool act(const std::string& what, ProcessID pid, std::uint64_t target)
    {
        if (quitApps.contains(pid)) {
            printer_.line(what + " " + std::to_string(target) + ": nothing there");
            return false;
        }
        printer_.line(what + " " + std::to_string(target));
        return true;
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
            flags |= commandFlag;
        else if (part == "shift")
            flags |= shiftFlag;
        else if (part == "ctrl" || part == "control")
            flags |= controlFlag;
        else if (part == "opt" || part == "option" || part == "alt")
            flags |= optionFlag;
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
        {"return", 0}, {"wait", 1}, {"close", 1}, {"focus", 1}, {"front", 1}, {"list", 0}};
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

int run(Args argsIn)
{
    std::vector<std::string> args(argsIn.begin(), argsIn.end());
    SettingsStore settingsStore(std::make_shared<MemoryUserDefaults>());
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

    auto trackerOwned = std::make_unique<SimTracker>();
    SimTracker* tracker = trackerOwned.get();
    WindowStore store(std::move(trackerOwned));
    PrintingPanel panel(printer, "panel");
    // The controller shows mirrors only with --all-displays.
    SwitcherController controller(loop, store, panel, settingsStore, environment, std::make_unique<PrintingMirrors>(printer),
                                  std::make_shared<ManualSerialQueue>(loop));
    controller.installPanelCallbacks();
    store.onChange = [&] { controller.storeChanged(); };
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

    auto switcher = [&](const Event& event) {
        std::string id = event.args.empty() ? "cmd-tab" : event.args[0];
        for (const auto& config : settingsStore.settings().switchers)
            if (config.id == id)
                return config;
        throw std::invalid_argument("no switcher '" + id + "' (cmd-tab, cmd-grave, ctrl-opt-tab)");
    };

    for (const Event& event : events) {
        std::string echo = event.verb;
        for (const auto& arg : event.args)
            echo += " " + arg;
        if ((event.verb == "press" || event.verb == "up") && event.args.empty())
            echo += " cmd-tab";
        if (event.verb != "wait")
            printer.line(echo);
        if (event.verb == "press") {
            auto config = switcher(event);
            controller.activate(config);
            controller.startRepeat(+1, config);
        } else if (event.verb == "up") {
            auto config = switcher(event);
            controller.moveUp(config);
            controller.startRepeat(-1, config);
        } else if (event.verb == "release") {
            controller.stopRepeat();
        } else if (event.verb == "flags") {
            controller.flagsChanged(parseFlags(event.args[0]));
        } else if (event.verb == "type") {
            panel.key("text", event.args[0]);
        } else if (event.verb == "backspace" || event.verb == "escape" || event.verb == "return") {
            panel.key(event.verb);
        } else if (event.verb == "wait") {
            loop.advance(std::chrono::milliseconds(milliseconds(event.args[0])));
        } else if (event.verb == "close") {
            WindowID id = static_cast<WindowID>(std::stoul(event.args[0]));
            std::erase_if(windows, [id](const WindowInfo& w) { return w.id == id; });
            publish();
        } else if (event.verb == "focus") {
            tracker->onFocus(static_cast<WindowID>(std::stoul(event.args[0])));
        } else if (event.verb == "front") {
            environment.frontmost = event.args[0] == "none" ? std::nullopt : std::optional<ProcessID>(std::stoi(event.args[0]));
        } else if (event.verb == "list") {
            printer.rows(store.ordered(), -1);
        }
        loop.runPending();
    }
    const auto& session = controller.session();
    printer.line(session ? "end of script; session " + session->config.id + " still open" : "end of script; no session");
    return 0;
}

const Registration registration{Command{
    "switch-sim",
    "run a scripted switcher session over sample windows",
    "usage: vantrelctl switch-sim [OPTIONS] [EVENT...]\n"
    "       vantrelctl switch-sim [OPTIONS] - < script\n\n"
    "Runs the switcher controller on virtual time over eight sample windows\n"
    "(most recently used first: 1 Firefox, 2 Terminal, 3 Mail, 4 Terminal,\n"
    "5 Code, 6 Notes (minimized), 7 Music (hidden app), 8 Calendar; desktop 1\n"
    "is on screen, Space 3 is full-screen) and prints every panel call and the\n"
    "focused window. Without events on the command line, reads them from\n"
    "standard input, one per line (`type` then takes the rest of the line).\n\n"
    "events:\n"
    "  press [SWITCHER]   activate chord pressed (cmd-tab, cmd-grave, ctrl-opt-tab)\n"
    "  up [SWITCHER]      move-up chord pressed\n"
    "  release            the chord's key released (key repeat stops)\n"
    "  flags MODS         modifiers now held: none, cmd, cmd+shift, ctrl+opt, 0x...\n"
    "  type TEXT          typed into the panel\n"
    "  backspace | escape | return   panel keys\n"
    "  wait MS            let virtual time pass\n"
    "  close ID           a window closes\n"
    "  focus ID           a window gets focused by other means\n"
    "  front PID|none     the frontmost application changes\n"
    "  list               print the windows in most-recently-used order\n\n"
    "options:\n"
    "  --delay MS         show delay (default 150)\n"
    "  --repeat D,I       key-repeat delay and interval in ms (default 500,83)\n"
    "  --frontmost PID    frontmost application at start\n"
    "  --spaces MODE      allSpaces, visibleAndFullscreen or visibleSpaces\n"
    "  --minimized MODE   show, bottom or hide (also --hidden-apps)\n"
    "  --all-displays     mirror the panel on a second display\n\n"
    "example:\n"
    "  vantrelctl switch-sim press wait 80 release flags none\n"
    "  vantrelctl switch-sim press wait 200 press type term wait 10 flags none\n",
    run,
}};

} // namespace
} // namespace vantrelctl

#endif
