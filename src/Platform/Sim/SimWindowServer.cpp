// The simulated desktop as a window server: the entry-point table over its displays, windows and shortcuts.
#include "Platform/Sim/SimDesktop.h"

#include "Platform/Sim/SimDesktopState.h"

#include <algorithm>
#include <sstream>

namespace vantrel::Sim {

namespace {

std::string hex(std::uint32_t value)
{
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

nlohmann::json spaceDictionary(const Space& space)
{
    return {{"id64", space.id}, {"ManagedSpaceID", space.managedID}, {"uuid", space.uuid}, {"type", space.type}};
}

} // namespace

// ---- WindowServerBackend ----

WindowServerSlots SimDesktop::slots()
{
    std::lock_guard lock(state_->mutex);
    auto self = shared_from_this();
    auto& s = *state_;
    WindowServerSlots table;
    auto psnOf = [](Pid pid) { return ProcessSerialNumber{psnMarker, static_cast<std::uint32_t>(pid)}; };
    auto pidOf = [self](const ProcessSerialNumber& psn) -> std::optional<Pid> {
        if (psn.highLongOfPSN != psnMarker || self->state_->app(static_cast<Pid>(psn.lowLongOfPSN)) == nullptr)
            return std::nullopt;
        return static_cast<Pid>(psn.lowLongOfPSN);
    };

    if (s.offers("CGSMainConnectionID"))
        table.mainConnectionID = [self] {
            self->record("CGSMainConnectionID");
            return ConnectionID{0x5a5a};
        };
    if (s.offers("CGSSetSymbolicHotKeyEnabled"))
        table.setSymbolicHotKeyEnabled = [self](std::int32_t id, bool enabled) {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSSetSymbolicHotKeyEnabled " + std::to_string(id) + (enabled ? " on" : " off"));
            CGError result = self->state_->nextResult("CGSSetSymbolicHotKeyEnabled");
            if (result == 0)
                SharedHotKeys::set(self->hotKeys_, id, enabled);
            return result;
        };
    if (s.offers("CGSIsSymbolicHotKeyEnabled"))
        table.isSymbolicHotKeyEnabled = [self](std::int32_t id) {
            self->record("CGSIsSymbolicHotKeyEnabled " + std::to_string(id));
            return self->hotKeys_->get(id);
        };
    if (s.offers("_SLPSSetFrontProcessWithOptions"))
        table.setFrontProcessWithOptions = [self, pidOf](const ProcessSerialNumber& psn, WindowID window, std::uint32_t mode) {
            std::lock_guard lock(self->state_->mutex);
            auto pid = pidOf(psn);
            self->record("_SLPSSetFrontProcessWithOptions pid=" + std::to_string(pid.value_or(0)) +
                         " wid=" + std::to_string(window) + " mode=" + hex(mode));
            CGError result = self->state_->nextResult("_SLPSSetFrontProcessWithOptions");
            if (result != 0)
                return result;
            if (!pid)
                return CGError{1000};
            self->state_->frontmost = *pid;
            if (auto* w = self->state_->window(window); w != nullptr && w->pid == *pid)
                self->state_->focusedWindow[*pid] = window;
            return CGError{0};
        };
    if (s.offers("SLPSPostEventRecordTo"))
        table.postEventRecordTo = [self](const ProcessSerialNumber&, std::span<const std::uint8_t, eventRecordSize> record) {
            std::lock_guard lock(self->state_->mutex);
            self->record("SLPSPostEventRecordTo type=" + std::to_string(record[8]));
            std::array<std::uint8_t, eventRecordSize> copy{};
            std::copy(record.begin(), record.end(), copy.begin());
            self->state_->records.push_back(copy);
            return self->state_->nextResult("SLPSPostEventRecordTo");
        };
    if (s.offers("CGSCopyManagedDisplaySpaces"))
        table.copyManagedDisplaySpaces = [self](ConnectionID) -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSCopyManagedDisplaySpaces");
            auto result = nlohmann::json::array();
            for (const auto& display : self->state_->displays) {
                nlohmann::json entry = {{"Display Identifier", display.identifier}};
                auto spaces = nlohmann::json::array();
                for (const auto& space : display.spaces) {
                    spaces.push_back(spaceDictionary(space));
                    if (space.id == display.currentSpaceID)
                        entry["Current Space"] = spaceDictionary(space);
                }
                entry["Spaces"] = std::move(spaces);
                result.push_back(std::move(entry));
            }
            return result;
        };
    if (s.offers("CGSGetActiveSpace"))
        table.getActiveSpace = [self](ConnectionID) -> SpaceID {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSGetActiveSpace");
            auto& displays = self->state_->displays;
            if (self->state_->activeDisplay >= displays.size())
                return 0;
            return displays[self->state_->activeDisplay].currentSpaceID;
        };
    if (s.offers("CGSCopySpacesForWindows"))
        table.copySpacesForWindows = [self](ConnectionID, std::int32_t mask, const nlohmann::json& windowIDs)
            -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSCopySpacesForWindows mask=" + std::to_string(mask) + " " + windowIDs.dump());
            if (!windowIDs.is_array())
                return std::nullopt;
            auto result = nlohmann::json::array();
            for (const auto& id : windowIDs)
                if (id.is_number_unsigned())
                    if (auto* w = self->state_->window(id.get<WindowID>()))
                        for (auto space : w->spaces)
                            if (std::find(result.begin(), result.end(), space) == result.end())
                                result.push_back(space);
            return result;
        };
    if (s.offers("CGSCopyWindowsWithOptionsAndTags"))
        table.copyWindowsWithOptionsAndTags = [self](ConnectionID, std::int32_t owner, const nlohmann::json& spaceIDs,
                                                     std::int32_t options, std::int64_t&, std::int64_t&)
            -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSCopyWindowsWithOptionsAndTags owner=" + std::to_string(owner) + " " + spaceIDs.dump() +
                         " options=" + std::to_string(options));
            if (!spaceIDs.is_array())
                return std::nullopt;
            auto result = nlohmann::json::array();
            for (const auto& w : self->state_->windows) {
                if (owner != 0 && w.pid != owner)
                    continue;
                bool onSpace = std::any_of(w.spaces.begin(), w.spaces.end(), [&](SpaceID space) {
                    return std::find(spaceIDs.begin(), spaceIDs.end(), space) != spaceIDs.end();
                });
                if (onSpace)
                    result.push_back(w.id);
            }
            return result;
        };
    auto spaceFront = [self, pidOf](const char* name) {
        return [self, pidOf, name](ConnectionID, SpaceID space, const ProcessSerialNumber& psn) {
            std::lock_guard lock(self->state_->mutex);
            auto pid = pidOf(psn);
            self->record(std::string(name) + " space=" + std::to_string(space) + " pid=" + std::to_string(pid.value_or(0)));
            CGError result = self->state_->nextResult(name);
            if (result != 0)
                return result;
            if (!pid)
                return CGError{1000};
            self->state_->spaceFront[space] = *pid;
            return CGError{0};
        };
    };
    if (s.offers("SLSSpaceSetFrontPSN"))
        table.spaceSetFrontPSN = spaceFront("SLSSpaceSetFrontPSN");
    if (s.offers("CGSSpaceSetFrontPSN"))
        table.spaceSetFrontPSNFallback = spaceFront("CGSSpaceSetFrontPSN");
    if (s.offers("CGSManagedDisplaySetCurrentSpace"))
        table.managedDisplaySetCurrentSpace = [self](ConnectionID, const std::string& identifier, SpaceID space) {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSManagedDisplaySetCurrentSpace " + identifier + " " + std::to_string(space));
            auto& displays = self->state_->displays;
            for (std::size_t i = 0; i < displays.size(); ++i) {
                bool listed = std::any_of(displays[i].spaces.begin(), displays[i].spaces.end(),
                                          [&](const Space& sp) { return sp.id == space; });
                if (displays[i].identifier == identifier && listed && displays[i].currentSpaceID != space) {
                    displays[i].currentSpaceID = space;
                    self->state_->activeDisplay = i;
                    self->emitSimple(static_cast<int>(Subscription::Kind::spaces), "");
                } else if (displays[i].identifier == identifier && listed) {
                    self->state_->activeDisplay = i;
                }
            }
        };
    if (s.offers("GetProcessForPID"))
        table.getProcessForPID = [self, psnOf](Pid pid, ProcessSerialNumber& psn) {
            std::lock_guard lock(self->state_->mutex);
            self->record("GetProcessForPID " + std::to_string(pid));
            std::int32_t result = self->state_->nextResult("GetProcessForPID");
            if (result != 0)
                return result;
            if (self->state_->app(pid) == nullptr)
                return processNotFound;
            psn = psnOf(pid);
            return 0;
        };
    if (s.offers("GetFrontProcess"))
        table.getFrontProcess = [self, psnOf](ProcessSerialNumber& psn) {
            std::lock_guard lock(self->state_->mutex);
            self->record("GetFrontProcess");
            if (!self->state_->frontmost)
                return processNotFound;
            psn = psnOf(*self->state_->frontmost);
            return 0;
        };
    if (s.offers("GetProcessPID"))
        table.getProcessPID = [self, pidOf](const ProcessSerialNumber& psn, Pid& pid) {
            std::lock_guard lock(self->state_->mutex);
            self->record("GetProcessPID");
            auto found = pidOf(psn);
            if (!found)
                return processNotFound;
            pid = *found;
            return 0;
        };
    if (s.offers("CGSessionCopyCurrentDictionary"))
        table.sessionCopyCurrentDictionary = [self]() -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGSessionCopyCurrentDictionary");
            if (self->state_->sessionOverride)
                return *self->state_->sessionOverride;
            return nlohmann::json{{"CGSSessionScreenIsLocked", self->state_->locked}, {"kCGSSessionOnConsoleKey", true}};
        };
    if (s.offers("CGWindowListCopyWindowInfo"))
        table.windowListCopyWindowInfo = [self](std::int32_t options, WindowID relative) -> std::optional<nlohmann::json> {
            std::lock_guard lock(self->state_->mutex);
            self->record("CGWindowListCopyWindowInfo options=" + std::to_string(options) + " relative=" + std::to_string(relative));
            auto result = nlohmann::json::array();
            for (const auto& w : self->state_->windows) {
                nlohmann::json entry = {
                    {"kCGWindowLayer", w.layer},
                    {"kCGWindowNumber", w.id},
                    {"kCGWindowOwnerPID", w.pid},
                    {"kCGWindowBounds", {{"X", 0}, {"Y", 0}, {"Width", w.width}, {"Height", w.height}}},
                };
                if (!w.title.empty())
                    entry["kCGWindowName"] = w.title;
                result.push_back(std::move(entry));
            }
            return result;
        };
    return table;
}

bool SimDesktop::exportsSymbol(std::string_view name)
{
    std::lock_guard lock(state_->mutex);
    return name == "CGSManagedDisplayGetCurrentSpace" && state_->offers(name);
}

SignalSafeHotKeySetter SimDesktop::signalSafeHotKeySetter()
{
    std::lock_guard lock(state_->mutex);
    if (!state_->offers("CGSSetSymbolicHotKeyEnabled"))
        return {};
    return SignalSafeHotKeySetter{&SharedHotKeys::set, hotKeys_};
}

} // namespace vantrel::Sim
