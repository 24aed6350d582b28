// The tray icon and its menu on the desktop's system tray.
#include "Vantrel/TrayIcon.h"

#include "Vantrel/AppIcons.h"

namespace vantrel {

std::unique_ptr<TrayIcon> TrayIcon::make()
{
    // Made even without a tray: Qt docks a shown icon in a tray that starts
    // later, as panels often do when a session starts.
    return std::make_unique<TrayIcon>();
}

bool TrayIcon::isDocked() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

TrayIcon::TrayIcon()
{
    icon_.setIcon(AppIcons::icon(false));
    icon_.setToolTip("Vantrel");
    icon_.setContextMenu(&menu_);
    icon_.show();
}

TrayIcon::~TrayIcon() { icon_.hide(); }

void TrayIcon::setMenu(const std::vector<MenuItem>& items)
{
    menu_.clear();
    for (const auto& item : items) {
        if (item.separator) {
            menu_.addSeparator();
            continue;
        }
        QAction* action = menu_.addAction(QString::fromStdString(item.title));
        action->setEnabled(item.enabled());
        if (!item.shortcut.empty()) {
            action->setShortcut(QKeySequence(QString::fromStdString(item.shortcut)));
            action->setShortcutVisibleInContextMenu(true);
        }
        // Queued: an action may rebuild this menu, which deletes the sender.
        QObject::connect(
            action, &QAction::triggered, &menu_,
            [this, chosen = item.action] {
                if (onAction)
                    onAction(chosen);
            },
            Qt::QueuedConnection);
    }
}

void TrayIcon::setWarning(bool warning)
{
    icon_.setIcon(AppIcons::icon(warning));
}

} // namespace vantrel
