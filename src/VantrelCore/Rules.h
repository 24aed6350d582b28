// Ignore rules (windows never listed by search) and pause applications.
#pragma once

#include "VantrelCore/Hasher.h"
#include "VantrelCore/WindowInfo.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// Ignores an application's windows, or only those whose title fits a pattern.
struct IgnoreRule {
    /// A UUID in its standard string form, kept as written.
    std::string id;
    /// A bundle identifier or an application name, compared without case.
    std::string app;
    /// When present and non-empty, only fitting titles are ignored: a
    /// case-insensitive substring, anchored at the start by a leading "^" and
    /// at the end by a trailing "$"; every other character is literal.
    std::optional<std::string> titlePattern;

    /// True when the rule applies to a window of application `appKey` with
    /// this title.
    bool matches(std::string_view appKey, std::string_view title) const;

    /// A fresh random (version 4) UUID in lower-case standard form.
    static std::string makeID();
    /// True for the 8-4-4-4-12 hexadecimal form, in any letter case.
    static bool isValidID(std::string_view text);

    /// Feeds id, app, then titlePattern behind a presence flag.
    void hash(Hasher& hasher) const;

    bool operator==(const IgnoreRule&) const = default;
};

/// The user's exceptions.
struct Rules {
    /// In the order the user added them.
    std::vector<IgnoreRule> ignored;
    /// Bundle identifiers or application names.
    std::vector<std::string> pauseApps;

    /// True when some rule matches the window by its bundle identifier (its
    /// name when it has none) or by its name.
    bool isIgnored(const WindowInfo& window) const;

    /// The windows no rule ignores, in input order.
    std::vector<WindowInfo> apply(std::span<const WindowInfo> windows) const;

    /// True when a pause entry equals the frontmost application's bundle
    /// identifier or name, without regard to case; absent arguments are skipped.
    bool shouldPause(const std::optional<std::string>& frontmostBundleID,
                     const std::optional<std::string>& frontmostName) const;

    bool operator==(const Rules&) const = default;
};

} // namespace vantrel

/// Agrees with IgnoreRule::hash.
template <>
struct std::hash<vantrel::IgnoreRule> {
    std::size_t operator()(const vantrel::IgnoreRule& rule) const { return vantrel::hashValue(rule); }
};
