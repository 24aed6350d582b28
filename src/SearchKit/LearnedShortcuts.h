// Short queries remembered with the windows and applications the user chose
// for them, persisted as one JSON file.
#pragma once

#include <chrono>
#include <compare>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// Normalized query → the targets chosen for it, most recent first.
struct LearnedShortcuts {
    /// A moment as seconds since 2001-01-01 00:00:00 UTC, the unit of the file.
    struct Date {
        double secondsSinceReferenceDate = 0;

        /// The current time.
        static Date now();
        /// A system-clock time.
        static Date from(std::chrono::system_clock::time_point time);

        auto operator<=>(const Date&) const = default;
    };

    /// One chosen target and when it was last recorded.
    struct Entry {
        std::string target;
        Date lastUsed;

        bool operator==(const Entry&) const = default;
    };

    /// Normalized query → its targets, most recently recorded first.
    std::map<std::string, std::vector<Entry>> entries;
    /// Longest query (in user-perceived characters) that is recorded; < 1 disables recording.
    int maxQueryLength = 3;
    /// Most targets kept per query; below 1 nothing is kept.
    int maxTargetsPerQuery = 5;

    bool operator==(const LearnedShortcuts&) const = default;

    /// Remembers that `target` was chosen for `query` at `at`.
    void record(std::string_view query, std::string_view target, Date at);
    /// The targets recorded for `query`, newest first; empty when none.
    std::vector<std::string> targets(std::string_view query) const;

    /// Reads the file; a missing, unreadable, too large or malformed file
    /// gives LearnedShortcuts(), and one that cannot be read is logged.
    static LearnedShortcuts load(const std::filesystem::path& file);
    /// Writes the file atomically, creating missing folders. Returns the error
    /// text on failure (the file is then unchanged).
    std::optional<std::string> save(const std::filesystem::path& file) const;

    /// The map key for a query: tabs and space separators trimmed from both
    /// ends, then lower-cased.
    static std::string normalize(std::string_view query);
    /// "Vantrel/learned-shortcuts.json" under the user's data folder.
    static std::filesystem::path defaultFile();
};

} // namespace vantrel
