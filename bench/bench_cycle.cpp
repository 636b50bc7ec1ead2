// The whole monitoring cycle (RETRY 1, rows written to a real event
// database) against `fping -r 1 -t 500` over the same addresses, in the same
// run, inside network namespaces the bench makes: A runs both, B ignores echo
// requests, C answers. The server table holds ten slots, so the tables are
// ten silent hosts, five silent and five answering, and ten answering; ten
// loopback servers show the cost of a cycle where every server answers at
// once. Prints the median wall time of each over several rounds and the
// ratio. Needs root (namespaces, raw sockets).
#include "events/EventLog.h"
#include "monitor/MonitorCycle.h"
#include "support/Netns.h"
#include "support/TestFolder.h"

#include "BenchUtil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>

#include <vector>

using testsupport::EnterNetns;
using testsupport::Netns;

namespace {

struct Table {
    const char* label;
    QStringList hosts;
    bool compareWithFping;
};

QStringList range(const char* prefix, int first, int count) {
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << QStringLiteral("%1.%2").arg(QLatin1String(prefix)).arg(first + i);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);
    Netns netns;
    const QStringList silent = range("10.99.1", 11, 10);
    const QStringList answering = range("10.99.2", 11, 10);
    QString a;
    if (const QString why = netns.addEchoPeers(&a, silent, answering); !why.isEmpty()) {
        out << "bench_cycle: " << why << "\n";
        return 1;
    }

    const Table tables[] = {
        {"10 silent", silent, true},
        {"5 silent + 5 answering", silent.mid(0, 5) + answering.mid(0, 5), true},
        {"10 answering", answering, true},
        {"10 x loopback", QStringList(10, QStringLiteral("127.0.0.1")), false},
    };

    EnterNetns inA(a);
    if (!inA.ok()) {
        out << "bench_cycle: could not enter the namespace\n";
        return 1;
    }
    testsupport::TestFolder folder;
    AppState state(folder.folder());
    state.mINTERVAL = 0;
    state.RETRY = QStringLiteral("1");
    testsupport::FixedClock clock(QDateTime::currentDateTime());
    events::EventLog log(state, clock);
    monitor::MonitorCycle cycle(state, log);

    out << "rounds: " << rounds << ", RETRY 1, reply wait 500 ms\n";
    for (const Table& t : tables) {
        state.SERVER_CNT = static_cast<qint16>(t.hosts.size());
        for (int i = 0; i < t.hosts.size(); ++i)
            state.Servers[i + 1] = {t.hosts[i], QString(), QString(), 1, 0};
        const int loopRounds = t.compareWithFping ? rounds : rounds * 4;
        std::vector<double> ours, peer;
        for (int r = 0; r < loopRounds; ++r) {
            QElapsedTimer timer;
            timer.start();
            cycle.Timer1_Timer();
            ours.push_back(timer.nsecsElapsed() / 1e6);
            if (!t.compareWithFping)
                continue;
            QProcess fping;
            timer.restart();
            fping.start(QStringLiteral("fping"),
                        QStringList{QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("1"),
                                    QStringLiteral("-t"), QStringLiteral("500")} +
                            t.hosts);
            if (!fping.waitForFinished(30000) || fping.exitCode() > 1) {
                out << "fping failed: " << fping.readAllStandardError() << "\n";
                return 1;
            }
            peer.push_back(timer.nsecsElapsed() / 1e6);
        }
        out << t.label << ": cycle median " << QString::number(median(ours), 'f', 1) << " ms";
        if (t.compareWithFping)
            out << ", fping median " << QString::number(median(peer), 'f', 1)
                << " ms, ratio cycle/fping "
                << QString::number(median(ours) / median(peer), 'f', 2);
        out << "\n";
        out.flush();
    }
    return 0;
}
