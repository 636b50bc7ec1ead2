#include "events/EventLog.h"

#include "platform/AnsiText.h"
#include "support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

using testsupport::eventRows;
using testsupport::FixedClock;
using testsupport::TestFolder;

namespace {

const QDateTime kMorning(QDate(2026, 12, 7), QTime(10, 15, 30));

class EventLogTest : public ::testing::Test {
protected:
    explicit EventLogTest(bool withDatabase = true) : folder(withDatabase) {}
    TestFolder folder;
    AppState state{folder.folder()};
    FixedClock clock{kMorning};
    events::EventLog log{state, clock};

    QStringList textLogLines() const {
        return platform::fromAnsi(folder.read(QStringLiteral("Pulsewatch.LOG")))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
};

class EventLogWithoutDatabase : public EventLogTest {
protected:
    EventLogWithoutDatabase() : EventLogTest(false) {}
};

int openDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd")).count();
}

} // namespace

TEST_F(EventLogTest, RowsAreStampedByTheDatabase) {
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    log.LOG_PRINT(QStringLiteral("fileserver"), QStringLiteral("Reply from 10.0.0.1:fs: ..."), 1);
    log.LOG_PRINT(QStringLiteral("it's"), QStringLiteral("O'Brien's \"box\"; DROP TABLE x"), -1);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    EXPECT_EQ(eventRows(state.DatabasePath),
              (QStringList{QStringLiteral("fileserver|Reply from 10.0.0.1:fs: ...|1"),
                           QStringLiteral("it's|O'Brien's \"box\"; DROP TABLE x|-1")}));
    EXPECT_FALSE(QFile::exists(log.textLogPath()));

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    db.setDatabaseName(state.DatabasePath);
    ASSERT_TRUE(db.open());
    {
        QSqlQuery q(QStringLiteral("SELECT AddDate FROM Pulsewatch"), db);
        int rows = 0;
        while (q.next()) {
            const QDateTime stamped =
                QDateTime::fromString(q.value(0).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            ASSERT_TRUE(stamped.isValid()) << q.value(0).toString().toStdString();
            EXPECT_GE(stamped, before.addMSecs(-before.time().msec()));
            EXPECT_LE(stamped, after);
            ++rows;
        }
        EXPECT_EQ(rows, 2);
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

TEST_F(EventLogWithoutDatabase, EachLostRowBecomesOneTextLogLine) {
    folder.write(QStringLiteral("Pulsewatch.LOG"), platform::toAnsi(QStringLiteral("前の行\r\n")));
    log.LOG_PRINT(QStringLiteral("db01"), QStringLiteral("x"), 1);
    clock.set(QDateTime(QDate(2026, 1, 2), QTime(9, 5, 3)));
    log.LOG_PRINT(QStringLiteral("db02"), QStringLiteral("y"), -1);

    // The driver would have made an empty file; the program never does.
    EXPECT_FALSE(QFile::exists(state.DatabasePath));
    const QStringList lines = textLogLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("前の行"));
    const QString missing =
        QStringLiteral("データベースファイル '%1' が見つかりません。").arg(state.DatabasePath);
    EXPECT_EQ(lines[1], QStringLiteral("2026/12/07 10:15:30  -> ") + missing);
    EXPECT_EQ(lines[2], QStringLiteral("2026/01/02 9:05:03  -> ") + missing);
}

TEST_F(EventLogWithoutDatabase, AFileThatIsNoDatabaseIsLoggedAndLeftAlone) {
    folder.write(QStringLiteral("PLW"), QByteArray(4096, 'z'));
    log.LOG_PRINT(QStringLiteral("db01"), QStringLiteral("x"), 1);
    const QStringList lines = textLogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("file is not a database")))
        << lines[0].toStdString();
    EXPECT_EQ(folder.read(QStringLiteral("PLW")), QByteArray(4096, 'z'));
}

TEST_F(EventLogTest, ALockHeldPastTheTimeoutCostsOneRowOnly) {
    log.setBusyTimeoutMs(200);
    {
        QSqlDatabase holder =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(state.DatabasePath);
        ASSERT_TRUE(holder.open());
        QSqlQuery q(holder);
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        log.LOG_PRINT(QStringLiteral("db01"), QStringLiteral("while locked"), -1);
        ASSERT_TRUE(q.exec(QStringLiteral("COMMIT")));
        holder.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    log.LOG_PRINT(QStringLiteral("db01"), QStringLiteral("after"), 1);

    const QStringList lines = textLogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("2026/12/07 10:15:30  -> ")));
    EXPECT_TRUE(lines[0].contains(QStringLiteral("locked"))) << lines[0].toStdString();
    EXPECT_EQ(eventRows(state.DatabasePath), QStringList{QStringLiteral("db01|after|1")});
}

