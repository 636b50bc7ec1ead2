#include "logview/ChartData.h"
#include "logview/EventChart.h"
#include "logview/EventTime.h"
#include "monitor/OutcomeLine.h"

#include <gtest/gtest.h>

using namespace logview;

namespace {

const qint64 kDay = civilSeconds(20261207000000ULL);

QString answered(const QString& host, int rtt) {
    return monitor::outcomeLine(0, QStringLiteral("Success"), host, QStringLiteral("10.0.0.1"), 32,
                                rtt, 64);
}
QString timedOut(const QString& host) {
    return monitor::outcomeLine(-1, QStringLiteral("ICMP Request Timeout"), host,
                                QStringLiteral("10.0.0.1"), 0, 0, 0);
}

} // namespace

TEST(OutcomeRtt, ReadsTheAnsweredLineTheCycleWrites) {
    for (int rtt : {0, 7, 1234567})
        EXPECT_EQ(rttOfOutcome(answered(QStringLiteral("db01"), rtt)), rtt);
    EXPECT_EQ(rttOfOutcome(answered(QString(), 3)), 3); // no reverse name
    EXPECT_FALSE(rttOfOutcome(timedOut(QStringLiteral("db01"))));
    EXPECT_FALSE(rttOfOutcome(QStringLiteral("コンピュータ名またはIPアドレスが不正です。")));
    EXPECT_FALSE(
        rttOfOutcome(QStringLiteral("Reply from 1.2.3.4:h: Bytes = 32 RTT = x ms TTL = 1")));
    EXPECT_FALSE(rttOfOutcome(
        QStringLiteral("Reply from 1.2.3.4:h: Bytes = 32 RTT = 99999999999 ms TTL = 1")));
}

TEST(EventTime, CivilSecondsRoundTripAndOrder) {
    for (quint64 p : {19700101000000ULL, 20240229235959ULL, 20261207091500ULL, 21000301000000ULL})
        EXPECT_EQ(packedOf(civilSeconds(p)), p);
    EXPECT_EQ(civilSeconds(20261208000000ULL) - civilSeconds(20261207235959ULL), 1);
    EXPECT_EQ(packedTime(u"2026-12-07T09:05:03.000"), 20261207090503ULL); // a server's timestamp
    EXPECT_EQ(shownTime(20261207090503ULL), QStringLiteral("2026/12/07 9:05:03"));
}

TEST(ChartBuilder, DownPeriodsRunFromTheFirstFailureToTheAnswer) {
    ChartBuilder b(kDay, kDay + kSecondsPerDay - 1);
    const QString a = QStringLiteral("a"), c = QStringLiteral("c");
    b.add(kDay + 60, a, answered(a, 5), 1);
    b.add(kDay + 120, a, timedOut(a), -1);
    b.add(kDay + 150, QStringLiteral("COM"), QStringLiteral("このポートは使用できません。"), -1);
    b.add(kDay + 160, QStringLiteral("DIAL UP"), QStringLiteral("ダイアルアップ接続に失敗。"), -1);
    b.add(kDay + 180, a, timedOut(a), 0); // any Error but 1 is a failure, as in the list
    b.add(kDay + 240, a, answered(a, 9), 1);
    b.add(kDay + 300, c, timedOut(c), -1); // still down at the end
    b.add(kDay + 360, c, timedOut(c), -1);
    const ChartData d = b.finish();
    ASSERT_EQ(d.servers.size(), 2u) << "the modem port and the dial-up are no servers";
    EXPECT_EQ(d.rows, 6);
    const ServerChart& sa = d.servers[0];
    ASSERT_EQ(sa.down.size(), 1u);
    EXPECT_EQ(sa.down[0].from, kDay + 120);
    EXPECT_EQ(sa.down[0].to, kDay + 240);
    EXPECT_EQ(sa.down[0].message, timedOut(a));
    EXPECT_EQ(sa.maxRtt, 9);
    ASSERT_EQ(d.servers[1].down.size(), 1u);
    EXPECT_EQ(d.servers[1].down[0].to, kDay + 360);
}

