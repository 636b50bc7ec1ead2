// Real cycles against a server that first ignores echo requests and then
// answers (network namespace A linked to B), read back through the log
// viewer's chart.
#include "logview/EventChart.h"
#include "logview/EventTime.h"
#include "logview/frmLog.h"
#include "monitor/CycleFixture.h"
#include "support/FakeWindowSystem.h"
#include "support/Netns.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::EnterNetns;
using testsupport::eventRows;
using testsupport::Netns;

namespace {

class ChartNetns : public ::testing::Test, public CycleFixture {
protected:
    Netns netns;
    QString a, b;

    void SetUp() override {
        const QString why = Netns::unavailableReason();
        if (!why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        a = netns.add(QStringLiteral("A"));
        b = netns.add(QStringLiteral("B"));
        ASSERT_TRUE(netns.link(a, QStringLiteral("vB"), QStringLiteral("10.99.1.2/24"), b,
                               QStringLiteral("vA"), QStringLiteral("10.99.1.1/24")));
        server(1, QStringLiteral("10.99.1.1"), 1);
        state.RETRY = QStringLiteral("0");
    }
    void answering(bool on) {
        ASSERT_TRUE(netns.exec(
            b, QStringLiteral("sysctl -qw net.ipv4.icmp_echo_ignore_all=%1").arg(on ? 0 : 1)));
    }
    void tick() {
        EnterNetns inA(a);
        ASSERT_TRUE(inA.ok());
        cycle.Timer1_Timer();
    }
    static qint64 seconds(const QString& row) {
        return logview::civilSeconds(logview::packedTime(row.section(u'|', 0, 0)));
    }
};

} // namespace

TEST_F(ChartNetns, ASilentThenAnsweringServerIsADownPeriodThenItsRtt) {
    answering(false);
    tick();
    tick();
    // The answer comes in a later second than the silence (AddDate has
    // whole seconds), so the down period has a length.
    const int silentSecond = QTime::currentTime().second();
    for (int i = 0; i < 30 && QTime::currentTime().second() == silentSecond; ++i)
        QTest::qWait(100);
    answering(true);
    tick();
    tick();
    const QStringList rows = eventRows(state.DatabasePath, true);
    ASSERT_EQ(rows.size(), 4);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(rows[i].endsWith(i < 2 ? QLatin1String("|-1") : QLatin1String("|1")))
            << rows[i];

    testsupport::FakeWindowSystem ui;
    frmLog w(state, ui, clock);
    for (const char* field : {"Y1", "Y2"}) // every day: the run may pass midnight
        w.findChild<QLineEdit*>(QLatin1String(field))->clear();
    QSignalSpy loaded(&w.chartLoader(), &logview::ChartLoader::loaded);
    w.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    ASSERT_TRUE(loaded.wait(20000));
    EXPECT_TRUE(ui.messages.isEmpty());

    const logview::ChartData& d = w.chart().data();
    ASSERT_EQ(d.servers.size(), 1u);
    const logview::ServerChart& s = d.servers[0];
    EXPECT_EQ(s.name, QStringLiteral("10.99.1.1"));
    ASSERT_EQ(s.down.size(), 1u);
    EXPECT_EQ(s.down[0].from, seconds(rows[0]));
    EXPECT_EQ(s.down[0].to, seconds(rows[2])) << "down until found answering";
    EXPECT_EQ(s.down[0].message, QStringLiteral("Reply from 10.99.1.1: : ICMP Request Timeout"));
    QStringList points; // the answered rows as the chart holds them
    for (const logview::ServerChart::Slice& slice : s.slices)
        if (slice.answered)
            for (const logview::ChartPoint* p : {&slice.low, &slice.high})
                if (p == &slice.low || p->time != slice.low.time)
                    points << QString::number(p->time) + u'|' + QString::number(p->rtt) + u'|' +
                                  p->message;
    QStringList expected;
    for (int i = 2; i < 4; ++i) {
        const QString line = rows[i].section(u'|', 2, 2);
        ASSERT_TRUE(line.startsWith(QLatin1String("Reply from 10.99.1.1:: Bytes = 32 RTT = ")))
            << line.toStdString();
        expected << QString::number(seconds(rows[i])) + u'|' +
                        QString::number(*logview::rttOfOutcome(line)) + u'|' + line;
    }
    if (seconds(rows[2]) == seconds(rows[3])) // one slice: its lowest and highest
        expected.removeDuplicates();
    EXPECT_EQ(points.size(), expected.size());
    for (const QString& p : points)
        EXPECT_TRUE(expected.contains(p)) << p.toStdString();
}
