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

namespace detail {
/// The corpora's own generator: the same numbers on every machine.
struct Draw {
    std::uint64_t state;

    explicit Draw(std::uint64_t seed)
        : state(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull)
    {
    }
    std::size_t operator()(std::size_t bound)
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::size_t>(state % bound);
    }
    template <class Table>
    std::string pick(const Table& table)
    {
        return std::string(table[(*this)(std::size(table))]);
    }
};
} // namespace detail

/// `count` long window texts, 120 bytes on average: editors and file
/// managers showing deep paths, browsers showing whole URLs with queries,
/// terminals running commands on files.
inline std::vector<std::string> syntheticLongTitles(std::size_t count, std::uint64_t seed = 1)
{
    static const char* const dirs[] = {"home", "alex", "src", "vantrel", "build", "release", "tests", "include",
        "Documents", "Projects", "2024", "invoices", "node_modules", "packages", "lib", "share", "config", "backup",
        "photos", "Downloads", "workspace", "kernel", "drivers", "gpu", "net", "ipv4", "tools", "scripts"};
    static const char* const names[] = {"main", "SearchRanker", "index", "README", "Makefile", "settings",
        "window_tracker", "panel-layout", "CHANGELOG", "report_final", "budget-2024", "schema", "router", "utils"};
    static const char* const exts[] = {".cpp", ".h", ".md", ".txt", ".py", ".json", ".yaml", ".rs", ".ts", ".pdf"};
    static const char* const hosts[] = {"github.com", "docs.example.org", "en.wikipedia.org", "stackoverflow.com",
        "mail.google.com", "jira.internal.corp", "www.youtube.com", "developer.mozilla.org"};
    static const char* const words[] = {"search", "issue", "pull", "questions", "wiki", "watch", "browse", "docs",
        "Web", "API", "Element", "release", "notes", "compare", "blob", "tree", "commits"};
    static const char* const apps[] = {"Visual Studio Code", "Firefox", "Google Chrome", "Terminal", "Files",
        "Kate", "GNU Emacs", "Konsole", "gedit", "Chromium"};
    detail::Draw draw(seed);
    auto path = [&](std::size_t depth) {
        std::string out;
        for (std::size_t k = 0; k < depth; ++k) {
            out.push_back('/');
            out.append(draw.pick(dirs));
        }
        return out;
    };
    std::vector<std::string> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string text;
        switch (draw(4)) {
        case 0: // an editor: file, its folder, the application
            text.append(draw.pick(names)).append(draw.pick(exts)).append(" - ").append(path(3 + draw(6)));
            text.append(" - ").append(draw.pick(apps));
            break;
        case 1: // a browser showing the address
            text.append("https://").append(draw.pick(hosts)).append(path(1 + draw(4))).append("/");
            text.append(draw.pick(words)).append("?q=").append(draw.pick(words)).append("+").append(draw.pick(names));
            text.append("&page=").append(std::to_string(draw(40))).append(" \u2014 ").append(draw.pick(apps));
            break;
        case 2: // a terminal running a command
            text.append(draw.pick(names)).append("@").append(draw.pick(dirs)).append(": ~").append(path(2 + draw(5)));
            text.append(" \u2014 vim ").append(draw.pick(names)).append(draw.pick(exts)).append(" \u2014 ");
            text.append(std::to_string(80 + draw(120))).append("\u00D7").append(std::to_string(24 + draw(40)));
            break;
        default: // a page title and its URL
            text.append(draw.pick(words)).append(" ").append(draw.pick(words)).append(" | ").append(draw.pick(names));
            text.append(" (").append(draw.pick(hosts)).append(path(2 + draw(3))).append(") - ").append(draw.pick(apps));
            break;
        }
        texts.push_back(std::move(text));
    }
    return texts;
}