// 90 days of ten servers every 78 s (1,000,000 rows) make 2048 slices per
// server; one slow echo and one lone failure among them are still drawn.
TEST(ChartBuilder, ALongRangeKeepsEachSlicesExtremesAndEveryFailure) {
    const qint64 from = kDay - 89 * kSecondsPerDay, to = kDay + kSecondsPerDay - 1;
    ChartBuilder b(from, to);
    QStringList names;
    for (int s = 0; s < 10; ++s)
        names << QStringLiteral("server%1").arg(s);
    const qint64 spike = from + 78 * 44000, lone = from + 70 * kSecondsPerDay;
    for (qint64 t = from; t <= to; t += 78)
        for (const QString& n : names) {
            const bool down = n == names[3] && t <= lone && lone < t + 78;
            b.add(t, n, down ? timedOut(n) : answered(n, t == spike && n == names[3] ? 900 : 3),
                  down ? -1 : 1);
        }
    ChartData d = b.finish();
    EXPECT_GT(d.rows, 990000);
    ASSERT_EQ(d.servers.size(), 10u);
    const ServerChart& s3 = d.servers[3];
    EXPECT_EQ(s3.slices.size(), static_cast<size_t>(ChartBuilder::kSlices));
    EXPECT_EQ(s3.maxRtt, 900);
    EXPECT_EQ(s3.down.size(), 1u);

    EventChart chart;
    chart.resize(640, 300);
    chart.setData(std::move(d));
    EXPECT_TRUE(chart.cutLabels().isEmpty()) << chart.cutLabels().join(u'\n').toStdString();
    // The spike is the top of the plot; hovering it tells its row.
    bool found = false;
    for (int x = 0; x < chart.width() && !found; ++x)
        for (int y = 0; y < 60 && !found; ++y)
            found = chart.rowAt(QPoint(x, y)).contains(QLatin1String("RTT = 900 ms"));
    EXPECT_TRUE(found);
    bool band = false;
    for (int x = 0; x < chart.width() && !band; ++x)
        band = chart.rowAt(QPoint(x, chart.height() / 2)).contains(QLatin1String("Timeout"));
    EXPECT_TRUE(band) << "the lone failure";
}

TEST(EventChart, HoverTellsTheRowAndTheLegendHidesAServer) {
    ChartBuilder b(kDay, kDay + 3599);
    const QString a = QStringLiteral("fileserver"), c = QStringLiteral("db'1");
    b.add(kDay + 1800, a, answered(a, 40), 1);
    b.add(kDay + 900, c, timedOut(c), -1);
    b.add(kDay + 2700, c, answered(c, 20), 1);
    EventChart chart;
    chart.resize(500, 260);
    chart.setData(b.finish());
    const auto hit = [&chart](const QString& needle) {
        for (int x = 0; x < chart.width(); ++x)
            for (int y = 0; y < chart.height(); y += 2)
                if (chart.rowAt(QPoint(x, y)).contains(needle))
                    return chart.rowAt(QPoint(x, y));
        return QString();
    };
    EXPECT_EQ(hit(QStringLiteral("RTT = 40")),
              QStringLiteral("2026/12/07 0:30:00  fileserver\n") + answered(a, 40));
    EXPECT_EQ(hit(QStringLiteral("Timeout")),
              QStringLiteral("2026/12/07 0:15:00 ～ 2026/12/07 0:45:00  db'1\n") + timedOut(c));
    chart.setServerShown(c, false);
    EXPECT_TRUE(hit(QStringLiteral("db'1")).isEmpty());
    EXPECT_FALSE(hit(QStringLiteral("fileserver")).isEmpty());
    chart.setServerShown(c, true);
    EXPECT_FALSE(hit(QStringLiteral("db'1")).isEmpty());
}
