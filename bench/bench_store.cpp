// Recording one 10-server cycle: ten rows into PLW (the program's own file,
// each row its own transaction) against ten rows into PostgreSQL on
// loopback (handed to the writer and committed), alternating in the same
// run, median of 30 each. Target: PostgreSQL under 20 ms and within 2x of
// PLW. The server is the tests' own (initdb + pg_ctl).
// With a second argument N (millions of rows, e.g. 10), the viewer's
// one-day search of one station (first page and counts) over N million rows
// of 10 stations against psql running the same two statements, median of
// 5 each; target under 100 ms.
#include "BenchUtil.h"

#include "events/EventLog.h"
#include "logview/EventSearch.h"
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
            log.LOG_PRINT(
                QStringLiteral("10.0.0.%1").arg(i),
                QStringLiteral("Reply from 10.0.0.%1: Bytes = 32 RTT = 1 ms TTL = 64").arg(i), 1);
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
    bool met = q < 20.0 && q <= 2 * p;
    out << (met ? "target met" : "target missed") << " (under 20 ms, within 2x of PLW)\n";
    if (argc < 3)
        return met ? 0 : 1;

    const int millions = std::max(1, atoi(argv[2]));
    out << "filling " << millions << " million rows of 10 stations...\n";
    out.flush();
    server.psql(
        QStringLiteral("INSERT INTO Pulsewatch(AddDate,ServerName,Message,Error,Station) "
                       "SELECT TIMESTAMP '2026-09-01 00:00:00' + (i * INTERVAL '1 second') "
                       "* 0.86, 'srv' || (i % 10), 'Reply from 10.0.0.1: Bytes = 32 RTT = 1 "
                       "ms TTL = 64', CASE WHEN i % 50 = 0 THEN -1 ELSE 1 END, "
                       "'station' || (i % 10) FROM generate_series(1, %1) AS i; ANALYZE")
            .arg(millions * 1000000));
    const events::EventStore store{QString(), server.uri(), QStringLiteral("station3")};
    logview::SearchCriteria day;
    day.from = day.to = QDate(2026, 9, 30);
    day.station = QStringLiteral("station3");
    const QString where =
        logview::whereClause(day)
            .replace(QStringLiteral(":from"), QStringLiteral("'2026-09-30 00:00:00'"))
            .replace(QStringLiteral(":to"), QStringLiteral("'2026-09-30 23:59:59'"))
            .replace(QStringLiteral(":station"), QStringLiteral("'station3'"));
    std::vector<double> viewer, psql;
    for (int r = 0; r < 5; ++r) {
        QElapsedTimer t;
        t.start();
        logview::EventListModel model;
        logview::EventPages pages(store, day);
        QString failure;
        pages.next(logview::EventListModel::kPageRows, model, &failure);
        model.endFill();
        const logview::SearchCounts counts = logview::countRows(store, day);
        viewer.push_back(t.nsecsElapsed() / 1e6);
        if (!counts.ok || model.rowCount() == 0) {
            out << "the viewer's search failed: " << failure << counts.failure << "\n";
            return 1;
        }
        t.restart();
        server.psql(QStringLiteral("SELECT ID,AddDate,ServerName,Message,Error,Station FROM "
                                   "Pulsewatch") +
                    where +
                    QStringLiteral(" ORDER BY AddDate,ID LIMIT 500; SELECT COUNT(*),"
                                   "SUM(CASE WHEN Error=1 THEN 1 ELSE 0 END) FROM "
                                   "Pulsewatch") +
                    where);
        psql.push_back(t.nsecsElapsed() / 1e6);
    }
    const double v = median(viewer), w = median(psql);
    out << "one-day search of one station over " << millions << "M rows: viewer median "
        << QString::number(v, 'f', 1) << " ms, psql (process included) "
        << QString::number(w, 'f', 1) << " ms\n";
    out << (v < 100.0 ? "target met" : "target missed") << " (under 100 ms)\n";
    met = met && v < 100.0;
    return met ? 0 : 1;
}
