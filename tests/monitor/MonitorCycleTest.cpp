#include "CycleFixture.h"

#include "platform/AnsiText.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using testsupport::eventRows;

namespace {

const QString kUnresolvable = QStringLiteral("コンピュータ名またはIPアドレスが不正です。");
const QRegularExpression kLoopbackReply(
    QStringLiteral("^Reply from 127\\.0\\.0\\.1:localhost: Bytes = 32 RTT = \\d+ ms TTL = 64$"));

class MonitorCycleTest : public ::testing::Test, public CycleFixture {
protected:
    void SetUp() override {
        if (!icmpAvailable())
            GTEST_SKIP() << "no ICMP socket allowed here (needs net.ipv4.ping_group_range or root)";
    }
};

class MonitorTicks : public ::testing::Test, public CycleFixture {};

} // namespace

TEST_F(MonitorCycleTest, OneCycleProbesTheWatchedServersAndRecordsARowEach) {
    server(1, QStringLiteral("127.0.0.1"), 1);
    server(2, QStringLiteral("localhost"), 1);
    server(3, QStringLiteral("no-such-host.invalid"), 1);
    server(4, QStringLiteral("127.0.0.1"), -1); // paused
    server(5, QStringLiteral("127.0.0.1"), 0);  // check key absent
    server(6, QString(), 1);
    state.Servers[4].Status = -1;
    state.Servers[4].Message = QStringLiteral("from an earlier cycle");
    state.RETRY = QStringLiteral("2");
    state.mINTERVAL = 0;

    cycle.Timer1_Timer();

    const QStringList rows = eventRows(state.DatabasePath);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[0].startsWith(QStringLiteral("127.0.0.1|Reply from 127.0.0.1:localhost: ")));
    EXPECT_TRUE(rows[0].endsWith(QStringLiteral("|1")));
    EXPECT_TRUE(rows[1].startsWith(QStringLiteral("localhost|Reply from 127.0.0.1:localhost: ")));
    EXPECT_EQ(rows[2],
              QStringLiteral("no-such-host.invalid|") + kUnresolvable + QStringLiteral("|-1"));

    EXPECT_EQ(state.Servers[1].Status, 1);
    EXPECT_TRUE(kLoopbackReply.match(state.Servers[1].Message).hasMatch())
        << state.Servers[1].Message.toStdString();
    EXPECT_EQ(state.Servers[3].Status, -1);
    EXPECT_EQ(state.Servers[3].Message, kUnresolvable);
    EXPECT_EQ(state.Servers[4].Status, -1);
    EXPECT_EQ(state.Servers[4].Message, QStringLiteral("from an earlier cycle"));
    EXPECT_EQ(state.Servers[5].Status, 0);

    // A name that does not resolve is probed 1 + RETRY times like any failure.
    EXPECT_EQ(probeCodes, (QList<qint32>{0, 0, -1, -1, -1}));
    EXPECT_EQ(state.LastProbeCode, -1);
    EXPECT_EQ(state.LastProbeText, kUnresolvable);
    EXPECT_EQ(alarmCalls, QList<bool>{false});
    EXPECT_EQ(allUpAtAlarm, QList<qint16>{0});
    EXPECT_EQ(cycle.IntervalCount, 1);
}

TEST_F(MonitorCycleTest, AllServersUpStaysSetWhenEveryServerAnswers) {
    server(1, QStringLiteral("127.0.0.1"), 1);
    server(2, QStringLiteral("localhost"), 1);
    cycle.Timer1_Timer();
    EXPECT_EQ(alarmCalls, QList<bool>{true});
    EXPECT_EQ(allUpAtAlarm, QList<qint16>{-1});
    EXPECT_EQ(eventRows(state.DatabasePath).size(), 2);
    EXPECT_EQ(dialups, 1);
}

