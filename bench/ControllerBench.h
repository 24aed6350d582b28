// What the controller benchmarks share: a desktop of sample windows and a switcher panel that only counts.
#pragma once

#include "Vantrel/SwitcherPanels.h"
#include "VantrelCore/WindowInfo.h"

#include <array>
#include <chrono>
#include <string>
#include <vector>

namespace vantrel::bench {

/// `count` windows of 25 applications, titled "word word — N" from 20 common
/// words. A `spread` desktop has a third word before N ("word word — word N"),
/// every 17th window minimized and the windows on Spaces 1 to 4.
inline std::vector<WindowInfo> sampleDesktop(std::size_t count, bool spread = false)
{
    static constexpr std::array<const char*, 25> apps{
        "Firefox", "Terminal", "Mail", "Code", "Notes", "Music", "Calendar", "Files", "Slack",
        "Preview", "Photos", "Maps", "Calculator", "Settings", "Messages", "Chromium", "Spotify",
        "Zoom", "Obsidian", "Inkscape", "GIMP", "LibreOffice Writer", "LibreOffice Calc", "Thunderbird", "Xterm"};
    static constexpr std::array<const char*, 20> words{
        "release", "notes", "inbox", "draft", "build", "ssh", "host", "main", "switcher", "controller",
        "review", "budget", "2026", "report", "meeting", "design", "issue", "search", "window", "index.html"};
    std::vector<WindowInfo> windows;
    for (std::size_t i = 0; i < count; ++i) {
        WindowInfo window;
        window.id = static_cast<WindowID>(i + 1);
        window.pid = static_cast<ProcessID>(100 + i % 25);
        window.appName = apps[i % 25];
        window.title = std::string(words[i % 20]) + " " + words[(i * 7 + 3) % 20] + " — ";
        if (spread) {
            window.title += std::string(words[(i * 13 + 5) % 20]) + " ";
            window.isMinimized = i % 17 == 0;
            window.spaceIDs = {static_cast<SpaceID>(1 + i % 4)};
        }
        window.title += std::to_string(i);
        windows.push_back(std::move(window));
    }
    return windows;
}

/// A switcher panel that keeps nothing: it counts its shows, notes when the
/// last one came and how many rows it was last given.
struct CountingSwitcherPanel final : SwitcherPanelInterface {
    using Clock = std::chrono::steady_clock;

    void show(const std::vector<WindowInfo>& items, std::ptrdiff_t, const std::optional<ScreenIdentifier>&, bool) override
    {
        shownAt = Clock::now();
        ++shows;
        rows = items.size();
        visible = true;
    }
    void update(const std::vector<WindowInfo>& items) override { rows = items.size(); }
    void select(std::ptrdiff_t) override {}
    void setQuery(std::string_view) override {}
    void hide() override { visible = false; }
    bool isVisible() const override { return visible; }
    std::optional<ScreenIdentifier> screen() const override { return std::nullopt; }
    void setSpaceNumbers(const std::map<SpaceID, int>&) override {}
    void setVisibleSpaceIDs(const std::set<SpaceID>&) override {}

    Clock::time_point shownAt;
    std::size_t shows = 0;
    std::size_t rows = 0;
    bool visible = false;
};

} // namespace vantrel::bench
