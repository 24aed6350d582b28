// The settings model: defaults, list filters, and the JSON document.
#include "VantrelCore/SettingsJSON.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace vantrel {
namespace {

using Json = nlohmann::json;

using Ids = std::vector<WindowID>;

WindowInfo window(WindowID id, bool minimized = false, bool hidden = false, std::vector<SpaceID> spaces = {})
{
    return {.id = id, .bundleID = {}, .appName = "App", .title = {}, .isMinimized = minimized, .isAppHidden = hidden, .spaceIDs = std::move(spaces)};
}

Ids ids(const std::vector<WindowInfo>& windows)
{
    Ids result;
    std::ranges::transform(windows, std::back_inserter(result), &WindowInfo::id);
    return result;
}

Settings decodeOK(const Json& document)
{
    auto result = decodeSettings(document);
    EXPECT_TRUE(result) << (result ? "" : result.error().message()) << " for " << document.dump();
    return result ? result.value() : Settings{};
}

DecodeError decodeFail(const Json& document)
{
    auto result = decodeSettings(document);
    EXPECT_FALSE(result) << "decoded " << document.dump();
    return result ? DecodeError{} : result.error();
}

Json validRule(const char* id = "0F8FAD5B-D9CB-469F-A165-70867728950E") { return {{"id", id}, {"app", "Mail"}}; }

/// A switcher record with every key present, `changes` merged in (a null there removes its key).
Json switcherJson(const Json& changes = Json::object())
{
    Json switcher = {{"id", "x"}, {"name", "X"}, {"activate", {{"keyCode", 48}, {"modifiers", 0}}}, {"scope", "allApps"}, {"isEnabled", true}};
    switcher.merge_patch(changes);
    return switcher;
}

/// A settings document whose rules hold `ignored` and `pauseApps`.
Json rulesJson(Json ignored, Json pauseApps = Json::array())
{
    return {{"rules", {{"ignored", std::move(ignored)}, {"pauseApps", std::move(pauseApps)}}}};
}

TEST(Settings, FilterPlacesMinimizedAndHiddenWindows)
{
    std::vector<WindowInfo> in{window(1, true), window(2, false, true), window(3), window(4, true), window(5, true, true)};
    // Minimized in a hidden application (5): only minimizedWindows decides.
    const std::tuple<WindowFilter, WindowFilter, Ids> cases[] = {
        {WindowFilter::bottom, WindowFilter::bottom, {3, 1, 2, 4, 5}},
        {WindowFilter::bottom, WindowFilter::hide, {3, 1, 4, 5}},
        {WindowFilter::show, WindowFilter::hide, {1, 3, 4, 5}},
        {WindowFilter::hide, WindowFilter::show, {2, 3}},
    };
    for (const auto& [minimized, hidden, expected] : cases)
        EXPECT_EQ(ids(Settings{.minimizedWindows = minimized, .hiddenApps = hidden, .rules = {}}.filter(in)), expected)
            << rawValue(minimized) << " " << rawValue(hidden);
}

TEST(Settings, SpaceFilterKeepsWindowsOnAllowedOrUnknownSpaces)
{
    std::vector<WindowInfo> in{window(1, false, false, {}), window(2, false, false, {10}), window(3, false, false, {20}),
                               window(4, false, false, {30, 10}), window(5, false, false, {40})};
    const std::pair<SpacesFilter, Ids> cases[] = {{SpacesFilter::allSpaces, {1, 2, 3, 4, 5}},
                                                  {SpacesFilter::visibleSpaces, {1, 2, 4}},
                                                  {SpacesFilter::visibleAndFullscreen, {1, 2, 3, 4}}};
    for (const auto& [filter, expected] : cases)
        EXPECT_EQ(ids(Settings{.spacesFilter = filter, .rules = {}}.spaceFilter(in, {10}, {20})), expected) << rawValue(filter);
}

TEST(Settings, ReplacesCommandTabThroughEnabledActivateChordsOnly)
{
    Settings s;
    EXPECT_TRUE(s.replacesCommandTab());
    s.switchers[0].isEnabled = false;
    EXPECT_TRUE(s.replacesCommandTab()); // ⌘` still uses the key above Tab
    s.switchers[1].isEnabled = false;
    EXPECT_FALSE(s.replacesCommandTab());
    // A move-up chord with command does not count.
    s.switchers[2].moveUp = KeyChord{48, KeyChord::command};
    EXPECT_FALSE(s.replacesCommandTab());
}

TEST(Settings, SearchChordIsTheInputSourceShortcutWhateverOption)
{
    const std::pair<std::optional<KeyChord>, bool> cases[] = {
        {KeyChord{49, KeyChord::control}, true}, {KeyChord{49, KeyChord::control | KeyChord::option}, true},
        {KeyChord{49, KeyChord::control | KeyChord::shift}, false}, {KeyChord{49, KeyChord::option}, false},
        {KeyChord{48, KeyChord::control}, false}, {std::nullopt, false}};
    for (const auto& [chord, expected] : cases)
        EXPECT_EQ((Settings{.searchChord = chord, .rules = {}}.searchChordIsInputSourceShortcut()), expected) << (chord ? chord->modifiers : 0);
}

TEST(SettingsDecode, MissingNullAndUnknownKeysKeepTheDefaults)
{
    EXPECT_EQ(decodeOK(Json::object()), Settings::defaults());
    // Every key the encoder writes but the search chord, which null clears.
    Json nulls = encodeSettings(Settings::defaults()).value();
    for (Json& value : nulls)
        value = nullptr;
    nulls.erase("searchChord");
    nulls["someFutureKey"] = {{"anything", 1}};
    EXPECT_EQ(decodeOK(nulls), Settings::defaults());
}

TEST(SettingsDecode, EnumerationsAreStoredByTheirCaseNames)
{
    // Each error lists the names a settings file holds, in declaration order.
    const std::pair<const char*, const char*> names[] = {
        {"minimizedWindows", "show, bottom, hide"}, {"hiddenApps", "show, bottom, hide"},
        {"fastSearchModifier", "off, fn, capsLock, leftCommand, rightCommand, leftOption, rightOption"},
        {"spacesFilter", "allSpaces, visibleAndFullscreen, visibleSpaces"}, {"panelDisplayMode", "activeDisplay, allDisplays"},
        {"appearance", "system, light, dark"}};
    for (auto [key, list] : names)
        EXPECT_EQ(decodeFail({{key, "Show"}}).message(), "key \"" + std::string(key) + "\": \"Show\" is not one of " + list);
    EXPECT_EQ(decodeFail({{"switchers", {switcherJson({{"scope", "Show"}})}}}).message(),
        "key \"switchers[0].scope\": \"Show\" is not one of allApps, activeApp");
}

TEST(SettingsDecode, ErrorsNameTheKeyAndTheReason)
{
    DecodeError nested = decodeFail(
        {{"switchers", {switcherJson({{"scope", "activeApp"}}), switcherJson({{"activate", {{"modifiers", nullptr}}}})}}});
    EXPECT_EQ(nested.path, "switchers[1].activate.modifiers");
    EXPECT_EQ(nested.reason, "missing");

    DecodeError notJson = decodeSettingsText("{\"textScale\": 1,").error();
    EXPECT_TRUE(notJson.message().starts_with("not valid JSON: ")) << notJson.message();

    EXPECT_EQ(decodeFail(Json::array()).message(), "the document is not a JSON object (found an array)");
    EXPECT_FALSE(decodeSettingsText("null"));
    EXPECT_FALSE(decodeSettingsText(""));
}

TEST(SettingsDecode, WrongTypesFailTheWholeDocument)
{
    const std::vector<Json> bad{
        {{"showDelayMilliseconds", "150"}}, {{"showDelayMilliseconds", true}}, {{"allowOneMismatch", 1}},
        {{"allowOneMismatch", "true"}}, {{"textScale", "1.0"}}, {{"minimizedWindows", 0}},
        {{"fastSearchModifier", Json::array()}}, {{"switchers", Json::object()}}, {{"switchers", {nullptr}}},
        {{"switchers", {42}}}, {{"searchChord", "ctrl+space"}}, {{"searchChord", {{"keyCode", "49"}, {"modifiers", 262144}}}},
        {{"rules", Json::array()}}, {{"rules", {{"ignored", Json::array()}, {"pauseApps", {"Mail", 3}}}}},
        {{"rules", {{"ignored", Json::object()}, {"pauseApps", Json::array()}}}},
    };
    for (const Json& document : bad) {
        Json withGoodKeys = document;
        withGoodKeys["appearance"] = "dark"; // one bad key spoils the rest
        withGoodKeys["textScale"] = withGoodKeys.value("textScale", Json(2));
        decodeFail(withGoodKeys);
    }
}

TEST(SettingsDecode, IntegersMustBeIntegralAndInRange)
{
    // The path and a part of the reason; 2^64 fits no integer type and comes as a float.
    const std::tuple<const char*, const char*, const char*> failures[] = {
        {R"({"searchChord": {"keyCode": -1, "modifiers": 0}})", "searchChord.keyCode", "-1 is out of range for an unsigned 32-bit integer"},
        {R"({"searchChord": {"keyCode": 4294967296, "modifiers": 0}})", "searchChord.keyCode", "-"},
        {R"({"searchChord": {"keyCode": 0, "modifiers": -1}})", "searchChord.modifiers", "-"},
        {R"({"searchChord": {"keyCode": 49, "modifiers": 18446744073709551616}})", "searchChord.modifiers", "out of range"},
        {R"({"showDelayMilliseconds": 9223372036854775808})", "showDelayMilliseconds", "-"},
        {R"({"showDelayMilliseconds": 150.0})", "showDelayMilliseconds", "expected an integer"},
        {R"({"showDelayMilliseconds": 1.5})", "showDelayMilliseconds", "expected an integer"},
        {R"({"learnedShortcutMaxLength": 3e0})", "learnedShortcutMaxLength", "expected an integer"},
        {R"({"searchChord": {"keyCode": 49.0, "modifiers": 0}})", "searchChord.keyCode", "expected an integer"},
        // Beyond a double: a failure value, never an exception or infinity.
        {R"({"textScale": 1e999})", "", "not valid JSON: "}, {R"({"textScale": -1e999})", "", "not valid JSON: "},
        {R"({"showDelayMilliseconds": 1e400})", "", "not valid JSON: "}};
    for (auto [text, path, reason] : failures) {
        auto result = decodeSettingsText(text);
        ASSERT_FALSE(result) << text;
        EXPECT_EQ(result.error().path, path) << text;
        EXPECT_TRUE(reason == std::string_view("-") || result.error().reason.find(reason) != std::string::npos) << text;
    }

    // An integer is a fine double; a huge delay is kept (it is clamped where
    // it becomes a duration), and so is a negative length.
    EXPECT_EQ(decodeOK({{"showDelayMilliseconds", 9200000000000}, {"learnedShortcutMaxLength", -1}, {"textScale", 3}}),
              (Settings{.showDelayMilliseconds = 9200000000000, .learnedShortcutMaxLength = -1, .rules = {}, .textScale = 3.0}));
    EXPECT_EQ(decodeFail({{"textScale", INFINITY}}).path, "textScale");
}

TEST(SettingsDecode, ValuesThatMakeNoSenseDecodeToSafeOnes)
{
    for (double scale : {0.0, -0.0, -2.0})
        EXPECT_EQ(decodeOK({{"textScale", scale}, {"showDelayMilliseconds", -5}}),
                  (Settings{.showDelayMilliseconds = 0, .rules = {}, .textScale = 1.0}))
            << scale;

    auto withID = [](const char* id) { return switcherJson({{"id", id}}); };
    // Kept ids stay; an empty or repeated one gets the first id free in
    // the whole list, so a later switcher keeps its own.
    const Settings settings = decodeOK({{"switchers", {withID("a"), withID("a"), withID(""), withID("a-2"), withID(""),
                                                       withID("switcher-3")}}});
    std::vector<std::string> ids;
    std::ranges::transform(settings.switchers, std::back_inserter(ids), &SwitcherConfig::id);
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "a-3", "switcher", "a-2", "switcher-2", "switcher-3"}));
}

