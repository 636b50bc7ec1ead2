// Sequential echoes to 127.0.0.1 through C_PING against `ping -f -q` doing
// the same number of echoes, in the same run; prints the median wall time
// per echo of each over several rounds and their ratio. Needs root (flood
// ping, and a raw socket where ping sockets are not allowed).
#include "probe/C_PING.h"

#include "BenchUtil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int echoes = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 7;
    QTextStream out(stdout);

    std::vector<double> ours, peer;
    for (int r = 0; r < rounds; ++r) {
        C_PING p;
        int answered = 0;
        p.onPing([&answered](qint32 code, const QString&, const QString&, const QString&, qint32,
                             qint32, qint32) { answered += code == 0; });
        p.setPackets(echoes);
        QElapsedTimer t;
        t.start();
        p.Ping(QStringLiteral("127.0.0.1"));
        ours.push_back(t.nsecsElapsed() / 1000.0 / echoes);
        if (answered != echoes) {
            out << "C_PING: only " << answered << " of " << echoes << " echoes answered\n";
            return 1;
        }

        QProcess ping;
        t.restart();
        ping.start(QStringLiteral("ping"),
                   {QStringLiteral("-f"), QStringLiteral("-q"), QStringLiteral("-c"),
                    QString::number(echoes), QStringLiteral("127.0.0.1")});
        if (!ping.waitForFinished(60000) || ping.exitCode() != 0) {
            out << "ping -f failed: " << ping.readAllStandardError() << "\n";
            return 1;
        }
        peer.push_back(t.nsecsElapsed() / 1000.0 / echoes);
    }
    const double a = median(ours);
    const double b = median(peer);
    out << "echoes per round: " << echoes << ", rounds: " << rounds << "\n";
    out << "C_PING      median " << QString::number(a, 'f', 2) << " us/echo\n";
    out << "ping -f -q  median " << QString::number(b, 'f', 2) << " us/echo\n";
    out << "ratio C_PING / ping: " << QString::number(a / b, 'f', 2) << "\n";
    return 0;
}
