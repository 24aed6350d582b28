// Decoding and encoding the settings document.
#include "VantrelCore/SettingsJSON.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

namespace vantrel {

namespace {

using Json = nlohmann::json;

// Raised inside this file only; decodeSettings turns it into a value.
struct DecodeFailure {
    DecodeError error;
};

[[noreturn]] void fail(std::string path, std::string reason)
{
    throw DecodeFailure{{std::move(path), std::move(reason)}};
}

std::string join(const std::string& path, std::string_view key)
{
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string indexed(const std::string& path, std::size_t index)
{
    return path + "[" + std::to_string(index) + "]";
}

std::string describe(const Json& value)
{
    switch (value.type()) {
    case Json::value_t::object: return "an object";
    case Json::value_t::array: return "an array";
    case Json::value_t::string: return "string " + value.dump();
    case Json::value_t::boolean: return value.dump();
    case Json::value_t::null: return "null";
    default: return value.dump();
    }
}

const Json& requireObject(const Json& value, const std::string& path)
{
    if (!value.is_object())
        fail(path, "expected an object, found " + describe(value));
    return value;
}

// A key of a nested record that has no default: absent and null both fail.
const Json& required(const Json& object, std::string_view key, const std::string& path)
{
    auto it = object.find(key);
    if (it == object.end())
        fail(join(path, key), "missing");
    if (it->is_null())
        fail(join(path, key), "missing (null)");
    return *it;
}

// Absent or null: none.
const Json* optionalValue(const Json& object, std::string_view key)
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

template <class Int>
Int decodeInteger(const Json& value, const std::string& path, std::string_view typeName)
{
    using Limits = std::numeric_limits<Int>;
    if (value.is_number_unsigned()) {
        auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(Limits::max()))
            fail(path, value.dump() + " is out of range for " + std::string(typeName));
        return static_cast<Int>(number);
    }
    if (value.is_number_integer()) {
        auto number = value.get<std::int64_t>();
        if (number < 0 && !Limits::is_signed)
            fail(path, value.dump() + " is out of range for " + std::string(typeName));
        if constexpr (Limits::is_signed) {
            if (number < static_cast<std::int64_t>(Limits::min()) || number > static_cast<std::int64_t>(Limits::max()))
                fail(path, value.dump() + " is out of range for " + std::string(typeName));
        }
        return static_cast<Int>(number);
    }
    if (value.is_number_float()) {
        // Integers beyond 64 bits parse as floats; name them as out of range
        // rather than as fractions.
        double number = value.get<double>();
        const double upper = std::ldexp(1.0, Limits::digits); // first value past the range
        const double lower = Limits::is_signed ? -upper : 0.0;
        if (std::isfinite(number) && std::trunc(number) == number && (number < lower || number >= upper))
            fail(path, value.dump() + " is out of range for " + std::string(typeName));
        fail(path, "expected an integer, found " + value.dump());
    }
    fail(path, "expected an integer, found " + describe(value));
}

bool decodeBool(const Json& value, const std::string& path)
{
    if (!value.is_boolean())
        fail(path, "expected true or false, found " + describe(value));
    return value.get<bool>();
}

double decodeDouble(const Json& value, const std::string& path)
{
    if (!value.is_number())
        fail(path, "expected a number, found " + describe(value));
    // The parser turns literals beyond a double's range into infinity, which
    // could never be written back.
    double number = value.get<double>();
    if (!std::isfinite(number))
        fail(path, "the number is out of range for a double");
    return number;
}

std::string decodeString(const Json& value, const std::string& path)
{
    if (!value.is_string())
        fail(path, "expected a string, found " + describe(value));
    return value.get<std::string>();
}

template <class E>
E decodeEnum(const Json& value, const std::string& path)
{
    std::string list;
    for (E e : allCases<E>()) {
        if (!list.empty())
            list += ", ";
        list += rawValue(e);
    }
    if (!value.is_string())
        fail(path, "expected one of " + list + ", found " + describe(value));
    auto raw = value.get<std::string>();
    if (auto decoded = fromRawValue<E>(raw))
        return *decoded;
    fail(path, value.dump() + " is not one of " + list);
}

KeyChord decodeChord(const Json& value, const std::string& path)
{
    requireObject(value, path);
    KeyChord chord;
    chord.keyCode = decodeInteger<std::uint32_t>(required(value, "keyCode", path), join(path, "keyCode"),
                                                 "an unsigned 32-bit integer");
    chord.modifiers = decodeInteger<std::uint64_t>(required(value, "modifiers", path), join(path, "modifiers"),
                                                   "an unsigned 64-bit integer");
    return chord;
}

SwitcherConfig decodeSwitcher(const Json& value, const std::string& path)
{
    requireObject(value, path);
    SwitcherConfig config;
    config.id = decodeString(required(value, "id", path), join(path, "id"));
    config.name = decodeString(required(value, "name", path), join(path, "name"));
    config.activate = decodeChord(required(value, "activate", path), join(path, "activate"));
    if (const Json* moveUp = optionalValue(value, "moveUp"))
        config.moveUp = decodeChord(*moveUp, join(path, "moveUp"));
    config.scope = decodeEnum<SwitcherScope>(required(value, "scope", path), join(path, "scope"));
    config.isEnabled = decodeBool(required(value, "isEnabled", path), join(path, "isEnabled"));
    return config;
}

template <class T, class DecodeElement>
std::vector<T> decodeArray(const Json& value, const std::string& path, DecodeElement decodeElement)
{
    if (!value.is_array())
        fail(path, "expected an array, found " + describe(value));
    std::vector<T> result;
    result.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i)
        result.push_back(decodeElement(value[i], indexed(path, i)));
    return result;
}

IgnoreRule decodeRule(const Json& value, const std::string& path)
{
    requireObject(value, path);
    IgnoreRule rule;
    rule.id = decodeString(required(value, "id", path), join(path, "id"));
    if (!IgnoreRule::isValidID(rule.id))
        fail(join(path, "id"), "\"" + rule.id + "\" is not a UUID");
    rule.app = decodeString(required(value, "app", path), join(path, "app"));
    if (const Json* pattern = optionalValue(value, "titlePattern"))
        rule.titlePattern = decodeString(*pattern, join(path, "titlePattern"));
    return rule;
}

Rules decodeRules(const Json& value, const std::string& path)
{
    requireObject(value, path);
    Rules rules;
    rules.ignored = decodeArray<IgnoreRule>(required(value, "ignored", path), join(path, "ignored"), decodeRule);
    rules.pauseApps = decodeArray<std::string>(required(value, "pauseApps", path), join(path, "pauseApps"), decodeString);
    return rules;
}

// Every switcher keeps its id unless that is empty or an earlier switcher's:
// then it gets the first free one of "ID-2", "ID-3"... ("switcher" standing
// for an empty id, used as it is when free). Sessions and hot keys are
// told apart by id, so two switchers must never share one.
void makeSwitcherIDsUnique(std::vector<SwitcherConfig>& switchers)
{
    std::set<std::string, std::less<>> stored, given;
    for (const SwitcherConfig& config : switchers)
        stored.insert(config.id);
    auto taken = [&](const std::string& id) { return given.contains(id) || stored.contains(id); };
    for (SwitcherConfig& config : switchers) {
        if (config.id.empty() || given.contains(config.id)) {
            const std::string base = config.id.empty() ? "switcher" : config.id;
            std::string id = base;
            for (int n = 2; taken(id); ++n)
                id = base + "-" + std::to_string(n);
            config.id = std::move(id);
        }
        given.insert(config.id);
    }
}

// Values no panel or timer can use become ones they can. The document
// itself is left as it is; a later save writes the values used.
void makeSafe(Settings& settings)
{
    makeSwitcherIDsUnique(settings.switchers);
    // Any delay of 0 or less shows at once; 0 says so plainly.
    settings.showDelayMilliseconds = std::max<std::int64_t>(settings.showDelayMilliseconds, 0);
    // A scale of nothing or less has no nearest sensible size: the default.
    if (settings.textScale <= 0)
        settings.textScale = Settings::defaults().textScale;
}

// A top-level key: absent or null keeps the default already in `field`.
template <class T, class Decode>
void decodeField(const Json& document, std::string_view key, T& field, Decode decode)
{
    if (const Json* value = optionalValue(document, key))
        field = decode(*value, std::string(key));
}

Settings decodeDocument(const Json& document)
{
    if (!document.is_object())
        fail("", "the document is not a JSON object (found " + describe(document) + ")");
    Settings settings;
    decodeField(document, "switchers", settings.switchers,
                [](const Json& v, const std::string& p) { return decodeArray<SwitcherConfig>(v, p, decodeSwitcher); });
    auto signedInteger = [](const Json& v, const std::string& p) {
        return decodeInteger<std::int64_t>(v, p, "a signed 64-bit integer");
    };
    decodeField(document, "showDelayMilliseconds", settings.showDelayMilliseconds, signedInteger);
    decodeField(document, "minimizedWindows", settings.minimizedWindows, decodeEnum<WindowFilter>);
    decodeField(document, "hiddenApps", settings.hiddenApps, decodeEnum<WindowFilter>);
    // Unlike every other key, an explicit null clears the search chord.
    if (auto it = document.find("searchChord"); it != document.end())
        settings.searchChord = it->is_null() ? std::nullopt : std::optional(decodeChord(*it, "searchChord"));
    decodeField(document, "learnedShortcutMaxLength", settings.learnedShortcutMaxLength, signedInteger);
    decodeField(document, "allowOneMismatch", settings.allowOneMismatch, decodeBool);
    decodeField(document, "fastSearchModifier", settings.fastSearchModifier, decodeEnum<FastSearchModifier>);
    decodeField(document, "spacesFilter", settings.spacesFilter, decodeEnum<SpacesFilter>);
    decodeField(document, "panelDisplayMode", settings.panelDisplayMode, decodeEnum<PanelDisplayMode>);
    decodeField(document, "rules", settings.rules, decodeRules);
    decodeField(document, "appearance", settings.appearance, decodeEnum<AppearanceMode>);
    decodeField(document, "textScale", settings.textScale, decodeDouble);
    makeSafe(settings);
    return settings;
}

using Ordered = nlohmann::ordered_json;

Ordered encodeChord(const KeyChord& chord)
{
    Ordered object = Ordered::object();
    object["keyCode"] = chord.keyCode;
    object["modifiers"] = chord.modifiers;
    return object;
}

Ordered encodeSwitcher(const SwitcherConfig& config)
{
    Ordered object = Ordered::object();
    object["id"] = config.id;
    object["name"] = config.name;
    object["activate"] = encodeChord(config.activate);
    if (config.moveUp)
        object["moveUp"] = encodeChord(*config.moveUp);
    object["scope"] = rawValue(config.scope);
    object["isEnabled"] = config.isEnabled;
    return object;
}

Ordered encodeRules(const Rules& rules)
{
    Ordered ignored = Ordered::array();
    for (const IgnoreRule& rule : rules.ignored) {
        Ordered object = Ordered::object();
        object["id"] = rule.id;
        object["app"] = rule.app;
        if (rule.titlePattern)
            object["titlePattern"] = *rule.titlePattern;
        ignored.push_back(std::move(object));
    }
    Ordered object = Ordered::object();
    object["ignored"] = std::move(ignored);
    object["pauseApps"] = rules.pauseApps;
    return object;
}

} // namespace

