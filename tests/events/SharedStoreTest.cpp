// The shared event store on a PostgreSQL server of the test's own.
#include "events/EventDatabase.h"
#include "events/EventLog.h"
#include "logview/EventSearch.h"

#include "platform/AnsiText.h"
#include "support/PgServer.h"
#include "support/TestFolder.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QDateTime kNight(QDate(2026, 12, 8), QTime(2, 0));

class SharedStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.failure().isEmpty())
            GTEST_SKIP() << server.failure().toStdString();
    }
    static QStringList textLog(const TestFolder& folder) {
        return platform::fromAnsi(folder.read(QStringLiteral("Pulsewatch.LOG")))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    // A station: its folder, settings and event log.
    struct Station {
        TestFolder folder;
        AppState state;
        FixedClock clock{kNight};
        std::unique_ptr<events::EventLog> run = std::make_unique<events::EventLog>(state, clock);
        events::EventLog& log() { return *run; }
        Station(const QString& uri, const QString& name) : state(folder.folder()) {
            state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
            state.EVENT_DB = uri;
            state.STATION_NAME = name;
        }
        /// The program ends and starts again.
        void restart() {
            run.reset();
            run = std::make_unique<events::EventLog>(state, clock);
        }
        bool written() {
            return QTest::qWaitFor([this] { return run->waitingRows() == 0; }, 15000);
        }
    };
    PgServer server;
};

} // namespace

// Two stations write one table: each row with its station and the time it
// was made, in order; the table and its indexes are made on first use.
TEST_F(SharedStoreTest, TwoStationsWriteOneTableInOrder) {
    Station east(server.uri(), QStringLiteral("east")), west(server.uri(), QStringLiteral("west"));
    for (int i = 0; i < 4; ++i)
        for (Station* s : {&east, &west}) {
            s->clock.set(kNight.addSecs(60 * i));
            s->log().LOG_PRINT(QStringLiteral("srv'%1").arg(i), QStringLiteral("m"),
                               i % 2 ? -1 : 1);
        }
    ASSERT_TRUE(east.written());
    ASSERT_TRUE(west.written());
    EXPECT_EQ(server.psql(QStringLiteral("SELECT AddDate, ServerName, Error FROM Pulsewatch WHERE "
                                         "Station = 'west' ORDER BY ID")),
              (QStringList{"2026-12-08 02:00:00|srv'0|1", "2026-12-08 02:01:00|srv'1|-1",
                           "2026-12-08 02:02:00|srv'2|1", "2026-12-08 02:03:00|srv'3|-1"}));
    EXPECT_EQ(server.psql(QStringLiteral("SELECT count(*) FROM Pulsewatch WHERE Station = 'east'")),
              QStringList{QStringLiteral("4")});
    EXPECT_EQ(server.psql(QStringLiteral("SELECT indexname FROM pg_indexes WHERE tablename = "
                                         "'pulsewatch' ORDER BY indexname")),
              (QStringList{"pulsewatch_adddate", "pulsewatch_pkey", "pulsewatch_station_adddate"}));
    EXPECT_TRUE(textLog(east.folder).isEmpty());
}

// The server stops: recording costs the cycle nothing, one line says rows
// wait, and neither the program's end nor the outage loses or doubles a
// row; the next start writes what waited, with the times the rows were made.
TEST_F(SharedStoreTest, AnOutageLosesNothingDoublesNothingAndHoldsNothing) {
    Station station(server.uri(), QStringLiteral("night"));
    QStringList told;
    station.log().onRowsWaiting = [&told](const QString& why) { told << why; };
    station.log().LOG_PRINT(QStringLiteral("before"), QStringLiteral("m"), 1);
    ASSERT_TRUE(station.written());
    ASSERT_TRUE(server.stop());
    qint64 slowest = 0;
    for (int i = 0; i < 20; ++i) {
        station.clock.set(kNight.addSecs(60 * i));
        QElapsedTimer t;
        t.start();
        station.log().writeWaitingRows(); // as each cycle begins
        station.log().LOG_PRINT(QStringLiteral("during%1").arg(i), QStringLiteral("m"), -1);
        slowest = std::max(slowest, t.elapsed());
    }
    EXPECT_LT(slowest, 100) << "the cycle waited for the database";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !told.isEmpty(); }, 10000));
    EXPECT_TRUE(told[0].startsWith(QStringLiteral("データベースサーバー")))
        << told[0].toStdString();
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(station.log().endOfProgram(), 20);
    station.restart();
    EXPECT_LT(t.elapsed(), 1000) << "the end waited for the database";

    ASSERT_TRUE(server.start());
    station.log().startUp();
    ASSERT_TRUE(station.written());
    const QStringList rows =
        server.psql(QStringLiteral("SELECT AddDate, ServerName FROM Pulsewatch ORDER BY ID"));
    ASSERT_EQ(rows.size(), 21);
    EXPECT_TRUE(rows[0].endsWith(QStringLiteral("|before")));
    EXPECT_EQ(rows[1], QStringLiteral("2026-12-08 02:00:00|during0"));
    EXPECT_EQ(rows[20], QStringLiteral("2026-12-08 02:19:00|during19"));
    const QStringList lines = textLog(station.folder);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().contains(QStringLiteral("20 件を記録しました")))
        << lines.join('\n').toStdString();
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains(QLatin1String(PgServer::kPassword)));
}

