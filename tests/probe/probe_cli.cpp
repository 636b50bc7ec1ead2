// Probes one host and prints each Ping event as tab-separated fields, so a
// test can run the probe as another user or in another namespace; then
// "result" and "ticks", the count of a 20 ms timer that the event loop ran
// meanwhile (0 when the probe held the loop up).
#include "probe/C_PING.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

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
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    const bool ok = ping.Ping(QString::fromLocal8Bit(argv[1]));
    out << "result\t" << (ok ? "true" : "false") << '\n';
    out << "ticks\t" << ticks << '\n';
    return 0;
}