TEST_F(EventLogWithoutDatabase, AnUnwritableTextLogIsSwallowedWithoutLeakingTheFile) {
    ASSERT_TRUE(QDir(folder.folder()).mkdir(QStringLiteral("Pulsewatch.LOG")));
    const int before = openDescriptors();
    for (int i = 0; i < 20; ++i)
        log.LOG_PRINT(QStringLiteral("db01"), QStringLiteral("x"), 1);
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(EventLogTest, ConnectionsAreNotLeftOpen) {
    log.LOG_PRINT(QStringLiteral("warm"), QStringLiteral("up"), 1);
    const int before = openDescriptors();
    for (int i = 0; i < 50; ++i)
        log.LOG_PRINT(QStringLiteral("db01"), QString::number(i), 1);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(QSqlDatabase::connectionNames().size(), 0);
    EXPECT_EQ(eventRows(state.DatabasePath).size(), 51);
}

// A row that neither the database nor the text log took waits in memory and
// is written before the next row, with the time it was made. A row whose
// loss the text log recorded stays lost, as before.
TEST_F(EventLogTest, RowsNothingTookWaitForTheNextWriteWithTheirOwnTimes) {
    const QString saved = state.DatabasePath + QStringLiteral(".away");
    ASSERT_TRUE(QFile::rename(state.DatabasePath, saved));
    log.LOG_PRINT(QStringLiteral("lost"), QStringLiteral("told in the text log"), 1);
    ASSERT_TRUE(
        QDir(folder.folder()).rename(QStringLiteral("Pulsewatch.LOG"), QStringLiteral("log.away")));
    ASSERT_TRUE(QDir(folder.folder()).mkdir(QStringLiteral("Pulsewatch.LOG")));

    // Two more than can wait: the two oldest go, and one line says so.
    const int limit = events::EventLog::kMaxWaitingRows;
    for (int i = 0; i < limit + 2; ++i) {
        clock.set(kMorning.addSecs(i));
        log.LOG_PRINT(QStringLiteral("r%1").arg(i), QStringLiteral("m"), i % 2 ? -1 : 1);
    }
    ASSERT_TRUE(QDir(folder.folder()).rmdir(QStringLiteral("Pulsewatch.LOG")));
    ASSERT_TRUE(
        QDir(folder.folder()).rename(QStringLiteral("log.away"), QStringLiteral("Pulsewatch.LOG")));
    ASSERT_TRUE(QFile::rename(saved, state.DatabasePath));
    clock.set(kMorning.addDays(1));
    log.LOG_PRINT(QStringLiteral("now"), QStringLiteral("m"), 1);

    const QStringList rows = eventRows(state.DatabasePath, true);
    ASSERT_EQ(rows.size(), limit + 1);
    EXPECT_EQ(rows[0], QStringLiteral("2026-12-07 10:15:32|r2|m|1"));
    EXPECT_EQ(rows[1], QStringLiteral("2026-12-07 10:15:33|r3|m|-1"));
    EXPECT_EQ(rows[limit - 1],
              kMorning.addSecs(limit + 1).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                  QStringLiteral("|r10001|m|-1"));
    EXPECT_TRUE(rows[limit].endsWith(QStringLiteral("|now|m|1")));
    EXPECT_NE(rows[limit], QStringLiteral("2026-12-08 10:15:30|now|m|1"))
        << "the database stamps it";

    const QStringList lines = textLogLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("が見つかりません。")));
    EXPECT_EQ(lines[1],
              QStringLiteral("2026/12/08 10:15:30  -> ") +
                  QStringLiteral("書き込めなかったイベント 2 件を破棄しました (保留の上限 "
                                 "10000 件)。"));
}

// Rows that wait are in the side file as soon as they wait: a program that
// ends (or is killed) with rows waiting loses none, and the next start
// writes them first, with their own times, and says how many.
TEST_F(EventLogTest, RowsWaitingAtTheEndAreWrittenByTheNextStart) {
    const QString saved = state.DatabasePath + QStringLiteral(".away");
    {
        events::EventLog first(state, clock);
        first.startUp();
        QStringList told;
        first.onRowsWaiting = [&told](const QString& why) { told << why; };
        ASSERT_TRUE(QFile::rename(state.DatabasePath, saved));
        ASSERT_TRUE(QDir(folder.folder()).mkdir(QStringLiteral("Pulsewatch.LOG")));
        for (int i = 0; i < 3; ++i) {
            clock.set(kMorning.addSecs(60 * i));
            first.LOG_PRINT(QStringLiteral("srv\t%1").arg(i), QStringLiteral("line\nbreak"), -1);
        }
        EXPECT_EQ(told.size(), 1) << "said once, when the rows began to wait";
        // No endOfProgram: as if the program had been killed.
    }
    ASSERT_TRUE(QDir(folder.folder()).rmdir(QStringLiteral("Pulsewatch.LOG")));
    ASSERT_TRUE(QFile::rename(saved, state.DatabasePath));
    clock.set(kMorning.addDays(1));
    events::EventLog next(state, clock);
    next.startUp();
    EXPECT_EQ(eventRows(state.DatabasePath, true),
              (QStringList{"2026-12-07 10:15:30|srv\t0|line\nbreak|-1",
                           "2026-12-07 10:16:30|srv\t1|line\nbreak|-1",
                           "2026-12-07 10:17:30|srv\t2|line\nbreak|-1"}));
    EXPECT_EQ(textLogLines(), QStringList{QStringLiteral(
                                  "2026/12/08 10:15:30  -> "
                                  "前回の終了時に書き込めなかったイベント 3 件を記録しました。")});
    EXPECT_EQ(next.endOfProgram(), 0);
    events::EventLog again(state, clock);
    again.startUp();
    EXPECT_EQ(eventRows(state.DatabasePath).size(), 3) << "written twice";
}
