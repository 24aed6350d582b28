// Diagnostics: which of the window server's private entry points the installed backend offers.
#include "SystemBridge/PrivateSymbols.h"

#include "SystemBridge/BridgeState.h"

namespace vantrel::PrivateSymbols {

bool isResolvable(std::string_view name)
{
    auto backends = detail::currentState()->backends;
    if (name == "_AXUIElementGetWindow")
        return backends.accessibility && backends.accessibility->offersGetWindow();
    if (!backends.windowServer)
        return false;
    auto table = backends.windowServer->slots();
    auto offered = [](const auto& slot) { return static_cast<bool>(slot); };
    if (name == "CGSMainConnectionID") return offered(table.mainConnectionID);
    if (name == "CGSSetSymbolicHotKeyEnabled") return offered(table.setSymbolicHotKeyEnabled);
    if (name == "CGSIsSymbolicHotKeyEnabled") return offered(table.isSymbolicHotKeyEnabled);
    if (name == "_SLPSSetFrontProcessWithOptions") return offered(table.setFrontProcessWithOptions);
    if (name == "SLPSPostEventRecordTo") return offered(table.postEventRecordTo);
    if (name == "CGSCopyManagedDisplaySpaces") return offered(table.copyManagedDisplaySpaces);
    if (name == "CGSGetActiveSpace") return offered(table.getActiveSpace);
    if (name == "CGSCopySpacesForWindows") return offered(table.copySpacesForWindows);
    if (name == "CGSCopyWindowsWithOptionsAndTags") return offered(table.copyWindowsWithOptionsAndTags);
    if (name == "SLSSpaceSetFrontPSN") return offered(table.spaceSetFrontPSN);
    if (name == "CGSSpaceSetFrontPSN") return offered(table.spaceSetFrontPSNFallback);
    if (name == "CGSManagedDisplaySetCurrentSpace") return offered(table.managedDisplaySetCurrentSpace);
    if (name == "GetProcessForPID") return offered(table.getProcessForPID);
    if (name == "GetFrontProcess") return offered(table.getFrontProcess);
    if (name == "GetProcessPID") return offered(table.getProcessPID);
    if (name == "CGSessionCopyCurrentDictionary") return offered(table.sessionCopyCurrentDictionary);
    if (name == "CGWindowListCopyWindowInfo") return offered(table.windowListCopyWindowInfo);
    return backends.windowServer->exportsSymbol(name);
}

std::vector<Entry> report()
{
    std::vector<Entry> rows;
    rows.reserve(knownNames.size());
    for (auto name : knownNames)
        rows.push_back({std::string(name), isResolvable(name)});
    return rows;
}

} // namespace vantrel::PrivateSymbols