TEST(SettingsDecode, NestedRecordsHaveNoDefaults)
{
    for (const char* key : {"id", "name", "activate", "scope", "isEnabled"}) {
        Json nulled = switcherJson();
        nulled[key] = nullptr;
        EXPECT_EQ(decodeFail({{"switchers", {switcherJson({{key, nullptr}})}}}).path, std::string("switchers[0].") + key);
        EXPECT_EQ(decodeFail({{"switchers", {nulled}}}).path, std::string("switchers[0].") + key);
    }
    Json nullMoveUp = switcherJson();
    nullMoveUp["moveUp"] = nullptr;
    EXPECT_EQ(decodeOK({{"switchers", {switcherJson(), nullMoveUp}}}).switchers[1].moveUp, std::nullopt);
    EXPECT_TRUE(decodeOK({{"switchers", Json::array()}}).switchers.empty());

    EXPECT_EQ(decodeFail({{"rules", {{"pauseApps", Json::array()}}}}).path, "rules.ignored");
    EXPECT_EQ(decodeFail({{"rules", {{"ignored", Json::array()}}}}).path, "rules.pauseApps");
    EXPECT_EQ(decodeFail(rulesJson({{{"app", "Mail"}}})).path, "rules.ignored[0].id");
    EXPECT_EQ(decodeFail(rulesJson({{{"id", IgnoreRule::makeID()}}})).path, "rules.ignored[0].app");
    const Json rule = {{"id", "0F8FAD5B-D9CB-469F-A165-70867728950E"}, {"app", "Mail"}, {"titlePattern", nullptr}};
    EXPECT_EQ(decodeOK(rulesJson({rule}, {"VMware"})).rules,
              (Rules{{{"0F8FAD5B-D9CB-469F-A165-70867728950E", "Mail", std::nullopt}}, {"VMware"}}));
}

