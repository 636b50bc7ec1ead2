// The whole monitoring cycle (RETRY 1, rows written to a real event
// database) against `fping -r 1 -t 500` over the same addresses, in the same
// run, inside network namespaces the bench makes: A runs both, B ignores echo
// requests, C answers. The server table holds ten slots, so the tables are
// ten silent hosts, five silent and five answering, and ten answering; ten
// loopback servers show the cost of a cycle where every server answers at
// once. Prints the median wall time of each over several rounds and the
// ratio. Then ten servers, nine dotted addresses and a name, RETRY 1, with
// A's DNS server (the tests' own responder, in C) healthy and then dead (it
// drops every query): those cycles run in cycle_cli under `ip netns exec A`,
// so that A's resolv.conf holds, and the medians of their cycles are printed
// side by side. Needs root (namespaces, raw sockets).
#include "events/EventLog.h"
#include "monitor/MonitorCycle.h"
#include "support/Netns.h"
#include "support/TestFolder.h"

#include "BenchUtil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
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

// The per-cycle times cycle_cli prints for count cycles of hosts inside ns.
std::vector<double> cliCycles(const QString& ns, int count, const QStringList& hosts) {
    QTemporaryDir dir;
    const QStringList copies = testsupport::Netns::copiesForNobody(
        dir, {QStringLiteral(CYCLE_CLI), QStringLiteral(PW_EMPTY_DB)});
    std::vector<double> ms;
    if (copies.size() != 2)
        return ms;
    QProcess p;
    p.start(QStringLiteral("ip"),
            QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns, copies[0], copies[1],
                        QString::number(count), QStringLiteral("1")} +
                hosts);
    if (!p.waitForFinished(300000))
        return ms;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n'))
        if (line.startsWith(QStringLiteral("cycle\t")))
            ms.push_back(line.mid(6).toDouble());
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);
    Netns netns;
    const QStringList silent = range("10.99.1", 11, 10);
    const QStringList answering = range("10.99.2", 11, 10);
    QString a, c;
    if (const QString why =
            netns.addEchoPeers(&a, silent, answering + QStringList{"10.99.2.53"}, nullptr, &c);
        !why.isEmpty()) {
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

    // The name resolves to 10.99.2.11; every address has its PTR record.
    QStringList records{QStringLiteral("srv.pulsewatch.test=10.99.2.11")};
    for (const QString& address : answering)
        records << QStringLiteral("c%1.pulsewatch.test=%2")
                       .arg(address.section(QLatin1Char('.'), 3), address);
    const QStringList servers =
        answering.mid(1, 9) + QStringList{QStringLiteral("srv.pulsewatch.test")};
    if (!netns.setResolvConf(a, "nameserver 10.99.2.53\n")) {
        out << "bench_cycle: could not write the namespace's resolv.conf\n";
        return 1;
    }
    double medians[2] = {};
    for (const bool healthy : {true, false}) {
        QProcess dns;
        if (!Netns::startDns(dns, c, QStringLiteral("10.99.2.53"), healthy, records)) {
            out << "bench_cycle: the DNS server did not start\n";
            return 1;
        }
        const std::vector<double> ms = cliCycles(a, rounds, servers);
        dns.kill();
        dns.waitForFinished();
        if (ms.size() != static_cast<size_t>(rounds)) {
            out << "bench_cycle: cycle_cli failed\n";
            return 1;
        }
        medians[healthy ? 0 : 1] = median(ms);
    }
    out << "9 dotted + 1 name, RETRY 1: cycle median with healthy DNS "
        << QString::number(medians[0], 'f', 1) << " ms, with dead DNS "
        << QString::number(medians[1], 'f', 1) << " ms, difference "
        << QString::number(medians[1] - medians[0], 'f', 1) << " ms\n";
    return 0;
}
