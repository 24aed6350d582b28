// The window-server entry points on X11 with an EWMH window manager.
#include "Platform/X11/X11WindowServer.h"

#include "Platform/X11/X11Screens.h"

#include <set>

namespace vantrel {

namespace {
using json = nlohmann::json;

constexpr SpaceID spaceOf(std::uint32_t desktopIndex) { return SpaceID{desktopIndex} + 1; }

/// The spaces of a window: its desktop, or every desktop when sticky.
std::vector<SpaceID> spacesOf(const X11ClientInfo& client, std::uint32_t desktops)
{
    if (!client.desktop)
        return {};
    if (*client.desktop == allDesktops) {
        std::vector<SpaceID> all;
        for (std::uint32_t i = 0; i < desktops; ++i)
            all.push_back(spaceOf(i));
        return all;
    }
    return {spaceOf(*client.desktop)};
}

/// Reads a JSON array of unsigned numbers; non-numbers are skipped.
std::vector<std::uint64_t> numbers(const json& value)
{
    std::vector<std::uint64_t> result;
    if (!value.is_array())
        return result;
    for (const auto& item : value)
        if (item.is_number_unsigned() || (item.is_number_integer() && item.get<std::int64_t>() >= 0))
            result.push_back(item.get<std::uint64_t>());
    return result;
}
} // namespace

std::optional<json> X11WindowServer::managedDisplaySpaces()
{
    auto snapshot = desktop_->snapshot();
    if (!snapshot)
        return std::nullopt;
    const auto monitors = readMonitors(desktop_->connection());
    const auto& root = snapshot->root;
    json current = json::object();
    if (root.currentDesktop && *root.currentDesktop < root.numberOfDesktops) {
        const auto index = *root.currentDesktop;
        current = {{"id64", spaceOf(index)},
                   {"ManagedSpaceID", spaceOf(index)},
                   {"uuid", index < root.desktopNames.size() ? root.desktopNames[index] : std::string()},
                   {"type", 0}};
    }
    json spaces = json::array();
    for (std::uint32_t i = 0; i < root.numberOfDesktops; ++i)
        spaces.push_back({{"id64", spaceOf(i)},
                          {"ManagedSpaceID", spaceOf(i)},
                          {"uuid", i < root.desktopNames.size() ? root.desktopNames[i] : std::string()},
                          {"type", 0}});
    json displays = json::array();
    for (std::size_t d = 0; d < monitors.size(); ++d) {
        displays.push_back({{"Display Identifier", monitors[d].name},
                            {"Current Space", current},
                            {"Spaces", d == 0 ? spaces : json::array()}});
    }
    return displays;
}

std::optional<json> X11WindowServer::windowList()
{
    auto snapshot = desktop_->snapshot();
    if (!snapshot)
        return std::nullopt;
    json list = json::array();
    for (const auto& client : snapshot->clients) {
        json entry = {{"kCGWindowLayer", 0},
                      {"kCGWindowNumber", client.id},
                      {"kCGWindowBounds", {{"X", client.x}, {"Y", client.y}, {"Width", client.width}, {"Height", client.height}}},
                      {"kCGWindowName", client.title}};
        if (client.pid > 0)
            entry["kCGWindowOwnerPID"] = client.pid;
        list.push_back(std::move(entry));
    }
    return list;
}

bool X11WindowServer::hotKeyEnabled(std::int32_t id)
{
    std::lock_guard lock(hotKeysMutex_);
    auto it = hotKeys_.find(id);
    return it == hotKeys_.end() || it->second;
}

CGError X11WindowServer::setHotKeyEnabled(std::int32_t id, bool enabled)
{
    std::lock_guard lock(hotKeysMutex_);
    hotKeys_[id] = enabled;
    return 0;
}

bool X11WindowServer::exportsSymbol(std::string_view name)
{
    // Entries the diagnostics report that have no slot of their own.
    return name == "CGSManagedDisplayGetCurrentSpace" && desktop_->isOpen();
}

WindowServerSlots X11WindowServer::slots()
{
    // The slots hold the backend weakly: a table kept by the bridge after the
    // backend is gone answers as if the connection were lost.
    std::weak_ptr<X11WindowServer> weak = weak_from_this();
    auto desktopOf = [weak]() -> std::shared_ptr<X11Desktop> {
        auto self = weak.lock();
        if (!self || !self->desktop_->isOpen())
            return nullptr;
        return self->desktop_;
    };

    WindowServerSlots s;
    s.mainConnectionID = [desktopOf]() -> ConnectionID { return desktopOf() ? 1 : 0; };
    s.setSymbolicHotKeyEnabled = [weak](std::int32_t id, bool enabled) -> CGError {
        auto self = weak.lock();
        return self ? self->setHotKeyEnabled(id, enabled) : x11ServerFailure;
    };
    s.isSymbolicHotKeyEnabled = [weak](std::int32_t id) {
        auto self = weak.lock();
        return self ? self->hotKeyEnabled(id) : true;
    };
    s.setFrontProcessWithOptions = [desktopOf](const ProcessSerialNumber&, WindowID windowID, std::uint32_t) -> CGError {
        auto desktop = desktopOf();
        if (!desktop || !desktop->windowExists(windowID))
            return x11ServerFailure;
        desktop->activate(windowID);
        return 0;
    };
    s.postEventRecordTo = [desktopOf](const ProcessSerialNumber&, std::span<const std::uint8_t, eventRecordSize> record) -> CGError {
        auto desktop = desktopOf();
        if (!desktop)
            return x11ServerFailure;
        // The target window sits little-endian at offset 60.
        const WindowID window = WindowID{record[60]} | WindowID{record[61]} << 8 | WindowID{record[62]} << 16
                                | WindowID{record[63]} << 24;
        return window != 0 && desktop->windowExists(window) ? 0 : x11ServerFailure;
    };
    s.copyManagedDisplaySpaces = [weak, desktopOf](ConnectionID) -> std::optional<json> {
        auto self = weak.lock();
        if (!self || !desktopOf())
            return std::nullopt;
        return self->managedDisplaySpaces();
    };
    s.getActiveSpace = [desktopOf](ConnectionID) -> SpaceID {
        auto desktop = desktopOf();
        if (!desktop)
            return 0;
        auto root = desktop->root();
        if (!root || !root->currentDesktop || *root->currentDesktop >= root->numberOfDesktops)
            return 0;
        return spaceOf(*root->currentDesktop);
    };
    s.copySpacesForWindows = [desktopOf](ConnectionID, std::int32_t, const json& windowIDs) -> std::optional<json> {
        auto desktop = desktopOf();
        if (!desktop)
            return std::nullopt;
        auto root = desktop->root();
        if (!root)
            return std::nullopt;
        std::vector<xcb_window_t> ids;
        for (auto id : numbers(windowIDs))
            if (id <= 0xFFFFFFFFu)
                ids.push_back(static_cast<xcb_window_t>(id));
        json result = json::array();
        for (const auto& read : desktop->clients(ids))
            if (read.info)
                for (auto space : spacesOf(*read.info, root->numberOfDesktops))
                    result.push_back(space);
        return result;
    };
    s.copyWindowsWithOptionsAndTags = [desktopOf](ConnectionID, std::int32_t owner, const json& spaceIDs, std::int32_t,
                                                  std::int64_t&, std::int64_t&) -> std::optional<json> {
        auto desktop = desktopOf();
        if (!desktop)
            return std::nullopt;
        auto snapshot = desktop->snapshot();
        if (!snapshot)
            return std::nullopt;
        const auto wanted = numbers(spaceIDs);
        const std::set<SpaceID> spaces(wanted.begin(), wanted.end());
        json result = json::array();
        for (const auto& client : snapshot->clients) {
            if (owner != 0 && client.pid != owner)
                continue;
            for (auto space : spacesOf(client, snapshot->root.numberOfDesktops)) {
                if (spaces.count(space)) {
                    result.push_back(client.id);
                    break;
                }
            }
        }
        return result;
    };
    s.managedDisplaySetCurrentSpace = [desktopOf](ConnectionID, const std::string&, SpaceID space) {
        auto desktop = desktopOf();
        if (desktop && space >= 1 && space <= 0xFFFFFFFFu)
            desktop->switchDesktop(static_cast<std::uint32_t>(space - 1));
    };
    s.getProcessForPID = [desktopOf](Pid pid, ProcessSerialNumber& psn) -> std::int32_t {
        // A client's key stands for a process while the client has windows.
        auto desktop = desktopOf();
        const bool exists = isClientKey(pid) ? desktop && desktop->application(pid) : isRunningProcess(pid);
        if (!exists)
            return x11ProcessNotFound;
        psn = {0, static_cast<std::uint32_t>(pid)};
        return 0;
    };
    s.getFrontProcess = [desktopOf](ProcessSerialNumber& psn) -> std::int32_t {
        auto desktop = desktopOf();
        if (!desktop)
            return x11ProcessNotFound;
        auto root = desktop->root();
        if (!root || root->activeWindow == 0)
            return x11ProcessNotFound;
        auto read = desktop->client(root->activeWindow);
        if (!read.info || read.info->pid <= 0)
            return x11ProcessNotFound;
        psn = {0, static_cast<std::uint32_t>(read.info->pid)};
        return 0;
    };
    s.getProcessPID = [](const ProcessSerialNumber& psn, Pid& pid) -> std::int32_t {
        if (psn.highLongOfPSN != 0 || psn.lowLongOfPSN == 0 || psn.lowLongOfPSN > 0x7FFFFFFFu)
            return x11ProcessNotFound;
        pid = static_cast<Pid>(psn.lowLongOfPSN);
        return 0;
    };
    s.windowListCopyWindowInfo = [weak, desktopOf](std::int32_t, WindowID) -> std::optional<json> {
        auto self = weak.lock();
        if (!self || !desktopOf())
            return std::nullopt;
        return self->windowList();
    };
    return s;
}

} // namespace vantrel
