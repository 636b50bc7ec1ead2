#include "platform/Clock.h"

namespace platform {

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTime();
}

QString generalDate(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy/MM/dd H:mm:ss"));
}

} // namespace platform
