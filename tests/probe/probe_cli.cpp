// Probes one host and prints each Ping event as tab-separated fields, so a
// test can run the probe as another user or in another namespace.
#include "probe/C_PING.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: probe_cli HOST [PACKETS]\n";
        return 2;
    }
    C_PING ping;
    if (argc > 2)
        ping.setPackets(QString::fromLocal8Bit(argv[2]).toInt());
    QTextStream out(stdout);
    ping.onPing([&out](qint32 code, const QString& text, const QString& host, const QString& ip,
                       qint32 bytes, qint32 rtt, qint32 ttl) {
        out << code << '\t' << text << '\t' << host << '\t' << ip << '\t' << bytes << '\t' << rtt
            << '\t' << ttl << '\n';
    });
    const bool ok = ping.Ping(QString::fromLocal8Bit(argv[1]));
    out << "result\t" << (ok ? "true" : "false") << '\n';
    return 0;
}
