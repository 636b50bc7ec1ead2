#include "platform/TrayHost.h"

#include <QDBusMessage>
#include <QMenu>
#include <QMutex>
#include <QSystemTrayIcon>

#include <mutex>
#include <utility>

// Exported by Qt's D-Bus module without a public header. Every call that
// reaches the program passes through these hooks on the GUI thread, just
// before Qt delivers it.
void qDBusAddSpyHook(void (*hook)(const QDBusMessage&));

namespace platform {

namespace {

QMutex positionLock;
std::optional<QPoint> hostPosition;

// Qt's StatusNotifierItem turns ContextMenu(x, y) into a bare right-click
// activation and drops x and y, the place where the host wants the menu.
void noteContextMenu(const QDBusMessage& call) {
    if (call.member() != QLatin1String("ContextMenu") ||
        call.interface() != QLatin1String("org.kde.StatusNotifierItem"))
        return;
    const QVariantList args = call.arguments();
    if (args.size() != 2)
        return;
    const QMutexLocker lock(&positionLock);
    hostPosition = QPoint(args[0].toInt(), args[1].toInt());
}

} // namespace

bool giveMenuToTrayHost(QSystemTrayIcon& icon, QMenu& menu) {
    icon.setContextMenu(&menu);
    // Only the StatusNotifierItem backend turns the menu into a D-Bus
    // menu. The X tray would pop the menu up by itself on a right click,
    // before the program could refuse it, so it gets none.
    if (!menu.platformMenu()) {
        icon.setContextMenu(nullptr);
        return false;
    }
    static std::once_flag hooked;
    std::call_once(hooked, [] { qDBusAddSpyHook(noteContextMenu); });
    return true;
}

std::optional<QPoint> takeHostMenuPosition() {
    const QMutexLocker lock(&positionLock);
    return std::exchange(hostPosition, std::nullopt);
}

} // namespace platform
