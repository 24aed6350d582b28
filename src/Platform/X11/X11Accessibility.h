// The accessibility interface on X11: applications are pids owning managed
// windows, their windows are the window manager's clients.
//
// - application element / "AXWindows": the process's managed client windows,
//   front first; the owning pid comes from the X-Resource extension, else
//   `_NET_WM_PID` when it names a running process; a window with neither
//   belongs to its client's own key (`clientKey`), which stands for a pid.
// - "AXTitle": `_NET_WM_NAME` (UTF-8), else `WM_NAME`; invalid UTF-8 repaired,
//   at most 4 KiB; a character cut by that read limit is left out.
// - "AXSubrole": "AXStandardWindow" for a normal window (no type or
//   `_NET_WM_WINDOW_TYPE_NORMAL`, not transient, not skip-taskbar), "AXDialog"
//   for dialogs and transient windows, "AXFloatingWindow" for utility and
//   toolbar windows and skip-taskbar normal ones, "AXSystemFloatingWindow" for
//   docks, desktops, menus, splash screens and notifications, "AXUnknown" for
//   types we do not know.
// - "AXMinimized": `_NET_WM_STATE_HIDDEN` (ICCCM IconicState when the window
//   manager keeps no `_NET_WM_STATE`); setting true sends the ICCCM iconify
//   request, setting false activates the window.
// - "AXCloseButton" + "AXPress": `_NET_CLOSE_WINDOW`, so the window manager
//   asks the client politely (WM_DELETE_WINDOW); a client is never killed.
// - "AXRaise": activate and restack through the window manager.
// - "AXFocusedWindow": the application's most recently active window, else the
//   front-most of its windows.
// - observers: PropertyNotify on the root (client list, active window) and on
//   clients (names, state) become the ten notifications for the owning pid.
// - errors: a window that vanished mid-call = -25202; no display = -25204; an
//   attribute we do not offer = -25205; an action = -25206.
// - trust: the display connection is open and an EWMH window manager answers
//   `_NET_SUPPORTING_WM_CHECK`; asking for trust checks again.
//
// Attribute reads are cheap after an "AXWindows" read: that read fills the
// desktop's client table in one batch, and each window's attributes come from
// it until an X event about that window arrives.
#pragma once

#include "Platform/X11/X11Desktop.h"
#include "SystemBridge/AccessibilityBackend.h"

namespace vantrel {

class X11Accessibility final : public AccessibilityBackend {
public:
    explicit X11Accessibility(std::shared_ptr<X11Desktop> desktop) : desktop_(std::move(desktop)) {}

    bool isProcessTrusted() override;
    bool isProcessTrustedWithOptions(bool prompt) override;
    AXElement createApplication(Pid pid) override;
    AXError setMessagingTimeout(const AXElement& element, float seconds) override;
    AXError copyAttributeValue(const AXElement& element, std::string_view attribute, AXValue& value) override;
    AXError setAttributeValue(const AXElement& element, std::string_view attribute, const AXValue& value) override;
    AXError performAction(const AXElement& element, std::string_view action) override;
    AXError getPid(const AXElement& element, Pid& pid) override;
    bool offersGetWindow() override { return true; }
    AXError getWindow(const AXElement& element, WindowID& windowID) override;
    AXError createObserver(Pid pid, AXObserverCallback callback, std::shared_ptr<AXObserver>& observer) override;

    /// The subrole of a window as described above.
    static std::string subrole(const X11ClientInfo& client);

private:
    std::shared_ptr<X11Desktop> desktop_;
};

} // namespace vantrel
