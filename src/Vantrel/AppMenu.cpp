// The tray menu as a list of rows: what it holds follows from the application's state alone.
#include "Vantrel/AppMenu.h"

namespace vantrel {

std::string culpritDisplayName(std::int32_t culprit, const std::optional<std::string>& applicationName)
{
    if (culprit < 1)
        return "another app";
    if (applicationName && !applicationName->empty())
        return *applicationName;
    return "pid " + std::to_string(culprit);
}

namespace {

MenuItem row(std::string title, MenuAction action = MenuAction::none, std::string shortcut = {})
{
    MenuItem item;
    item.title = std::move(title);
    item.action = action;
    item.shortcut = std::move(shortcut);
    return item;
}

MenuItem separator()
{
    MenuItem item;
    item.separator = true;
    return item;
}

} // namespace

std::vector<MenuItem> buildMenu(const MenuState& state)
{
    std::vector<MenuItem> items;
    items.push_back(row("Vantrel " + (state.version.empty() ? std::string("dev") : state.version)));
    if (!state.desktopReady)
        items.push_back(row("Grant Accessibility Permission…", MenuAction::showOnboarding));
    if (auto culprit = state.secureInputCulprit) {
        const auto name = culpritDisplayName(*culprit, state.culpritName);
        items.push_back(separator());
        items.push_back(row("⚠️ Secure Input is on in " + name));
        items.push_back(row("Fast Search is unavailable; ⌃Space search still works"));
        if (*culprit >= 1)
            items.push_back(row("Quit " + name, MenuAction::quitSecureInputApp));
    }
    items.push_back(separator());
    items.push_back(row("Check for Updates…", MenuAction::checkForUpdates));
    items.push_back(row("Settings…", MenuAction::showSettings, "Ctrl+,"));
    items.push_back(separator());
    items.push_back(row("Quit Vantrel", MenuAction::quit, "Ctrl+Q"));
    return items;
}

} // namespace vantrel
