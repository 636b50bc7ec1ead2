// The whole program as a process of its own (program_run: the shipped
// wiring, ticking faster), told to end with a real SIGTERM in each of the
// waits of a cycle, and left running with its alarm window open. It runs
// in a network namespace of its own with loopback only, so a server at
// 10.200.0.1 is down at once and nothing leaves the machine; the relay
// listens in the same namespace and the modem is a virtual serial pair.
#include "support/Netns.h"
#include "support/PgServer.h"
#include "support/ScriptedSmtp.h"
#include "support/TestFolder.h"
#include "support/VirtualModem.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace testsupport;
using Pieces = QList<VirtualModem::Piece>;

namespace {

const QByteArray kDialled = "ATDT0312345678;\rATH\r";

class ProgramRun : public ::testing::Test {
protected:
    TestFolder folder;
    Netns netns;
    QString ns;
    QProcess program;
    QByteArray out;

    void SetUp() override {
        const QString reason = Netns::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason;
        ns = netns.add(QStringLiteral("R"));
        ASSERT_FALSE(ns.isEmpty());
        place(folder.folder());
        folder.write(
            QStringLiteral("ServerList"),
            "[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=10.200.0.1\r\nSERVER_CHECK1=1\r\n");
        QObject::connect(&program, &QProcess::readyReadStandardOutput,
                         [this] { out += program.readAllStandardOutput(); });
    }
    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    static void place(const QString& dir) {
        ASSERT_TRUE(QFile::copy(QStringLiteral(PROGRAM_RUN), dir + QStringLiteral("/program_run")));
        QFile::setPermissions(dir + QStringLiteral("/program_run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_TRUE(
            QFile::copy(QStringLiteral(MAILWIRE_LIBRARY), dir + QStringLiteral("/libmailwire.so")));
    }

    void settings(const QByteArray& lines) {
        folder.write(QStringLiteral("Pulsewatch"),
                     "[Pulsewatch]\r\nmINTERVAL=1\r\nRETRY=0\r\nCOMSETTING=9600,N,8,1\r\n" + lines);
    }

    void start(const QString& dir, int tickMs, bool fakeDialup = false,
               const QString& inNs = QString()) {
        QStringList args{dir + QStringLiteral("/program_run"), QString::number(tickMs)};
        if (fakeDialup)
            args << QStringLiteral("fake-dialup");
        if (!inNs.isEmpty())
            args = QStringList{QStringLiteral("netns"), QStringLiteral("exec"), inNs} + args;
        program.start(inNs.isEmpty() ? args.takeFirst() : QStringLiteral("ip"), args);
        ASSERT_TRUE(program.waitForStarted(5000));
    }
    void start(int tickMs, bool fakeDialup = false) {
        start(folder.folder(), tickMs, fakeDialup, ns);
    }

    // Serves the relay (same thread) while waiting.
    bool waitUntil(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }
    int said(const char* what) const { return static_cast<int>(out.count(QByteArray(what) + ' ')); }
    qint64 saidAt(const char* what) const {
        const QRegularExpression line(QLatin1String(what) + QStringLiteral(" (\\d+)"));
        const auto m = line.match(QString::fromUtf8(out));
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    }

    // SIGTERM; the milliseconds until the process was gone (-1 after 5 s).
    qint64 endWithSignal() {
        QElapsedTimer t;
        t.start();
        program.terminate();
        if (!program.waitForFinished(5000))
            return -1;
        return t.elapsed();
    }
};

} // namespace

// SIGTERM in each wait of a cycle's alarms ends the program within the
// bound: what it opened is hung up (the modem last receives ATH), nothing
// starts after the signal, and no row is written for what it gave up.
TEST_F(ProgramRun, AQuitSignalEndsEveryWaitAtOnce) {
    const struct {
        const char* state;
        bool relay, dialup;
        QByteArray modemAnswer, modemGets;
    } cases[] = {
        {"a relay that never greets", true, false, "\r\nOK\r\n", ""},
        {"a modem dialling", false, false, "", kDialled},
        {"a modem holding the line", false, false, "\r\nOK\r\n", kDialled},
        {"the pause after a hang-up", false, true, "\r\nOK\r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        out.clear();
        ScriptedSmtp* relay = nullptr;
        std::unique_ptr<ScriptedSmtp> relayHolder;
        {
            EnterNetns inNs(ns);
            ASSERT_TRUE(inNs.ok());
            relayHolder = std::make_unique<ScriptedSmtp>();
            relay = relayHolder.get();
        }
        relay->greeting(ScriptedSmtp::Action{{}, false, true});
        VirtualModem modem([answer = c.modemAnswer](const QByteArray& command) -> Pieces {
            if (command.startsWith("ATDT") && !answer.isEmpty())
                return {{0, answer}};
            return {{0, "\r\nOK\r\n"}};
        });
        if (!modem.failure().isEmpty())
            GTEST_SKIP() << modem.failure();
        settings(QByteArray(c.relay
                                ? "EMARGE_SERVER=127.0.0.1:" + QByteArray::number(relay->port()) +
                                      "\r\nEMARGE_MAIL=ops@example.jp\r\n"
                                : "") +
                 (c.dialup ? "USED_LAN=0\r\nDIAL_ENTRY=isp\r\n" : "USED_LAN=1\r\n") +
                 "TEL1=03\r\nTEL2=1234\r\nTEL3=5678\r\nCOMPORT=" + modem.programSide().toUtf8() +
                 "\r\n");
        const QStringList rowsBefore = eventRows(folder.path(QStringLiteral("PLW")));
        start(300, c.dialup);
        const bool inState =
            c.relay    ? waitUntil([&] { return relay->connections() > 0; }, 15000)
            : c.dialup ? waitUntil([&] { return said("hangup") > 0; }, 15000)
                       : waitUntil([&] { return modem.received().contains("ATDT"); }, 15000);
        ASSERT_TRUE(inState) << out.constData();
        if (c.modemAnswer == "\r\nOK\r\n" && !c.relay && !c.dialup)
            QTest::qWait(500); // into the 10 s hold
        const qint64 ms = endWithSignal();
        EXPECT_GE(ms, 0) << "still running 5 s after SIGTERM";
        EXPECT_LE(ms, PW_END_LIMIT_MS);
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        QTest::qWait(300);
        EXPECT_EQ(modem.received(), c.modemGets) << "the modem after the signal";
        EXPECT_EQ(said("sound"), 0) << "the window opened after the signal";
        const QStringList rows = eventRows(folder.path(QStringLiteral("PLW")));
        ASSERT_EQ(rows.size(), rowsBefore.size() + 1) << rows.join(QLatin1Char('\n'));
        EXPECT_TRUE(rows.last().startsWith(QStringLiteral("10.200.0.1|"))) << rows.last();
        EXPECT_FALSE(QFile::exists(folder.path(QStringLiteral("Pulsewatch.lock"))));
    }
}

// The alarm window does not stop the watch: with it open, each interval
// still probes and records, and the window is shown once.
TEST_F(ProgramRun, IntervalsGoOnWhileTheAlarmWindowIsOpen) {
    settings("USED_LAN=1\r\n");
    start(400);
    ASSERT_TRUE(waitUntil([&] { return said("sound") == 1; }, 15000)) << out.constData();
    ASSERT_TRUE(
        waitUntil([&] { return eventRows(folder.path(QStringLiteral("PLW"))).size() >= 4; }, 15000))
        << "rows: " << eventRows(folder.path(QStringLiteral("PLW"))).size();
    EXPECT_EQ(said("sound"), 1);
    EXPECT_EQ(said("silence"), 0);
    EXPECT_GE(endWithSignal(), 0);
}

// A relay that never greets and a modem that is BUSY on both numbers: the
// mail step gives up within its budget, each call ends at once with its
// row, and the window opens within 20 s of the cycle's row.
TEST_F(ProgramRun, SilentRelayAndBusyModemStillOpenTheWindowInTime) {
    std::unique_ptr<ScriptedSmtp> relay;
    {
        EnterNetns inNs(ns);
        relay = std::make_unique<ScriptedSmtp>();
    }
    relay->greeting(ScriptedSmtp::Action{{}, false, true});
    VirtualModem modem([](const QByteArray& command) -> Pieces {
        return {{0, command.startsWith("ATDT") ? "\r\nBUSY\r\n" : "\r\nOK\r\n"}};
    });
    if (!modem.failure().isEmpty())
        GTEST_SKIP() << modem.failure();
    settings("USED_LAN=1\r\nEMARGE_SERVER=127.0.0.1:" + QByteArray::number(relay->port()) +
             "\r\nEMARGE_MAIL=ops@example.jp\r\nEMARGE_MAIL2=boss@example.jp\r\n"
             "TEL1=03\r\nTEL2=1234\r\nTEL3=5678\r\nTEL4=090\r\nTEL5=1111\r\nTEL6=2222\r\n"
             "COMPORT=" +
             modem.programSide().toUtf8() + "\r\n");
    start(300);
    ASSERT_TRUE(waitUntil([&] { return said("sound") == 1; }, 40000))
        << out.constData() << program.readAllStandardError().constData()
        << eventRows(folder.path(QStringLiteral("PLW"))).join(QLatin1Char('\n')).toStdString();
    const QStringList rows = eventRows(folder.path(QStringLiteral("PLW")), true);
    ASSERT_GE(rows.size(), 3) << rows.join(QLatin1Char('\n'));
    const QDateTime rowTime =
        QDateTime::fromString(rows[0].section(QLatin1Char('|'), 0, 0), "yyyy-MM-dd HH:mm:ss");
    EXPECT_LE(saidAt("sound") - rowTime.toMSecsSinceEpoch(), 20000 + 1000) << rows[0];
    const QString busy = QStringLiteral(" の呼び出しに失敗しました: 話し中です (BUSY)|-1");
    EXPECT_TRUE(rows[1].endsWith(QStringLiteral("|TEL|電話 0312345678") + busy)) << rows[1];
    EXPECT_TRUE(rows[2].endsWith(QStringLiteral("|TEL|電話 09011112222") + busy)) << rows[2];
    EXPECT_GE(endWithSignal(), 0);
}

// The program folder on a full tmpfs: rows that no store takes wait; a
// SIGTERM keeps them in the space the side file reserved while there was
// some, and the next start, with space again, writes every one of them
// with the time it was made.
TEST_F(ProgramRun, RowsWaitingOnAFullDiskSurviveTheQuit) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root (run the tests as root, as CI does)";
    QTemporaryDir mountPoint;
    const QByteArray dir = QFile::encodeName(mountPoint.path());
    if (::mount("pw-full-disk", dir.constData(), "tmpfs", 0, "size=6m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const struct Unmount {
        QByteArray dir;
        ~Unmount() { ::umount2(dir.constData(), MNT_DETACH); }
    } unmount{dir};
    const QString app = mountPoint.path();
    // The program itself lives outside: a bind mount puts it in the folder.
    const QString binary = app + QStringLiteral("/program_run");
    QFile(binary).open(QIODevice::WriteOnly);
    ASSERT_EQ(
        ::mount(PROGRAM_RUN, QFile::encodeName(binary).constData(), nullptr, MS_BIND, nullptr), 0);
    const struct Unbind {
        QByteArray path;
        ~Unbind() { ::umount2(path.constData(), MNT_DETACH); }
    } unbind{QFile::encodeName(binary)};
    ASSERT_TRUE(QFile::copy(QStringLiteral(PW_EMPTY_DB), app + QStringLiteral("/PLW")));
    QFile list(app + QStringLiteral("/ServerList"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=127.0.0.1\r\nSERVER_CHECK1=1\r\n");
    list.close();
    QFile general(app + QStringLiteral("/Pulsewatch"));
    ASSERT_TRUE(general.open(QIODevice::WriteOnly));
    general.write("[Pulsewatch]\r\nmINTERVAL=1\r\nRETRY=0\r\nUSED_LAN=1\r\n");
    general.close();

    start(app, 250);
    ASSERT_TRUE(
        waitUntil([&] { return eventRows(app + QStringLiteral("/PLW")).size() >= 1; }, 10000));
    const QString filler = app + QStringLiteral("/filler");
    const int fd = ::open(QFile::encodeName(filler).constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const QByteArray chunk(4096, 'x');
    while (::write(fd, chunk.constData(), chunk.size()) > 0) {
    }
    ::close(fd);
    const int before = static_cast<int>(eventRows(app + QStringLiteral("/PLW")).size());
    QTest::qWait(1500);
    const QDateTime signalled = QDateTime::currentDateTime();
    EXPECT_GE(endWithSignal(), 0);
    const QString said = QString::fromLocal8Bit(program.readAllStandardError());
    const auto kept =
        QRegularExpression(QStringLiteral("記録できなかったイベント (\\d+) 件")).match(said);
    ASSERT_TRUE(kept.hasMatch()) << said.toStdString();
    const int waiting = kept.captured(1).toInt();
    EXPECT_GE(waiting, 2);

    ASSERT_TRUE(QFile::remove(filler));
    start(app, 60000);
    ASSERT_TRUE(waitUntil(
        [&] { return eventRows(app + QStringLiteral("/PLW")).size() >= before + waiting; }, 10000));
    EXPECT_GE(endWithSignal(), 0);
    const QStringList rows = eventRows(app + QStringLiteral("/PLW"), true);
    ASSERT_EQ(rows.size(), before + waiting);
    for (int i = before; i < rows.size(); ++i) {
        const QDateTime made =
            QDateTime::fromString(rows[i].section(QLatin1Char('|'), 0, 0), "yyyy-MM-dd HH:mm:ss");
        EXPECT_LE(made, signalled) << rows[i];
        EXPECT_TRUE(rows[i].contains(QStringLiteral("|127.0.0.1|Reply from 127.0.0.1:")));
    }
}

// SIGTERM while the cycle waits on a DNS server that drops every query:
// the program ends within the bound and the abandoned cycle leaves no row.
TEST_F(ProgramRun, AQuitSignalEndsALookupOnADeadDnsServer) {
    ASSERT_TRUE(netns.setResolvConf(ns, "nameserver 127.0.0.53\n"));
    QProcess dns;
    ASSERT_TRUE(Netns::startDns(dns, ns, QStringLiteral("127.0.0.53"), false, {}));
    folder.write(QStringLiteral("ServerList"),
                 "[Pulsewatch]\r\nSERVER_CNT=1\r\n"
                 "SERVER_NAME1=srv.pulsewatch.test\r\nSERVER_CHECK1=1\r\n");
    settings("USED_LAN=1\r\n");
    start(300);
    ASSERT_TRUE(waitUntil([&] { return said("tick") > 0; }, 10000)) << out.constData();
    QTest::qWait(300); // into the lookup
    const qint64 ms = endWithSignal();
    EXPECT_GE(ms, 0);
    EXPECT_LE(ms, PW_END_LIMIT_MS);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(eventRows(folder.path(QStringLiteral("PLW"))), QStringList());
    dns.kill();
    dns.waitForFinished(3000);
}

// Two copies of the program, in two folders with two station names, write
// their cycles into one shared database: each station's rows are there,
// in order, with its name and the times they were made.
TEST_F(ProgramRun, TwoStationsShareOneEventStore) {
    PgServer server;
    if (!server.failure().isEmpty())
        GTEST_SKIP() << server.failure().toStdString();
    TestFolder second;
    place(second.folder());
    QProcess other;
    for (const auto& [dir, name] :
         {std::pair{folder.folder(), "east"}, {second.folder(), "west"}}) {
        QFile list(dir + QStringLiteral("/ServerList"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write("[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=127.0.0.1\r\nSERVER_CHECK1=1\r\n");
        QFile general(dir + QStringLiteral("/Pulsewatch"));
        ASSERT_TRUE(general.open(QIODevice::WriteOnly));
        general.write("[Pulsewatch]\r\nmINTERVAL=1\r\nRETRY=0\r\nUSED_LAN=1\r\nEVENT_DB=" +
                      server.uri().toUtf8() + "\r\nSTATION_NAME=" + name + "\r\n");
    }
    // Loopback of this machine, where the database listens.
    start(folder.folder(), 300, false, QString());
    other.start(second.path(QStringLiteral("program_run")), {QStringLiteral("300")});
    ASSERT_TRUE(other.waitForStarted(5000));
    const auto rows = [&](const char* station) {
        return server.psql(QStringLiteral("SELECT AddDate, ServerName FROM Pulsewatch WHERE "
                                          "Station = '%1' ORDER BY ID")
                               .arg(QLatin1String(station)));
    };
    const auto count = [&](const char* station) {
        return server
            .psql(QStringLiteral("SELECT count(*) FROM Pulsewatch WHERE Station = '%1'")
                      .arg(QLatin1String(station)))
            .value(0)
            .toInt();
    };
    ASSERT_TRUE(waitUntil([&] { return count("east") >= 3 && count("west") >= 3; }, 20000))
        << program.readAllStandardError().constData();
    EXPECT_GE(endWithSignal(), 0);
    other.terminate();
    other.waitForFinished(5000);
    for (const char* station : {"east", "west"}) {
        const QStringList r = rows(station);
        QStringList sorted = r;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(r, sorted) << station;
        for (const QString& row : r)
            EXPECT_TRUE(row.endsWith(QStringLiteral("|127.0.0.1"))) << row.toStdString();
    }
}
