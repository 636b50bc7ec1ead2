#pragma once

#include <QString>
#include <QtGlobal>

namespace monitor {

/// The outcome line recorded for one probe event. A successful echo reads
/// "Reply from ADDR:HOST: Bytes = n RTT = n ms TTL = n"; any other outcome
/// "Reply from ADDR: HOST: TEXT" (note the blank after the address's colon
/// that only the failure line has; the event table holds lines in both forms).
QString outcomeLine(qint32 lngCode, const QString& strCode, const QString& strHostName,
                    const QString& strIPAddress, qint32 lngBytes, qint32 lngRTT, qint32 lngTTL);

} // namespace monitor