TEST(SettingsDecode, RuleIdsMustBeUUIDs)
{
    for (const char* id : {"0f8fad5b-d9cb-469f-a165-70867728950e", "0F8FAD5B-D9CB-469F-A165-70867728950E",
                           "0f8FAD5b-d9cb-469f-A165-70867728950e"})
        EXPECT_EQ(decodeOK(rulesJson({validRule(id)})).rules.ignored, (std::vector<IgnoreRule>{{id, "Mail", std::nullopt}}));
    for (const char* id : {"", "not-a-uuid", "0f8fad5bd9cb469fa16570867728950e", "0f8fad5b-d9cb-469f-a165-70867728950",
                           "0f8fad5b-d9cb-469f-a165-70867728950g", "{0f8fad5b-d9cb-469f-a165-70867728950e}"})
        EXPECT_EQ(decodeFail(rulesJson({validRule(id)})).path, "rules.ignored[0].id") << id;
    EXPECT_NE(IgnoreRule::makeID(), IgnoreRule::makeID());
    EXPECT_EQ(IgnoreRule::makeID()[14], '4'); // version 4
}

TEST(SettingsEncode, RoundTripsEveryField)
{
    const Settings s{
        .switchers = {SwitcherConfig::controlOptionTab(),
                      {"mine", "Mine ✓", {12, 0x1E0000}, std::nullopt, SwitcherScope::activeApp, false}},
        .showDelayMilliseconds = 20, .minimizedWindows = WindowFilter::hide, .hiddenApps = WindowFilter::show,
        .searchChord = KeyChord{4294967295u, 18446744073709551615u}, .learnedShortcutMaxLength = 0, .allowOneMismatch = true,
        .fastSearchModifier = FastSearchModifier::rightOption, .spacesFilter = SpacesFilter::visibleAndFullscreen,
        .panelDisplayMode = PanelDisplayMode::allDisplays,
        .rules = {{{"0F8FAD5B-D9CB-469F-A165-70867728950E", "com.Example.Mail", "^Draft$"}, {IgnoreRule::makeID(), "Écrire", ""}},
                  {"VMware Fusion", "com.microsoft.rdc"}},
        .appearance = AppearanceMode::dark, .textScale = 1.25};
    auto back = decodeSettingsText(encodeSettingsText(s, 2).value());
    ASSERT_TRUE(back) << back.error().message();
    EXPECT_EQ(back.value(), s);
}

// Text that is not UTF-8: the store's UnencodableUpdateStaysInMemoryAndStillNotifies.
TEST(SettingsEncode, ValuesWithoutAJSONFormFailInsteadOfWritingNull)
{
    for (double scale : {std::nan(""), double(INFINITY)})
        EXPECT_FALSE(encodeSettingsText(Settings{.rules = {}, .textScale = scale})) << scale;
}

} // namespace
} // namespace vantrel
