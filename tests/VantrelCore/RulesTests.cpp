// Ignore rules and the pause list, with Unicode-aware case handling.
#include "VantrelCore/Rules.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vantrel {
namespace {

IgnoreRule rule(std::string app, std::optional<std::string> pattern = std::nullopt)
{
    return {IgnoreRule::makeID(), std::move(app), std::move(pattern)};
}

WindowInfo window(WindowID id, std::optional<std::string> bundle, std::string app, std::string title)
{
    return {.id = id, .bundleID = std::move(bundle), .appName = std::move(app), .title = std::move(title), .spaceIDs = {}};
}

TEST(IgnoreRule, AppMatchesWholeByFullCaseFoldingAndCanonicalEquivalence)
{
    const std::tuple<const char*, const char*, bool> apps[] = {
        {"ÉCRIRE", "écrire", true}, {"com.example.mail", "COM.Example.Mail", true},
        {"Straße", "STRASSE", true}, {"STRAẞE", "strasse", true}, // ß and capital ẞ fold to ss
        {"Ωmega", "ωMEGA", true}, {"e\xCC\x81" "crire", "Écrire", true}, // decomposed é
        {"ecrire", "écrire", false}, {"Mail", "Mail ", false}, {"com.example.mail", "com.example.mailer", false},
        {"Mail", "", false}, {"", "", true},
        // Default folding is not Turkish: dotless ı and dotted İ stay apart from
        // i/I, and İ folds to i + combining dot.
        {"INFO", "info", true}, {"ınfo", "INFO", false}, {"İnfo", "info", false}, {"İnfo", "i\xCC\x87nfo", true}};
    for (auto [app, key, equal] : apps)
        EXPECT_EQ(rule(app).matches(key, "anything"), equal) << app << " / " << key;
}

TEST(IgnoreRule, PatternAnchorsAndLiteralsMatchTheLowerCasedTitle)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"^draft", "Draft — notes", true}, {"^draft", "My draft", false},
        {".txt$", "readme.TXT", true}, {".txt$", "readme.txt.bak", false},
        {".txt$", "readmeXtxt", false}, // the dot is literal
        {"^Inbox$", "inbox", true}, {"^Inbox$", "INBOX", true}, {"^Inbox$", "Inbox (3)", false}, {"^Inbox$", "My Inbox", false},
        {"", "anything", true}, {"^", "whatever", true}, {"$", "whatever", true}, {"^$", "whatever", true}, {"^$", "", true},
        {"a^b", "xa^bx", true}, {"a^b", "ab", false}, {"a$b", "a$b", true},
        {"^^x", "^x", true}, {"^^x", "x", false}, // only the first caret anchors
        {"x$$", "x$", true},
        {"report", "Quarterly REPORT.pdf", true}, {"report", "", false},
        {"*", "a*b", true}, {"[a-z]", "a", false}, // no regular expressions
        {"ÉCRIRE", "j'écris — écrire un mot", true},
        {"^straße", "STRASSE.txt", false}, // lower-casing, not folding: ß is not ss
        {"^straße", "STRAẞE.txt", true},
        {"e\xCC\x81t", "Été", true}, {"^\xC3\xA9t\xC3\xA9$", "E\xCC\x81te\xCC\x81", true}, // composed after lower-casing
        {"^σοφος$", "ΣΟΦΟΣ", true},
    };
    for (auto [pattern, title, matches] : cases)
        EXPECT_EQ(rule("App", pattern).matches("app", title), matches) << pattern << " / " << title;
}

TEST(Rules, IgnoredByBundleIdentifierOrName)
{
    Rules rules{{rule("com.example.mail")}, {}};
    EXPECT_TRUE(rules.isIgnored(window(1, "COM.EXAMPLE.MAIL", "Mail", "Inbox")));
    EXPECT_TRUE(rules.isIgnored(window(2, "com.example.notes", "com.example.mail", "x"))); // by name
    EXPECT_FALSE(rules.isIgnored(window(3, "com.example.notes", "Notes", "com.example.mail")));

    Rules byName{{rule("Mail", "^draft")}, {}};
    EXPECT_TRUE(byName.isIgnored(window(1, "com.example.mail", "mail", "Draft 1")));
    EXPECT_FALSE(byName.isIgnored(window(2, "com.example.mail", "mail", "Inbox")));
    EXPECT_TRUE(byName.isIgnored(window(3, std::nullopt, "MAIL", "draft")));
    EXPECT_FALSE(byName.isIgnored(window(4, "Mail.app", "Notes", "draft")));
}

TEST(Rules, ApplyKeepsOrderAndPassesEverythingWithoutRules)
{
    std::vector<WindowInfo> windows{window(1, "a", "A", ""), window(2, "b", "B", "x"), window(3, "a", "A", "y"),
                                    window(4, std::nullopt, "C", "")};
    EXPECT_EQ(Rules{}.apply(windows), windows);

    EXPECT_EQ((Rules{{rule("A", "^y$"), rule("c")}, {}}.apply(windows)), (std::vector<WindowInfo>{windows[0], windows[1]}));
}

TEST(Rules, ShouldPauseMatchesIdentifierOrNameSkippingAbsentArguments)
{
    EXPECT_FALSE(Rules{}.shouldPause("com.vmware.fusion", "VMware Fusion"));
    Rules rules{{}, {"VMware Fusion", "com.microsoft.rdc.macos"}};
    EXPECT_TRUE(rules.shouldPause("org.other.id", "vmware fusion"));
    EXPECT_TRUE(rules.shouldPause(std::nullopt, "VMWARE FUSION"));
    EXPECT_TRUE(rules.shouldPause("COM.microsoft.RDC.macos", std::nullopt));
    EXPECT_FALSE(rules.shouldPause(std::nullopt, std::nullopt));
    EXPECT_FALSE(rules.shouldPause("com.vmware.fusion", "Fusion"));
    EXPECT_FALSE(rules.shouldPause("", ""));
}

} // namespace
} // namespace vantrel
