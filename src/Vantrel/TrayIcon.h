// The tray icon and its menu on the desktop's system tray.
#pragma once

#include "Vantrel/AppParts.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include <memory>

namespace vantrel {

/// A QSystemTrayIcon whose context menu mirrors the rows it is given.
class TrayIcon final : public TrayService {
public:
    /// The icon, shown; it docks whenever a system tray is there.
    static std::unique_ptr<TrayIcon> make();
    TrayIcon();
    ~TrayIcon() override;

    void setMenu(const std::vector<MenuItem>& items) override;
    void setWarning(bool warning) override;
    bool isDocked() const override;

    QMenu& menu() { return menu_; }
    /// The icon the tray shows now.
    QIcon icon() const { return icon_.icon(); }

private:
    QMenu menu_;
    QSystemTrayIcon icon_;
};

} // namespace vantrel
