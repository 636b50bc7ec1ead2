// The cycle against hosts that do not answer: namespace A (where the cycle
// runs) is linked to B, which ignores echo requests, and to C, which
// answers; A has no route at all to 10.99.9.0/24.
#include "CycleFixture.h"
#include "support/Netns.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>

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
