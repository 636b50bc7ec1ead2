// The cycle against hosts that do not answer: namespace A (where the cycle
// runs) is linked to B, which ignores echo requests, and to C, which
// answers; A has no route at all to 10.99.9.0/24.
#include "CycleFixture.h"
#include "support/Netns.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

using testsupport::EnterNetns;
using testsupport::eventRows;
using testsupport::Netns;

namespace {

class MonitorCycleNetns : public ::testing::Test, public CycleFixture {
protected:
    Netns netns;
    QString a;

    void SetUp() override {
        const QString why = netns.addEchoPeers(
            &a, {"10.99.1.11", "10.99.1.12", "10.99.1.13", "10.99.1.14", "10.99.1.15"},
            {"10.99.2.11"});
        if (!why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(
            Netns::sh(QStringLiteral("ip -n %1 route add unreachable 10.99.9.0/24").arg(a)));
        server(1, QStringLiteral("127.0.0.1"), 1);
        server(2, QStringLiteral("10.99.1.1"), 1);
    }

    void tick() {
        EnterNetns inA(a);
        ASSERT_TRUE(inA.ok());
        cycle.Timer1_Timer();
    }
};

} // namespace

TEST_F(MonitorCycleNetns, ASilentServerIsProbedOncePlusItsRetries) {
    struct Case {
        const char* retry;
        QList<qint32> codes;
    } cases[] = {
        {"0", {0, -1}},
        {"2", {0, -1, -1, -1}},
        {"1.5", {0, -1, -1, -1}},
    };
    for (const Case& c : cases) {
        state.RETRY = QLatin1String(c.retry);
        probeCodes.clear();
        tick();
        EXPECT_EQ(probeCodes, c.codes) << "RETRY " << c.retry;
        EXPECT_EQ(state.Servers[2].Status, -1);
        EXPECT_EQ(state.Servers[2].Message,
                  QStringLiteral("Reply from 10.99.1.1: : ICMP Request Timeout"));
    }
    EXPECT_EQ(alarmCalls, (QList<bool>{false, false, false}));
    EXPECT_EQ(allUpAtAlarm, (QList<qint16>{0, 0, 0}));
    const QStringList rows = eventRows(state.DatabasePath);
    ASSERT_EQ(rows.size(), 6);
    EXPECT_EQ(rows[1], QStringLiteral("10.99.1.1|Reply from 10.99.1.1: : ICMP Request Timeout|-1"));
}

TEST_F(MonitorCycleNetns, AHugeRetrySettingStillEndsTheCycle) {
    state.RETRY = QStringLiteral("1E9");
    tick();
    EXPECT_EQ(probeCodes.size(), 1 + 1 + monitor::MonitorCycle::kMaxRetries);
    EXPECT_EQ(alarmCalls.size(), 1);
}

// The rows, their order and texts, and what the alarm step sees are those of
// probing one server after another; only the time differs: silent servers
// wait for their replies together, so the cycle takes about (1 + RETRY)
// reply waits however many of them there are.
TEST_F(MonitorCycleNetns, SilentServersWaitTogetherAndTheRowsStayInSlotOrder) {
    const QString timeout = QStringLiteral(": : ICMP Request Timeout");
    const struct Slot {
        const char* name;
        qint16 check;
        QString line; // RTT written as #
        qint16 status;
    } table[] = {
        {"10.99.1.11", 1, "Reply from 10.99.1.11" + timeout, -1},
        {"127.0.0.1", 1, "Reply from 127.0.0.1:localhost: Bytes = 32 RTT = # ms TTL = 64", 1},
        {"10.99.1.12", 1, "Reply from 10.99.1.12" + timeout, -1},
        {"no-such-host.invalid", 1, QStringLiteral("コンピュータ名またはIPアドレスが不正です。"),
         -1},
        {"10.99.2.1", 1, "Reply from 10.99.2.1:: Bytes = 32 RTT = # ms TTL = 64", 1},
        {"10.99.1.13", -1, "from an earlier cycle", -1},
        {"10.99.9.9", 1, "Reply from 10.99.9.9: : Dest Host Not Reachable", -1},
        {"10.99.1.14", 1, "Reply from 10.99.1.14" + timeout, -1},
        {"10.99.2.11", 1, "Reply from 10.99.2.11:: Bytes = 32 RTT = # ms TTL = 64", 1},
        {"10.99.1.15", 1, "Reply from 10.99.1.15" + timeout, -1},
    };
    for (int i = 1; i <= 10; ++i)
        server(i, QLatin1String(table[i - 1].name), table[i - 1].check);
    state.Servers[6].Message = table[5].line;
    state.Servers[6].Status = -1;
    state.RETRY = QStringLiteral("1");
    const QRegularExpression rtt(QStringLiteral("RTT = \\d+ ms"));
    auto plain = [&rtt](QString s) { return s.replace(rtt, QStringLiteral("RTT = # ms")); };

    // The last watched server in slot order decides what the alarm step and
    // LastProbeCode/LastProbeText see, whichever reply came last.
    const struct {
        qint16 checkOfSlot10;
        int lastSlot;
    } cases[] = {{1, 10}, {-1, 9}};
    for (const auto& c : cases) {
        state.Servers[10].Check = c.checkOfSlot10;
        const int before = eventRows(state.DatabasePath).size();
        QElapsedTimer t;
        t.start();
        tick();
        const qint64 ms = t.elapsed();

        QStringList expected;
        for (int i = 1; i <= 10; ++i)
            if (state.Servers[i].Check == 1)
                expected << QLatin1String(table[i - 1].name) + QLatin1Char('|') +
                                table[i - 1].line + QLatin1Char('|') +
                                QString::number(table[i - 1].status);
        QStringList rows = eventRows(state.DatabasePath).mid(before);
        for (QString& r : rows)
            r = plain(r);
        EXPECT_EQ(rows, expected) << "last slot " << c.lastSlot;
        for (int i = 1; i <= 10; ++i) {
            EXPECT_EQ(plain(state.Servers[i].Message), table[i - 1].line) << "slot " << i;
            EXPECT_EQ(state.Servers[i].Status, table[i - 1].status) << "slot " << i;
        }
        const Slot& last = table[c.lastSlot - 1];
        EXPECT_EQ(plain(state.LastProbeText), last.line);
        EXPECT_EQ(state.LastProbeCode, last.status == 1 ? 0 : -1);
        EXPECT_EQ(alarmCalls.last(), last.status == 1);
        EXPECT_EQ(allUpAtAlarm.last(), 0);
        // One after another this takes 4 silent servers x 2 waits x 500 ms.
        EXPECT_LT(ms, 2500) << "last slot " << c.lastSlot;
    }
}

// The program's end while the cycle waits for a silent server: the wait
// ends with it, a server whose probes were not finished gets no row (nor a
// new Status), the alarm step does not run; servers that had answered keep
// their rows.
TEST_F(MonitorCycleNetns, TheProgramsEndAbandonsTheCycleUnderWay) {
    platform::Ending ending;
    cycle.setEnding(&ending);
    server(3, QStringLiteral("10.99.2.11"), 1);
    server(4, QStringLiteral("no-such-host.invalid"), 1);
    state.RETRY = QStringLiteral("2");
    QTimer::singleShot(200, [&ending] { ending.request(); });
    QElapsedTimer t;
    t.start();
    tick();
    EXPECT_LT(t.elapsed(), 1200) << "the cycle waited on after the end";
    QStringList rows = eventRows(state.DatabasePath);
    for (QString& r : rows)
        r = r.section(QLatin1Char('|'), 0, 0) + QLatin1Char('|') + r.section(QLatin1Char('|'), -1);
    EXPECT_EQ(rows, (QStringList{"127.0.0.1|1", "10.99.2.11|1"}));
    EXPECT_TRUE(alarmCalls.isEmpty());
    EXPECT_EQ(state.Servers[2].Status, 0);
    EXPECT_EQ(state.Servers[4].Status, 0);
    EXPECT_FALSE(cycle.cycleRunning());
}

namespace {

// The cycle in a process of its own (cycle_cli) inside namespace A, where
// resolv.conf is A's own: A is linked to B, a router that answers
// 10.99.8.0/24 with "host unreachable", and to C, whose addresses
// 10.99.2.1 and 10.99.2.11 to .19 answer and where 10.99.2.53 is a DNS
// server of the test's own that knows srv.pulsewatch.test as 10.99.2.11.
class CycleProcess : public ::testing::Test {
protected:
    Netns netns;
    QString a, c;
    QTemporaryDir dir;
    QStringList copies; // cycle_cli and the empty database, for any user
    QProcess dns;
    QStringList answering{QStringLiteral("10.99.2.1")}; // and 10.99.2.11 to .19

