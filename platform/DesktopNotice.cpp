#include "platform/DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace platform {

void notifyDesktop(const QString& summary, const QString& body, bool critical,
                   const std::function<void(const QString& failure)>& onAnswer) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (onAnswer)
            onAnswer(QStringLiteral("セッションバスがありません"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(critical ? 2 : 1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("pulsewatch"));
    call << QStringLiteral("Pulsewatch") << 0u << QStringLiteral("pulsewatch") << summary << body
         << QStringList() << hints << (critical ? 0 : -1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [onAnswer](QDBusPendingCallWatcher* w) {
                         const QDBusPendingReply<uint> reply = *w;
                         if (onAnswer)
                             onAnswer(reply.isError() ? reply.error().message() : QString());
                         w->deleteLater();
                     });
}

} // namespace platform
