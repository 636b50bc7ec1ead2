#pragma once

#include <QPoint>

#include <optional>

class QMenu;
class QSystemTrayIcon;

namespace platform {

/// Gives the tray icon its menu where the tray host draws the menu itself:
/// a StatusNotifierItem host (KDE Plasma, GNOME's AppIndicator extension)
/// reads the items over D-Bus and shows them on a right click, without
/// asking the program first. True then. On the X tray the menu is left to
/// the caller, who pops it up after its own checks; false.
bool giveMenuToTrayHost(QSystemTrayIcon& icon, QMenu& menu);

/// Where the tray host asked for the menu with its latest ContextMenu call
/// (screen coordinates), taken once; empty when no host has asked since.
std::optional<QPoint> takeHostMenuPosition();

} // namespace platform