TEST_F(SharedStoreTest, ATableOfAnOlderVersionIsUsedAsItIs) {
    server.psql(
        QStringLiteral("CREATE TABLE Pulsewatch (ID BIGSERIAL PRIMARY KEY, AddDate "
                       "TIMESTAMP(0) NOT NULL DEFAULT LOCALTIMESTAMP(0), ServerName TEXT, "
                       "Message TEXT, Error SMALLINT); ALTER TABLE Pulsewatch OWNER TO watch"));
    Station old(server.uri(), QStringLiteral("east"));
    old.log().LOG_PRINT(QStringLiteral("srv"), QStringLiteral("m"), 1);
    ASSERT_TRUE(old.written());
    EXPECT_EQ(server.psql(QStringLiteral("SELECT ServerName, Error FROM Pulsewatch")),
              QStringList{QStringLiteral("srv|1")});
}

// What failed, in words, and never the password.
TEST_F(SharedStoreTest, AConnectionThatFailsSaysWhatAndHidesThePassword) {
    const QString host = QStringLiteral("127.0.0.1:%1").arg(server.port());
    const struct {
        QString uri;
        const char* says;
    } cases[] = {
        {QStringLiteral("postgresql://watch:wrong@%1/events").arg(host),
         "ログインできません（ユーザー名かパスワードが違います）"},
        {QStringLiteral("postgresql://watch:%1@%2/nothing").arg(PgServer::kPassword, host),
         "そのデータベースはありません"},
        {QStringLiteral("postgresql://watch:%1@127.0.0.1:1/events").arg(PgServer::kPassword),
         "接続を拒否されました"},
        {QStringLiteral("postgresql://watch:%1@%2/events?sslmode=require")
             .arg(PgServer::kPassword, host),
         "TLS（SSL）で接続できません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        events::EventDatabase db(events::EventStore{QString(), c.uri, QStringLiteral("s")}, 0);
        EXPECT_FALSE(db.isOpen());
        EXPECT_TRUE(db.error().contains(QString::fromUtf8(c.says))) << db.error().toStdString();
        EXPECT_FALSE(db.error().contains(QLatin1String(PgServer::kPassword)));
    }
    for (const auto& [uri, shown] :
         {std::pair{"postgresql://watch:pw@db.example.jp:5432/events?sslmode=verify-full",
                    "postgresql://watch@db.example.jp:5432/events?sslmode=verify-full"},
          {"postgresql://db/events?password=pw&sslmode=require",
           "postgresql://db/events?sslmode=require"},
          {"postgresql://db/events?password=pw", "postgresql://db/events"}})
        EXPECT_EQ(events::uriWithoutPassword(QLatin1String(uri)), QLatin1String(shown));
}

// The viewer over the shared store: its counts are the database's for the
// same day and station, its pages carry each row's station, and the purge
// removes exactly the rows before the day 60 days back, of every station.
TEST_F(SharedStoreTest, TheViewerSearchesCountsAndPurgesEveryStation) {
    Station maker(server.uri(), QStringLiteral("east"));
    maker.log().LOG_PRINT(QStringLiteral("first"), QStringLiteral("m"), 1); // makes the table
    ASSERT_TRUE(maker.written());
    server.psql(QStringLiteral(
        "INSERT INTO Pulsewatch(AddDate,ServerName,Message,Error,Station) "
        "SELECT TIMESTAMP '2026-10-01 00:00:00' + (i * INTERVAL '17 minutes'), 'srv' || (i % 3), "
        "'m', CASE WHEN i % 7 = 0 THEN -1 ELSE 1 END, CASE WHEN i % 2 = 0 THEN 'east' ELSE 'west' "
        "END "
        "FROM generate_series(1, 6000) AS i"));
    const events::EventStore store{QString(), server.uri(), QStringLiteral("east")};
    logview::SearchCriteria day;
    day.from = day.to = QDate(2026, 10, 20);
    day.station = QStringLiteral("west");
    const logview::SearchCounts counts = logview::countRows(store, day);
    ASSERT_TRUE(counts.ok) << counts.failure.toStdString();
    const QString where = QStringLiteral("WHERE Station = 'west' AND AddDate BETWEEN '2026-10-20 "
                                         "00:00:00' AND '2026-10-20 23:59:59'");
    EXPECT_EQ(QString::number(counts.normal),
              server
                  .psql(QStringLiteral("SELECT count(*) FROM Pulsewatch ") + where +
                        QStringLiteral(" AND Error = 1"))
                  .value(0));
    EXPECT_EQ(QString::number(counts.errors),
              server
                  .psql(QStringLiteral("SELECT count(*) FROM Pulsewatch ") + where +
                        QStringLiteral(" AND Error <> 1"))
                  .value(0));

    logview::EventListModel model;
    logview::EventPages pages(store, day);
    QString failure;
    ASSERT_TRUE(pages.next(1000, model, &failure)) << failure.toStdString();
    model.endFill();
    ASSERT_EQ(model.rowCount(), counts.normal + counts.errors);
    EXPECT_EQ(model.stationText(0), QStringLiteral("west"));
    EXPECT_TRUE(model.dateText(0).startsWith(QStringLiteral("2026/10/20")));

    const QString before =
        server
            .psql(QStringLiteral(
                "SELECT count(*) FROM Pulsewatch WHERE AddDate >= '2026-10-09 00:00:00'"))
            .value(0);
    ASSERT_TRUE(logview::purgeOlderThan60Days(store, QDate(2026, 12, 8), &failure))
        << failure.toStdString();
    EXPECT_EQ(server.psql(QStringLiteral("SELECT count(*) FROM Pulsewatch")).value(0), before);
    EXPECT_EQ(server.psql(QStringLiteral(
                  "SELECT count(*) FROM Pulsewatch WHERE AddDate < '2026-10-09 00:00:00'")),
              QStringList{QStringLiteral("0")});
}
