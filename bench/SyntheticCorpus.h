// A deterministic corpus of realistic window texts ("application title") for
// the search benchmarks and the fzy comparison.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vantrel::bench {

/// `count` window texts of about 60 bytes; the same for the same count and
/// seed on every machine (own generator, no <random> distributions).
inline std::vector<std::string> syntheticWindowTexts(std::size_t count, std::uint64_t seed = 1)
{
    static const char* const apps[] = {"Safari", "Google Chrome", "Firefox", "Terminal", "iTerm2", "Code", "Xcode",
        "Mail", "Slack", "Finder", "Preview", "Notes", "Calendar", "Messages", "Spotify", "Music", "Zoom", "Discord",
        "Thunderbird", "LibreOffice Writer", "GIMP", "Inkscape", "Obsidian", "Emacs", "kitty", "Alacritty", "Nautilus",
        "Evince", "Signal", "Telegram Desktop", "KeePassXC", "VLC media player", "Blender", "Postman", "DBeaver"};
    static const char* const words[] = {"main", "index", "README", "notes", "report", "budget", "invoice", "draft",
        "release", "server", "client", "config", "settings", "window", "switcher", "search", "panel", "tracker",
        "design", "review", "meeting", "agenda", "roadmap", "backlog", "issue", "pull", "request", "build", "test",
        "deploy", "kernel", "scheduler", "network", "profile", "summary", "holiday", "photos", "recipe", "travel",
        "Quarterly", "Weekly", "Project", "Team", "Personal", "Archive", "Inbox", "Drafts", "Sent", "Starred"};
    static const char* const exts[] = {".cpp", ".h", ".md", ".txt", ".py", ".json", ".pdf", ".odt", ".png", ".swift"};
    static const char* const sites[] = {"GitHub", "Stack Overflow", "Wikipedia", "YouTube", "Hacker News", "Gmail",
        "Google Docs", "Jira", "Confluence", "Figma", "Reddit", "MDN Web Docs"};

    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
    auto next = [&state](std::size_t bound) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::size_t>(state % bound);
    };
    auto pick = [&](const auto& table) { return std::string(table[next(std::size(table))]); };

    std::vector<std::string> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        // Appending piece by piece (rather than chained operator+) also keeps
        // GCC 12's -Wrestrict false positive away.
        std::string title;
        auto add = [&title](std::initializer_list<std::string> pieces) {
            for (const auto& piece : pieces)
                title.append(piece);
        };
        switch (next(6)) {
        case 0: // a document in an editor
            add({pick(words), "_", pick(words), pick(exts), " \u2014 ", pick(words), "-", pick(words), " (Git: ", pick(words), ")"});
            break;
        case 1: // a web page
            add({pick(words), " ", pick(words), " ", pick(words), " ", pick(words), " - ", pick(sites), " \u2014 Private"});
            break;
        case 2: // a shell
            add({"~/src/", pick(words), "/", pick(words), " \u2014 zsh \u2014 ", std::to_string(80 + next(60)), "\u00D7",
                std::to_string(24 + next(30))});
            break;
        case 3: // mail
            add({pick(words), " (", std::to_string(next(500)), " unread) - ", pick(words), "." , pick(words),
                "@example.org - Mail"});
            break;
        case 4: // chat
            add({"#", pick(words), "-", pick(words), " | ", pick(words), " ", pick(words), " Workspace | ", pick(words)});
            break;
        default: // a camel-cased project window
            add({pick(words), pick(words), "Controller", pick(exts), " - ", pick(words), "Kit [", pick(words), "]"});
            break;
        }
        std::string text = pick(apps);
        text.push_back(' ');
        text.append(title);
        texts.push_back(std::move(text));
    }
    return texts;
}

} // namespace vantrel::bench
