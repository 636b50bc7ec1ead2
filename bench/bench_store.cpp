// Recording one 10-server cycle: ten rows into PLW (the program's own file,
// each row its own transaction) against ten rows into PostgreSQL on
// loopback (handed to the writer and committed), alternating in the same
// run, median of 30 each. Target: PostgreSQL under 20 ms and within 2x of
// PLW. The server is the tests' own (initdb + pg_ctl).
#include "BenchUtil.h"

#include "events/EventLog.h"
#include "support/PgServer.h"
#include "support/TestFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    QTextStream out(stdout);
    testsupport::PgServer server;
    if (!server.failure().isEmpty()) {
        out << "bench_store: " << server.failure() << "\n";
        return 1;
    }
    testsupport::TestFolder plwFolder, pgFolder;
    AppState plw(plwFolder.folder()), pg(pgFolder.folder());
    plw.DatabasePath = plw.AppFolder + QStringLiteral("PLW");
    pg.DatabasePath = pg.AppFolder + QStringLiteral("PLW");
    pg.EVENT_DB = server.uri();
    pg.STATION_NAME = QStringLiteral("bench");
    testsupport::FixedClock clock(QDateTime::currentDateTime());
    events::EventLog plwLog(plw, clock), pgLog(pg, clock);
    const auto cycle = [](events::EventLog& log) {
        for (int i = 0; i < 10; ++i)
            log.LOG_PRINT(QStringLiteral("10.0.0.%1").arg(i),
                          QStringLiteral("Reply from 10.0.0.%1: Bytes = 32 RTT = 1 ms TTL = 64").arg(i),
                          1);
    };
    cycle(pgLog); // the connection and the table, once
    while (pgLog.waitingRows() > 0)
        QThread::msleep(1);

    std::vector<double> a, b;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        cycle(plwLog);
        a.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        cycle(pgLog);
        while (pgLog.waitingRows() > 0)
            QThread::usleep(100);
        b.push_back(t.nsecsElapsed() / 1e6);
    }
    const double p = median(a), q = median(b);
    out << "rounds: " << rounds << "\n";
    out << "10 rows into PLW:        median " << QString::number(p, 'f', 2) << " ms\n";
    out << "10 rows into PostgreSQL: median " << QString::number(q, 'f', 2)
        << " ms (committed; the cycle itself waits for none of it)\n";
    out << "ratio PostgreSQL / PLW: " << QString::number(q / p, 'f', 2) << "\n";
    const bool met = q < 20.0 && q <= 2 * p;
    out << (met ? "target met" : "target missed") << " (under 20 ms, within 2x of PLW)\n";
    return met ? 0 : 1;
}