    void SetUp() override {
        QStringList more;
        for (int i = 11; i <= 19; ++i)
            more << QStringLiteral("10.99.2.%1").arg(i);
        answering += more;
        QString b;
        const QString why = netns.addEchoPeers(&a, {}, more + QStringList{"10.99.2.53"}, &b, &c);
        if (!why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(netns.exec(b, QStringLiteral("sysctl -qw net.ipv4.ip_forward=1")));
        ASSERT_TRUE(
            Netns::sh(QStringLiteral("ip -n %1 route add unreachable 10.99.8.0/24").arg(b)));
        ASSERT_TRUE(
            Netns::sh(QStringLiteral("ip -n %1 route add 10.99.8.0/24 via 10.99.1.1").arg(a)));
        ASSERT_TRUE(netns.setResolvConf(a, "nameserver 10.99.2.53\n"));
        ASSERT_TRUE(startDns(true));
        copies =
            Netns::copiesForNobody(dir, {QStringLiteral(CYCLE_CLI), QStringLiteral(PW_EMPTY_DB)});
        ASSERT_EQ(copies.size(), 2);
    }

    void TearDown() override {
        dns.kill();
        dns.waitForFinished();
    }

    struct Run {
        QList<qint64> cycleMs;
        QStringList rows;
        bool ended = false;
    };
    // The DNS server, healthy or dead; every name it knows has a PTR record
    // too.
    bool startDns(bool answer) {
        dns.kill();
        dns.waitForFinished();
        QStringList records{QStringLiteral("srv.pulsewatch.test=10.99.2.11")};
        for (const QString& address : answering)
            if (address != QStringLiteral("10.99.2.11"))
                records << QStringLiteral("c%1.pulsewatch.test=%2")
                               .arg(address.section(QLatin1Char('.'), 3), address);
        return Netns::startDns(dns, c, QStringLiteral("10.99.2.53"), answer, records);
    }

    Run parse(QProcess& p) const {
        Run r;
        for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
            if (line.startsWith(QStringLiteral("cycle\t")))
                r.cycleMs << line.mid(6).toLongLong();
            else if (line.startsWith(QStringLiteral("row\t")))
                r.rows << line.mid(4);
            r.ended = r.ended || line == QStringLiteral("ended");
        }
        return r;
    }
    // cycle_cli with count cycles of hosts, RETRY 1, inside A.
    void launch(QProcess& p, int count, const QStringList& hosts, bool asNobody = false) const {
        const QStringList command =
            QStringList{copies[0], copies[1], QString::number(count), QStringLiteral("1")} + hosts;
        p.start(QStringLiteral("ip"),
                asNobody
                    ? Netns::execAsNobody(a, command)
                    : QStringList{QStringLiteral("netns"), QStringLiteral("exec"), a} + command);
    }
    Run cycles(int count, const QStringList& hosts, bool asNobody = false) {
        QProcess p;
        launch(p, count, hosts, asNobody);
        EXPECT_TRUE(p.waitForFinished(120000)) << "the cycles did not end";
        return parse(p);
    }
};

qint64 median(QList<qint64> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

} // namespace

// On the ping socket an ICMP error about one request becomes the socket's
// pending error, which the next send of the batch reports as its own. The
// unreachable server comes first in every batch, the retry round included;
// B sends such errors at the kernel's route error rate (5 at once, then one a
// second), so most cycles get one.
TEST_F(CycleProcess, OnThePingSocketNoAnsweringServerIsDownForAnothersError) {
    ASSERT_TRUE(
        netns.exec(a, QStringLiteral("sysctl -qw net.ipv4.ping_group_range='0 2147483647'")));
    const Run run =
        cycles(20, QStringList{QStringLiteral("10.99.8.8")} + answering.mid(0, 9), true);
    ASSERT_EQ(run.rows.size(), 20 * 10) << run.rows.join('\n').toStdString();
    int unreachable = 0;
    for (const QString& row : run.rows) {
        if (row.startsWith(QStringLiteral("10.99.8.8|"))) {
            EXPECT_TRUE(row.endsWith(QStringLiteral("|-1"))) << row.toStdString();
            unreachable += row.contains(QStringLiteral("Dest Host Not Reachable"));
        } else {
            EXPECT_TRUE(row.endsWith(QStringLiteral("|1"))) << row.toStdString();
        }
    }
    EXPECT_GT(unreachable, 0) << "B reported nothing: the case was not tried";
}

// Ten servers, nine dotted addresses and a name, RETRY 1, with A's DNS
// server healthy and then dead (it drops every query; glibc waits 10 s for
// each lookup): the dead server costs the cycle the lookup bound, not the
// lookups, and the rows say what a missing name and a missing PTR record say.
TEST_F(CycleProcess, ADeadDnsServerDelaysTheCycleByTheLookupBoundOnly) {
    const QStringList servers =
        answering.mid(0, 1) + answering.mid(2) + QStringList{QStringLiteral("srv.pulsewatch.test")};
    const QRegularExpression rtt(QStringLiteral("RTT = \\d+ ms"));
    auto expectedRows = [&](bool healthy) {
        QStringList rows;
        for (const QString& s : servers) {
            const QString address =
                s.startsWith(QLatin1String("srv")) ? QStringLiteral("10.99.2.11") : s;
            const QString name =
                s.startsWith(QLatin1String("srv"))
                    ? s
                    : QStringLiteral("c%1.pulsewatch.test").arg(s.section(QLatin1Char('.'), 3));
            rows << (!healthy && s == servers.last()
                         ? s + QStringLiteral("|コンピュータ名またはIPアドレスが不正です。|-1")
                         : s + QStringLiteral("|Reply from ") + address + QLatin1Char(':') +
                               (healthy ? name : QString()) +
                               QStringLiteral(": Bytes = 32 RTT = # ms TTL = 64|1"));
        }
        return rows;
    };
    qint64 medians[2] = {};
    for (const bool healthy : {true, false}) {
        SCOPED_TRACE(healthy ? "healthy DNS" : "dead DNS");
        ASSERT_TRUE(startDns(healthy));
        const Run run = cycles(3, servers);
        ASSERT_EQ(run.cycleMs.size(), 3);
        QStringList rows = run.rows;
        for (QString& r : rows)
            r.replace(rtt, QStringLiteral("RTT = # ms"));
        EXPECT_EQ(rows.mid(0, 10), expectedRows(healthy));
        EXPECT_EQ(rows.mid(20), rows.mid(0, 10));
        medians[healthy ? 0 : 1] = median(run.cycleMs);
    }
    EXPECT_LT(medians[1] - medians[0], 2000)
        << "healthy " << medians[0] << " ms, dead " << medians[1] << " ms";
}

// A quit signal while the cycle waits on the dead DNS server ends it at
// once, and the abandoned cycle records nothing.
TEST_F(CycleProcess, AQuitSignalEndsACycleThatWaitsOnADeadDnsServer) {
    ASSERT_TRUE(startDns(false));
    QProcess p;
    launch(p, 1, {QStringLiteral("srv.pulsewatch.test"), QStringLiteral("10.99.2.1")});
    ASSERT_TRUE(p.waitForStarted());
    // Once the cycle is under way: the lookups take 1.5 s.
    QThread::msleep(700);
    QElapsedTimer t;
    t.start();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_LT(t.elapsed(), 1000);
    const Run run = parse(p);
    EXPECT_TRUE(run.ended);
    EXPECT_TRUE(run.rows.isEmpty()) << run.rows.join('\n').toStdString();
}