/// `count` window texts mostly beyond Latin: Cyrillic, Greek, CJK and
/// Arabic titles with emoji, in the applications' usual frames.
inline std::vector<std::string> syntheticNonLatinTitles(std::size_t count, std::uint64_t seed = 1)
{
    static const char* const words[] = {
        // Cyrillic
        "Документы", "отчёт", "Входящие", "Настройки", "проект", "Бюджет", "встреча", "Заметки", "Поиск",
        "Терминал", "Сервер", "Загрузки",
        // Greek
        "Έγγραφα", "αναφορά", "Εισερχόμενα", "Ρυθμίσεις", "σύσκεψη", "Σημειώσεις", "προϋπολογισμός",
        // CJK
        "文档", "报告", "收件箱", "设置", "会议记录", "プロジェクト", "議事録", "検索", "予算", "회의", "보고서", "설정",
        // Arabic
        "المستندات", "تقرير", "البريد الوارد", "الإعدادات", "اجتماع", "ملاحظات", "الميزانية"};
    static const char* const emoji[] = {"\U0001F4C1", "\U0001F4E7", "\U0001F525", "\u2705", "\U0001F680",
        "\U0001F4DD", "\u2B50", "\U0001F44D\U0001F3FD", "\U0001F1E9\U0001F1EA"};
    static const char* const apps[] = {"Firefox", "Telegram", "LibreOffice Writer", "Files", "Thunderbird",
        "Visual Studio Code", "Terminal", "WPS Office", "Chromium"};
    static const char* const exts[] = {".odt", ".pdf", ".txt", ".docx", ".md"};
    detail::Draw draw(seed);
    std::vector<std::string> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string text;
        switch (draw(4)) {
        case 0: // a document
            text.append(draw.pick(words)).append("_").append(draw.pick(words)).append(draw.pick(exts));
            text.append(" \u2014 ").append(draw.pick(apps));
            break;
        case 1: // a chat with emoji
            text.append(draw.pick(emoji)).append(" ").append(draw.pick(words)).append(" ").append(draw.pick(words));
            text.append(" (").append(std::to_string(draw(99))).append(") \u2013 ").append(draw.pick(apps));
            break;
        case 2: // a web page
            text.append(draw.pick(words)).append(" ").append(draw.pick(words)).append(" ").append(draw.pick(emoji));
            text.append(" - ").append(draw.pick(words)).append(" \u2014 ").append(draw.pick(apps));
            break;
        default: // a folder
            text.append(draw.pick(words)).append(" / ").append(draw.pick(words)).append(" / ").append(draw.pick(words));
            text.append(" - ").append(draw.pick(apps));
            break;
        }
        texts.push_back(std::move(text));
    }
    return texts;
}

/// `count` window texts of about 40 bytes, mostly ASCII: documents,
/// folders, shells and pages in office and developer applications, where
/// about three lines in ten have one word from elsewhere (accented Latin,
/// Cyrillic, Greek, CJK, Hangul, Arabic, an emoji). Some of those are
/// characters the plain collation does not cover, which puts every text
/// tied with such a line under approximate collation keys.
inline std::vector<std::string> syntheticMixedTitles(std::size_t count, std::uint64_t seed = 1)
{
    static const char* const apps[] = {"Mozilla Firefox", "Google Chrome", "Visual Studio Code", "GNU Emacs",
        "Terminal", "Konsole", "LibreOffice Calc", "LibreOffice Writer", "Thunderbird", "Slack", "Files", "GIMP",
        "Inkscape", "VLC media player", "Zoom Workplace", "Signal", "Document Viewer", "Okular", "Discord"};
    static const char* const words[] = {"report", "budget", "meeting", "notes", "draft", "invoice", "project",
        "design", "review", "summary", "plan", "todo", "config", "server", "deploy", "index", "main", "test", "build",
        "issues", "pull request", "dashboard", "settings", "calendar", "inbox", "photos", "music", "video", "backup",
        "release", "quarterly", "analysis", "proposal", "handbook"};
    static const char* const elsewhere[] = {"R\u00E9sum\u00E9", "na\u00EFve", "Stra\u00DFe", "Z\u00FCrich",
        "caf\u00E9", "S\u00E3o Paulo", "Krak\u00F3w", "\u043E\u0442\u0447\u0451\u0442",
        "\u0432\u0441\u0442\u0440\u0435\u0447\u0430", "\u0391\u03B8\u03AE\u03BD\u03B1", "\u4F1A\u8B70",
        "\u691C\u7D22", "\uD504\uB85C\uC81D\uD2B8", "\u0645\u0644\u0627\u062D\u0638\u0627\u062A",
        "\U0001F4C1", "\U0001F3B5", "\u2713", "\u00DCber", "\u00D8resund"};
    static const char* const exts[] = {".txt", ".md", ".py", ".cpp", ".pdf", ".xlsx", ".docx", ".png", ""};
    detail::Draw draw(seed);
    std::vector<std::string> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        // Words are drawn one by one, one of them perhaps from elsewhere.
        const std::size_t foreign = draw(100) < 29 ? draw(3) : 3;
        std::size_t drawn = 0;
        auto word = [&] { return drawn++ == foreign ? draw.pick(elsewhere) : draw.pick(words); };
        std::string text;
        switch (draw(5)) {
        case 0: // a document
            text.append(word()).append("_").append(word()).append("_").append(word()).append(draw.pick(exts));
            text.append(" - ").append(draw.pick(apps));
            break;
        case 1: // a page
            text.append(word()).append(" ").append(word()).append(" | ").append(word()).append(" ");
            text.append(draw.pick(words)).append(" - ").append(draw.pick(apps));
            break;
        case 2: // a shell
            text.append("user@workstation: ~/").append(word()).append("/").append(word()).append("/").append(word());
            break;
        case 3: // mail or chat with a count
            text.append(word()).append(" ").append(word()).append(" ").append(word()).append(" (");
            text.append(std::to_string(1 + draw(99))).append(") - ").append(draw.pick(apps));
            break;
        default: // a folder
            text.append(word()).append(" ").append(word()).append(" ").append(word()).append(" ");
            text.append(draw.pick(words)).append(" - ").append(draw.pick(apps));
            break;
        }
        texts.push_back(std::move(text));
    }
    return texts;
}

} // namespace vantrel::bench
