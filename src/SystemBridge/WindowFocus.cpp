// Bringing one window of one process to the front, across spaces, as a trace of steps.
#include "SystemBridge/WindowFocus.h"

#include "SystemBridge/AXBridge.h"
#include "SystemBridge/BridgeState.h"
#include "SystemBridge/SkyLight.h"
#include "SystemBridge/Spaces.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace vantrel::WindowFocus {

namespace {

using Clock = std::chrono::steady_clock;

void putLittleEndian32(std::array<std::uint8_t, eventRecordSize>& record, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putDouble(std::array<std::uint8_t, eventRecordSize>& record, std::size_t offset, double value)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (std::size_t i = 0; i < 8; ++i)
        record[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

/// Runs `operation` and returns its result with the time it took.
template <class F>
auto timed(F&& operation, std::chrono::nanoseconds& elapsed)
{
    auto start = Clock::now();
    auto result = operation();
    elapsed = Clock::now() - start;
    return result;
}

std::string hex(std::uint32_t value)
{
    std::ostringstream out;
    out << std::hex << value;
    return out.str();
}

} // namespace

bool Trace::succeeded() const
{
    return std::all_of(steps.begin(), steps.end(),
                       [](const Step& step) { return step.ok || step.name == "repairOriginSpace"; });
}

std::string Trace::summary() const
{
    std::string text;
    for (const auto& step : steps) {
        if (!text.empty())
            text += ' ';
        text += step.name + (step.ok ? "=true" : "=false");
    }
    return text;
}

std::array<std::uint8_t, eventRecordSize> makeEventRecord(WindowID windowID, std::uint8_t type)
{
    std::array<std::uint8_t, eventRecordSize> record{};
    putLittleEndian32(record, 4, 0xF8);
    record[8] = type;
    putDouble(record, 32, 300000.0);
    putDouble(record, 40, 300000.0);
    record[58] = 0x10;
    putLittleEndian32(record, 60, windowID);
    return record;
}

bool isAvailable()
{
    return static_cast<bool>(SkyLight::setFrontProcessWithOptions()) && static_cast<bool>(SkyLight::getProcessForPID());
}

std::optional<Pid> frontmostPID()
{
    // Looked up on every call, never cached.
    auto server = detail::currentState()->backends.windowServer;
    if (!server)
        return std::nullopt;
    auto table = server->slots();
    if (!table.getFrontProcess || !table.getProcessPID)
        return std::nullopt;
    ProcessSerialNumber psn{};
    if (table.getFrontProcess(psn) != 0)
        return std::nullopt;
    Pid pid = 0;
    if (table.getProcessPID(psn, pid) != 0)
        return std::nullopt;
    return pid;
}

Trace focus(WindowID windowID, Pid pid, AXElement element, const Options& options)
{
    auto start = Clock::now();
    Trace trace;
    auto record = [&](std::string name, bool ok, std::string detail, std::chrono::nanoseconds elapsed) {
        trace.steps.push_back({std::move(name), ok, std::move(detail), elapsed});
    };

    trace.originSpaceID = Spaces::activeSpaceID();
    auto previousFrontPID = frontmostPID();
    if (!element)
        element = AXBridge::window(windowID, pid).value_or(nullptr);

    auto spaces = Spaces::spaceIDs(windowID);
    if (!spaces.empty()) {
        auto visible = Spaces::visibleSpaceIDs();
        bool onVisible = std::any_of(spaces.begin(), spaces.end(), [&](SpaceID id) { return visible.count(id) > 0; });
        if (!onVisible) {
            std::chrono::nanoseconds elapsed{};
            bool ok = timed([&] { return Spaces::makeCurrent(spaces.front()); }, elapsed);
            record("switchSpace", ok, "space " + std::to_string(spaces.front()), elapsed);
        }
    }

    if (element && AXBridge::attribute<bool>(element, "AXMinimized").value_or(false)) {
        std::chrono::nanoseconds elapsed{};
        AXError code = timed([&] { return AXBridge::setMinimized(element, false); }, elapsed);
        record("unminimize", code == AXErrors::success, "AXError " + std::to_string(code), elapsed);
    }

    ProcessSerialNumber psn{};
    auto getProcess = SkyLight::getProcessForPID();
    if (!getProcess || getProcess(pid, psn) != 0) {
        record("psn", false, "GetProcessForPID failed", std::chrono::nanoseconds::zero());
        trace.total = Clock::now() - start;
        return trace;
    }

    if (auto setFront = SkyLight::setFrontProcessWithOptions()) {
        std::chrono::nanoseconds elapsed{};
        CGError result = timed([&] { return setFront(psn, windowID, options.frontProcessMode); }, elapsed);
        record("setFrontProcessWithOptions", result == 0,
               "CGError " + std::to_string(result) + ", mode 0x" + hex(options.frontProcessMode), elapsed);
    } else {
        record("setFrontProcessWithOptions", false, "symbol missing", std::chrono::nanoseconds::zero());
    }

    if (options.postEventRecord) {
        if (auto post = SkyLight::postEventRecordTo()) {
            auto stepStart = Clock::now();
            auto event = makeEventRecord(windowID, 1);
            CGError down = post(psn, event);
            std::string detail = "down=" + std::to_string(down);
            if (options.postMouseUp) {
                event[8] = 2;
                CGError up = post(psn, event);
                detail += " up=" + std::to_string(up);
            }
            record("postEventRecord", down == 0, detail, Clock::now() - stepStart);
        } else {
            record("postEventRecord", false, "symbol missing", std::chrono::nanoseconds::zero());
        }
    }

    if (options.raise) {
        if (!element) {
            record("raise", false, "no AX element for wid " + std::to_string(windowID), std::chrono::nanoseconds::zero());
        } else {
            auto stepStart = Clock::now();
            AXError code = AXBridge::raise(element);
            std::optional<AXElement> fresh;
            if (code == AXErrors::invalidUIElement)
                fresh = AXBridge::window(windowID, pid);
            if (fresh) {
                element = *fresh;
                AXError second = AXBridge::raise(element);
                record("raise", second == AXErrors::success,
                       "retried after invalidUIElement \u2192 AXError " + std::to_string(second), Clock::now() - stepStart);
            } else {
                record("raise", code == AXErrors::success, "AXError " + std::to_string(code), Clock::now() - stepStart);
            }
        }
    }

    trace.finalSpaceID = Spaces::activeSpaceID();

    if (options.repairOriginSpace && trace.originSpaceID && trace.finalSpaceID &&
        *trace.originSpaceID != *trace.finalSpaceID && previousFrontPID && *previousFrontPID != pid &&
        Spaces::visibleSpaceIDs().count(*trace.originSpaceID) == 0) {
        std::chrono::nanoseconds elapsed{};
        bool ok = timed([&] { return Spaces::setFrontProcess(*trace.originSpaceID, *previousFrontPID); }, elapsed);
        record("repairOriginSpace", ok,
               "space " + std::to_string(*trace.originSpaceID) + " \u2190 pid " + std::to_string(*previousFrontPID),
               elapsed);
    }

    trace.total = Clock::now() - start;
    return trace;
}

} // namespace vantrel::WindowFocus
