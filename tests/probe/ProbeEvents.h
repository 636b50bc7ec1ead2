#pragma once

#include "probe/C_PING.h"

#include <QList>

struct PingEventArgs {
    qint32 code;
    QString text;
    QString host;
    QString ip;
    qint32 bytes;
    qint32 rtt;
    qint32 ttl;
};

/// Collects every Ping event of a probe.
inline QList<PingEventArgs>* recordEvents(C_PING& ping, QList<PingEventArgs>& into) {
    ping.onPing([&into](qint32 code, const QString& text, const QString& host, const QString& ip,
                        qint32 bytes, qint32 rtt, qint32 ttl) {
        into.append({code, text, host, ip, bytes, rtt, ttl});
    });
    return &into;
}
