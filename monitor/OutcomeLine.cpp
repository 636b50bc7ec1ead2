#include "monitor/OutcomeLine.h"

namespace monitor {

QString outcomeLine(qint32 lngCode, const QString& strCode, const QString& strHostName,
                    const QString& strIPAddress, qint32 lngBytes, qint32 lngRTT, qint32 lngTTL) {
    if (lngCode == 0)
        return QStringLiteral("Reply from ") + strIPAddress + QStringLiteral(":") + strHostName +
               QStringLiteral(": Bytes = ") + QString::number(lngBytes) +
               QStringLiteral(" RTT = ") + QString::number(lngRTT) + QStringLiteral(" ms TTL = ") +
               QString::number(lngTTL);
    return QStringLiteral("Reply from ") + strIPAddress + QStringLiteral(": ") + strHostName +
           QStringLiteral(": ") + strCode;
}

} // namespace monitor
