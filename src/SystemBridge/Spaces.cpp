// Spaces (virtual desktops): reading them per display and switching between them.
#include "SystemBridge/Spaces.h"

#include "SystemBridge/SkyLight.h"

namespace vantrel {

namespace {

// Property-list numbers: integers and reals, not booleans (a number that
// reads as a boolean is a malformed entry here).
bool isNumber(const nlohmann::json& value)
{
    return value.is_number();
}

std::uint64_t asUnsigned(const nlohmann::json& value)
{
    if (value.is_number_unsigned())
        return value.get<std::uint64_t>();
    if (value.is_number_integer())
        return static_cast<std::uint64_t>(value.get<std::int64_t>());
    double real = value.get<double>();
    return real <= 0 ? 0 : static_cast<std::uint64_t>(real);
}

std::int64_t asSigned(const nlohmann::json& value)
{
    if (value.is_number_unsigned())
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    return static_cast<std::int64_t>(value.get<double>());
}

const nlohmann::json* member(const nlohmann::json& dictionary, const char* key)
{
    auto it = dictionary.find(key);
    return it == dictionary.end() ? nullptr : &*it;
}

} // namespace

namespace Spaces {

std::optional<SpaceInfo> parseSpace(const nlohmann::json& dictionary)
{
    if (!dictionary.is_object() || dictionary.empty())
        return std::nullopt;
    auto id = member(dictionary, "id64");
    if (id == nullptr || !isNumber(*id))
        return std::nullopt;
    SpaceInfo space;
    space.id = asUnsigned(*id);
    if (auto managed = member(dictionary, "ManagedSpaceID"); managed != nullptr && isNumber(*managed))
        space.managedID = asSigned(*managed);
    if (auto uuid = member(dictionary, "uuid"); uuid != nullptr && uuid->is_string())
        space.uuid = uuid->get<std::string>();
    if (auto type = member(dictionary, "type"); type != nullptr && isNumber(*type))
        space.type = asSigned(*type);
    return space;
}

std::vector<DisplaySpaces> parseDisplays(const std::optional<nlohmann::json>& managedDisplays)
{
    if (!managedDisplays || !managedDisplays->is_array())
        return {};
    // An array with anything but dictionaries in it is not the format at all.
    for (const auto& display : *managedDisplays)
        if (!display.is_object())
            return {};
    std::vector<DisplaySpaces> result;
    for (const auto& display : *managedDisplays) {
        if (display.empty())
            continue;
        auto identifier = member(display, "Display Identifier");
        if (identifier == nullptr || !identifier->is_string())
            continue;
        DisplaySpaces entry;
        entry.displayUUID = identifier->get<std::string>();
        if (auto current = member(display, "Current Space"); current != nullptr && current->is_object())
            if (auto space = parseSpace(*current))
                entry.currentSpaceID = space->id;
        if (auto spaces = member(display, "Spaces"); spaces != nullptr && spaces->is_array()) {
            bool allDictionaries = true;
            for (const auto& space : *spaces)
                allDictionaries = allDictionaries && space.is_object();
            if (allDictionaries)
                for (const auto& space : *spaces)
                    if (auto parsed = parseSpace(space))
                        entry.spaces.push_back(std::move(*parsed));
        }
        result.push_back(std::move(entry));
    }
    return result;
}

bool isAvailable()
{
    return SkyLight::connectionID().has_value() && static_cast<bool>(SkyLight::copyManagedDisplaySpaces());
}

std::optional<SpaceID> activeSpaceID()
{
    auto cid = SkyLight::connectionID();
    auto getActive = SkyLight::getActiveSpace();
    if (!cid || !getActive)
        return std::nullopt;
    SpaceID id = getActive(*cid);
    if (id == 0)
        return std::nullopt;
    return id;
}

std::vector<DisplaySpaces> displays()
{
    auto cid = SkyLight::connectionID();
    auto copy = SkyLight::copyManagedDisplaySpaces();
    if (!cid || !copy)
        return {};
    return parseDisplays(copy(*cid));
}

std::set<SpaceID> visibleSpaceIDs()
{
    std::set<SpaceID> ids;
    for (const auto& display : displays())
        ids.insert(display.currentSpaceID);
    return ids;
}

std::vector<SpaceID> spaceIDs(WindowID windowID)
{
    auto cid = SkyLight::connectionID();
    auto copy = SkyLight::copySpacesForWindows();
    if (!cid || !copy)
        return {};
    // Mask 7: current, other and user spaces alike.
    auto result = copy(*cid, 7, nlohmann::json::array({windowID}));
    if (!result || !result->is_array())
        return {};
    std::vector<SpaceID> ids;
    for (const auto& value : *result)
        if (isNumber(value))
            ids.push_back(asUnsigned(value));
    return ids;
}

std::vector<WindowID> windowIDs(SpaceID spaceID, std::int32_t options)
{
    auto cid = SkyLight::connectionID();
    auto copy = SkyLight::copyWindowsWithOptionsAndTags();
    if (!cid || !copy)
        return {};
    std::int64_t setTags = 0;
    std::int64_t clearTags = 0;
    auto result = copy(*cid, 0, nlohmann::json::array({spaceID}), options, setTags, clearTags);
    if (!result || !result->is_array())
        return {};
    std::vector<WindowID> ids;
    for (const auto& value : *result)
        if (isNumber(value))
            ids.push_back(static_cast<WindowID>(asUnsigned(value)));
    return ids;
}

bool canSetFrontProcess()
{
    return static_cast<bool>(SkyLight::spaceSetFrontPSN());
}

bool makeCurrent(SpaceID spaceID)
{
    auto cid = SkyLight::connectionID();
    auto setCurrent = SkyLight::managedDisplaySetCurrentSpace();
    if (!cid || !setCurrent)
        return false;
    for (const auto& display : displays()) {
        bool listed = false;
        for (const auto& space : display.spaces)
            listed = listed || space.id == spaceID;
        if (!listed)
            continue;
        if (display.currentSpaceID == spaceID)
            return true;
        setCurrent(*cid, display.displayUUID, spaceID);
        return true;
    }
    return false;
}

bool setFrontProcess(SpaceID spaceID, Pid pid)
{
    auto cid = SkyLight::connectionID();
    auto setFront = SkyLight::spaceSetFrontPSN();
    auto getProcess = SkyLight::getProcessForPID();
    if (!cid || !setFront || !getProcess)
        return false;
    ProcessSerialNumber psn{};
    if (getProcess(pid, psn) != 0)
        return false;
    return setFront(*cid, spaceID, psn) == 0;
}

SpaceTables tables(const std::vector<DisplaySpaces>& displays,
                   const std::function<std::vector<WindowID>(SpaceID)>& windowsIn)
{
    SpaceTables tables;
    int counter = 0;
    for (const auto& display : displays) {
        tables.visibleSpaceIDs.insert(display.currentSpaceID);
        for (const auto& space : display.spaces) {
            tables.spaceNumbers[space.id] = ++counter;
            if (space.isFullscreen())
                tables.fullscreenSpaceIDs.insert(space.id);
            if (windowsIn)
                for (WindowID window : windowsIn(space.id))
                    tables.windowSpaces[window].push_back(space.id);
        }
    }
    return tables;
}

} // namespace Spaces

} // namespace vantrel
