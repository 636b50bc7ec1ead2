// The cycle against a host that does not answer: namespace A (where the
// cycle runs) is linked to B, which ignores echo requests.
#include "CycleFixture.h"
#include "support/Netns.h"

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
        const QString reason = Netns::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        a = netns.add(QStringLiteral("A"));
        const QString b = netns.add(QStringLiteral("B"));
        ASSERT_TRUE(netns.link(a, QStringLiteral("vA"), QStringLiteral("10.99.1.2/24"), b,
                               QStringLiteral("vB"), QStringLiteral("10.99.1.1/24")));
        ASSERT_TRUE(netns.exec(b, QStringLiteral("sysctl -qw net.ipv4.icmp_echo_ignore_all=1")));
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
