#include "platform/Display.h"

#include <QFile>

namespace platform {

QString missingDisplayReason() {
    const QByteArray qpa = qgetenv("QT_QPA_PLATFORM");
    if (!qpa.isEmpty() && !qpa.startsWith("xcb") && !qpa.startsWith("wayland"))
        return QString(); // offscreen, vnc, ...: Qt needs no display server
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    if (!wayland.isEmpty() && !qpa.startsWith("xcb"))
        return QString();
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return QStringLiteral("画面がありません (DISPLAY も WAYLAND_DISPLAY も設定されていません)。"
                              "デスクトップのセッションで起動してください。");
    // A local display ":N" has its socket in /tmp/.X11-unix.
    if (display.startsWith(':')) {
        const QByteArray number = display.mid(1).split('.').first();
        if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X") + QString::fromLatin1(number)))
            return QStringLiteral("画面 %1 に接続できません (X サーバーが動いていません)。")
                .arg(QString::fromLocal8Bit(display));
    }
    return QString();
}

} // namespace platform