TEST_F(MonitorCycleTest, RunsFromASettingsFolder) {
    auto list = [this](const char* key, const QString& value) {
        WriteIniKey(state, kSettingsSection, QLatin1String(key), value, kServerListFile);
    };
    list("SERVER_CNT", QStringLiteral("2"));
    list("SERVER_NAME1", QStringLiteral("localhost"));
    list("SERVER_CHECK1", QStringLiteral("1"));
    list("SERVER_NAME2", QStringLiteral("127.0.0.1"));
    list("SERVER_CHECK2", QStringLiteral("-1"));
    WriteIniKey(state, kSettingsSection, QStringLiteral("mINTERVAL"), QStringLiteral("3"),
                kGeneralFile);
    LoadSettings(state);

    cycle.Timer1_Timer();
    EXPECT_TRUE(eventRows(state.DatabasePath).isEmpty());
    cycle.Timer1_Timer();
    const QStringList rows = eventRows(state.DatabasePath);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(rows[0].startsWith(QStringLiteral("localhost|Reply from 127.0.0.1:localhost: ")));
}

TEST_F(MonitorCycleTest, TicksDuringACycleAreDropped) {
    for (int i = 1; i <= 3; ++i)
        server(i, QStringLiteral("127.0.0.1"), 1);
    // The probes yield to the event loop, where this timer ticks again and
    // again while the cycle runs.
    int nestedTicks = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++nestedTicks;
        cycle.Timer1_Timer();
    });
    ticker.start();
    cycle.Timer1_Timer();
    ticker.stop();

    EXPECT_GT(nestedTicks, 0);
    EXPECT_EQ(alarmCalls.size(), 1);
    EXPECT_EQ(dialups, 1);
    EXPECT_EQ(eventRows(state.DatabasePath).size(), 3);
    EXPECT_EQ(cycle.IntervalCount, 1);
    EXPECT_FALSE(cycle.cycleRunning());
}

TEST_F(MonitorCycleTest, TheCycleGoesOnWhenRowsCannotBeWritten) {
    server(1, QStringLiteral("127.0.0.1"), 1);
    server(2, QStringLiteral("no-such-host.invalid"), 1);
    log.setBusyTimeoutMs(100);

    QFile::remove(state.DatabasePath);
    cycle.Timer1_Timer();
    EXPECT_EQ(alarmCalls.size(), 1);
    EXPECT_EQ(state.Servers[2].Status, -1);
    EXPECT_FALSE(QFile::exists(state.DatabasePath));

    // Held by another connection past the busy time-out.
    ASSERT_TRUE(QFile::copy(QStringLiteral(PW_EMPTY_DB), state.DatabasePath));
    QFile::setPermissions(state.DatabasePath, QFile::ReadOwner | QFile::WriteOwner);
    {
        QSqlDatabase holder =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(state.DatabasePath);
        ASSERT_TRUE(holder.open());
        QSqlQuery q(holder);
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        cycle.Timer1_Timer();
        q.exec(QStringLiteral("ROLLBACK"));
        holder.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    EXPECT_EQ(alarmCalls.size(), 2);

    const QStringList lines = platform::fromAnsi(folder.read(QStringLiteral("Pulsewatch.LOG")))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("が見つかりません。")));
    EXPECT_TRUE(lines[3].contains(QStringLiteral("locked")));

    cycle.Timer1_Timer();
    EXPECT_EQ(eventRows(state.DatabasePath).size(), 2);
}