std::string DecodeError::message() const
{
    if (path.empty())
        return reason;
    return "key \"" + path + "\": " + reason;
}

Expected<Settings, DecodeError> decodeSettings(const nlohmann::json& document)
{
    try {
        return decodeDocument(document);
    } catch (const DecodeFailure& failure) {
        return Unexpected<DecodeError>{failure.error};
    } catch (const nlohmann::json::exception& error) {
        return Unexpected<DecodeError>{{"", error.what()}};
    }
}

Expected<Settings, DecodeError> decodeSettingsText(std::string_view text)
{
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        // parse_error for syntax, out_of_range for a number literal that
        // overflows a double.
        std::string what = error.what();
        // Drop the library's "[json.exception.parse_error.101] " tag.
        if (auto end = what.find("] "); what.starts_with("[json.exception") && end != std::string::npos)
            what.erase(0, end + 2);
        return Unexpected<DecodeError>{{"", "not valid JSON: " + what}};
    }
    return decodeSettings(document);
}

std::optional<nlohmann::ordered_json> encodeSettings(const Settings& settings)
{
    // JSON has no form for NaN or infinity; writing null would silently turn
    // the value back into the default on the next load.
    if (!std::isfinite(settings.textScale))
        return std::nullopt;
    Ordered document = Ordered::object();
    Ordered switchers = Ordered::array();
    for (const SwitcherConfig& config : settings.switchers)
        switchers.push_back(encodeSwitcher(config));
    document["switchers"] = std::move(switchers);
    document["showDelayMilliseconds"] = settings.showDelayMilliseconds;
    document["minimizedWindows"] = rawValue(settings.minimizedWindows);
    document["hiddenApps"] = rawValue(settings.hiddenApps);
    document["searchChord"] = settings.searchChord ? encodeChord(*settings.searchChord) : Ordered(nullptr);
    document["learnedShortcutMaxLength"] = settings.learnedShortcutMaxLength;
    document["allowOneMismatch"] = settings.allowOneMismatch;
    document["fastSearchModifier"] = rawValue(settings.fastSearchModifier);
    document["spacesFilter"] = rawValue(settings.spacesFilter);
    document["panelDisplayMode"] = rawValue(settings.panelDisplayMode);
    document["rules"] = encodeRules(settings.rules);
    document["appearance"] = rawValue(settings.appearance);
    document["textScale"] = settings.textScale;
    return document;
}

std::optional<std::string> encodeSettingsText(const Settings& settings, int indent)
{
    auto document = encodeSettings(settings);
    if (!document)
        return std::nullopt;
    try {
        return document->dump(indent);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt; // a string that is not valid UTF-8
    }
}

} // namespace vantrel
