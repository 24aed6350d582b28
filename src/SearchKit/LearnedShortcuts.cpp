// Recording, lookup and the JSON file of learned shortcuts.
#include "SearchKit/LearnedShortcuts.h"

#include "Runtime/AtomicFile.h"
#include "Runtime/FileRead.h"
#include "Runtime/Log.h"
#include "Runtime/Paths.h"
#include "SearchKit/TextUnicode.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <limits>

namespace vantrel {

namespace {

/// 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
constexpr double referenceDateUnixSeconds = 978307200;

using Json = nlohmann::json;

std::optional<int> integerField(const Json& object, const char* key)
{
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer())
        return std::nullopt;
    if (it->is_number_unsigned()) {
        const auto value = it->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<int>::max()))
            return std::nullopt;
        return static_cast<int>(value);
    }
    const auto value = it->get<std::int64_t>();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<LearnedShortcuts> decode(const Json& root)
{
    if (!root.is_object())
        return std::nullopt;
    LearnedShortcuts result;
    auto maxQueryLength = integerField(root, "maxQueryLength");
    auto maxTargetsPerQuery = integerField(root, "maxTargetsPerQuery");
    auto entries = root.find("entries");
    if (!maxQueryLength || !maxTargetsPerQuery || entries == root.end() || !entries->is_object())
        return std::nullopt;
    result.maxQueryLength = *maxQueryLength;
    result.maxTargetsPerQuery = *maxTargetsPerQuery;
    for (const auto& [query, list] : entries->items()) {
        if (!list.is_array())
            return std::nullopt;
        std::vector<LearnedShortcuts::Entry> decoded;
        for (const auto& element : list) {
            if (!element.is_object())
                return std::nullopt;
            auto target = element.find("target");
            auto lastUsed = element.find("lastUsed");
            if (target == element.end() || !target->is_string() || lastUsed == element.end() || !lastUsed->is_number())
                return std::nullopt;
            decoded.push_back({ target->get<std::string>(), { lastUsed->get<double>() } });
        }
        result.entries.emplace(query, std::move(decoded));
    }
    return result;
}

} // namespace

LearnedShortcuts::Date LearnedShortcuts::Date::now()
{
    return from(std::chrono::system_clock::now());
}

LearnedShortcuts::Date LearnedShortcuts::Date::from(std::chrono::system_clock::time_point time)
{
    const auto unix = std::chrono::duration<double>(time.time_since_epoch()).count();
    return { unix - referenceDateUnixSeconds };
}

std::string LearnedShortcuts::normalize(std::string_view query)
{
    return TextUnicode::toLower(TextUnicode::trimSpaces(query));
}

std::filesystem::path LearnedShortcuts::defaultFile()
{
    return Paths::dataHome() / "Vantrel" / "learned-shortcuts.json";
}

void LearnedShortcuts::record(std::string_view query, std::string_view target, Date at)
{
    const std::string key = normalize(query);
    if (maxQueryLength < 1 || key.empty() || TextUnicode::graphemeCount(key) > static_cast<std::size_t>(maxQueryLength))
        return;
    auto& list = entries[key];
    std::erase_if(list, [&](const Entry& entry) { return entry.target == target; });
    list.insert(list.begin(), Entry { std::string(target), at });
    // A stored limit below 1 (never written by the application) keeps nothing.
    const auto limit = static_cast<std::size_t>(std::max(0, maxTargetsPerQuery));
    if (list.size() > limit)
        list.resize(limit);
}

std::vector<std::string> LearnedShortcuts::targets(std::string_view query) const
{
    auto it = entries.find(normalize(query));
    if (it == entries.end())
        return {};
    std::vector<Entry> sorted = it->second;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) { return a.lastUsed > b.lastUsed; });
    std::vector<std::string> result;
    result.reserve(sorted.size());
    for (auto& entry : sorted)
        result.push_back(std::move(entry.target));
    return result;
}

LearnedShortcuts LearnedShortcuts::load(const std::filesystem::path& file)
{
    auto contents = readRegularFile(file);
    if (!contents.bytes) {
        if (!contents.missing)
            Logger("shortcuts").error("Cannot read learned shortcuts %{public}s (%{public}s); starting empty",
                                      file.string(), contents.error);
        return {};
    }
    Json root = Json::parse(*contents.bytes, nullptr, false);
    if (root.is_discarded())
        return {};
    return decode(root).value_or(LearnedShortcuts {});
}

std::optional<std::string> LearnedShortcuts::save(const std::filesystem::path& file) const
{
    Json root = Json::object();
    Json encodedEntries = Json::object();
    for (const auto& [query, list] : entries) {
        Json encodedList = Json::array();
        for (const auto& entry : list)
            encodedList.push_back({ { "target", entry.target }, { "lastUsed", entry.lastUsed.secondsSinceReferenceDate } });
        encodedEntries[query] = std::move(encodedList);
    }
    root["entries"] = std::move(encodedEntries);
    root["maxQueryLength"] = maxQueryLength;
    root["maxTargetsPerQuery"] = maxTargetsPerQuery;
    std::string bytes;
    try {
        // Window titles can carry ill-formed UTF-8; writing U+FFFD for it keeps
        // one bad title from blocking every later save.
        bytes = root.dump(2, ' ', false, Json::error_handler_t::replace);
    } catch (const Json::exception& error) {
        return std::string("cannot encode learned shortcuts: ") + error.what();
    }
    bytes.push_back('\n');
    return writeFileAtomically(file, bytes);
}

} // namespace vantrel