// The program folder on a small tmpfs filled to the last byte: neither the
// database nor the text log takes a row. The rows of those cycles reach the
// database, with the times they were made, once there is space again.
TEST_F(MonitorCycleTest, RowsOfCyclesOnAFullDiskAreWrittenOnceThereIsSpace) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root (run the tests as root, as CI does)";
    QTemporaryDir mountPoint;
    const QByteArray dir = QFile::encodeName(mountPoint.path());
    if (::mount("pw-full-disk", dir.constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const struct Unmount {
        QByteArray dir;
        ~Unmount() { ::umount2(dir.constData(), MNT_DETACH); }
    } unmount{dir};

    state = AppState(mountPoint.path());
    ASSERT_TRUE(QFile::copy(QStringLiteral(PW_EMPTY_DB), state.DatabasePath));
    server(1, QStringLiteral("127.0.0.1"), 1);
    server(2, QStringLiteral("localhost"), 1);
    const QString filler = mountPoint.filePath(QStringLiteral("filler"));
    const int fd = ::open(QFile::encodeName(filler).constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const QByteArray chunk(64 * 1024, 'x');
    while (::write(fd, chunk.constData(), chunk.size()) > 0) {
    }
    ::close(fd);

    for (const char* time : {"10:00:00", "10:04:00"}) {
        clock.set(QDateTime(QDate(2026, 12, 7), QTime::fromString(QLatin1String(time))));
        cycle.Timer1_Timer();
    }
    EXPECT_TRUE(eventRows(state.DatabasePath).isEmpty());
    QFile textLog(state.AppFolder + QStringLiteral("Pulsewatch.LOG"));
    EXPECT_TRUE(!textLog.open(QIODevice::ReadOnly) || textLog.readAll().isEmpty());

    ASSERT_TRUE(QFile::remove(filler));
    clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 8, 0)));
    cycle.Timer1_Timer();
    QStringList rows = eventRows(state.DatabasePath, true);
    ASSERT_EQ(rows.size(), 6);
    for (QString& r : rows)
        r.replace(QRegularExpression(QStringLiteral("\\|Reply from 127.0.0.1:.*\\|1$")),
                  QStringLiteral("|up|1"));
    EXPECT_EQ(
        rows.mid(0, 4),
        (QStringList{"2026-12-07 10:00:00|127.0.0.1|up|1", "2026-12-07 10:00:00|localhost|up|1",
                     "2026-12-07 10:04:00|127.0.0.1|up|1", "2026-12-07 10:04:00|localhost|up|1"}));
    EXPECT_TRUE(rows[4].endsWith(QStringLiteral("|127.0.0.1|up|1")));
}

TEST_F(MonitorTicks, TheIntervalCountsTicksFromOne) {
    struct Case {
        qint16 interval;
        QList<int> cycleTicks;
    } cases[] = {
        {5, {4, 8, 12}},
        {3, {2, 4, 6, 8, 10, 12}},
        {2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {-4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
    };
    for (const Case& c : cases) {
        state.mINTERVAL = c.interval;
        cycle.IntervalCount = 1;
        alarmCalls.clear();
        QList<int> ticks;
        for (int tick = 1; tick <= 12; ++tick) {
            const auto before = alarmCalls.size();
            cycle.Timer1_Timer();
            if (alarmCalls.size() > before)
                ticks << tick;
        }
        EXPECT_EQ(ticks, c.cycleTicks) << "mINTERVAL " << c.interval;
    }
}

TEST_F(MonitorTicks, AFailedDialUpEndsTheCycleBeforeAnyProbe) {
    server(1, QStringLiteral("127.0.0.1"), 1);
    state.mINTERVAL = 1;
    cycle.IntervalCount = 7;
    dialupSucceeds = false;
    cycle.Timer1_Timer();
    EXPECT_EQ(dialups, 1);
    EXPECT_TRUE(probeCodes.isEmpty());
    EXPECT_TRUE(alarmCalls.isEmpty());
    EXPECT_TRUE(eventRows(state.DatabasePath).isEmpty());
    EXPECT_EQ(cycle.IntervalCount, 1);
}

TEST_F(MonitorTicks, AnEndDuringTheDialUpStepStartsNoProbe) {
    platform::Ending ending;
    cycle.setEnding(&ending);
    server(1, QStringLiteral("127.0.0.1"), 1);
    cycle.setAlarmSteps({[&ending] {
                             ending.request();
                             return true;
                         },
                         [this](bool lastResult) { alarmCalls << lastResult; }});
    cycle.Timer1_Timer();
    EXPECT_TRUE(probeCodes.isEmpty());
    EXPECT_TRUE(alarmCalls.isEmpty());
    EXPECT_TRUE(eventRows(state.DatabasePath).isEmpty());
    EXPECT_EQ(cycle.IntervalCount, 1);
}

TEST_F(MonitorTicks, NoServersMeansNothingIsProbed) {
    state.SERVER_CNT = 0;
    cycle.Timer1_Timer();
    EXPECT_EQ(allUpAtAlarm, QList<qint16>{-1});
    EXPECT_TRUE(probeCodes.isEmpty());
}
