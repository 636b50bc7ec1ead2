// One whole cycle with every alarm for real: echoes on loopback and to a
// host in a namespace that does not answer, the event database, the mail
// library loaded from the program folder and a real SMTP server, a modem
// on a virtual serial pair, and the emergency window (offscreen). Only the
// sound and the 10 s holds are recorded instead.
#include "alerts/AlarmSet.h"
#include "alerts/EmargMSG.h"
#include "monitor/AlarmDispatch.h"

#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"
#include "support/FakeWindowSystem.h"
#include "support/Netns.h"
#include "support/SmtpSink.h"
#include "support/TestFolder.h"
#include "support/VirtualModem.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Namespace A, where the cycle and its mail server run, linked to B
// (10.99.1.1); a program folder with the mail library and the event table.
class WholeCycle : public ::testing::Test {
protected:
    Netns netns;
    QString a, b;
    std::unique_ptr<SmtpSink> sink;
    TestFolder folder;
    AppState state{folder.folder()};

    void SetUp() override {
        const QString reason = Netns::unavailableReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason;
        a = netns.add(QStringLiteral("A"));
        b = netns.add(QStringLiteral("B"));
        ASSERT_TRUE(netns.link(a, QStringLiteral("vA"), QStringLiteral("10.99.1.2/24"), b,
                               QStringLiteral("vB"), QStringLiteral("10.99.1.1/24")));
        sink = std::make_unique<SmtpSink>(
            QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), a});
        ASSERT_EQ(sink->failure(), QString());
        ASSERT_TRUE(QFile::copy(QStringLiteral(MAILWIRE_LIBRARY),
                                folder.path(QStringLiteral("libmailwire.so"))));
        state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
        state.USED_LAN = 1;
        state.EMARGE_SERVER = QStringLiteral("127.0.0.1:%1").arg(sink->port());
        state.EMARGE_MAIL = QStringLiteral("ops@example.jp");
    }
};

} // namespace

TEST_F(WholeCycle, AServerDownRaisesEveryAlarm) {
    ASSERT_TRUE(netns.exec(b, QStringLiteral("sysctl -qw net.ipv4.icmp_echo_ignore_all=1")));
    VirtualModem modem([](const QByteArray&) {
        return QList<VirtualModem::Piece>{{50, "\r\nOK\r\n"}};
    });
    if (!modem.failure().isEmpty())
        GTEST_SKIP() << modem.failure();

    state.SERVER_CNT = 3;
    state.Servers[1] = {QStringLiteral("127.0.0.1"), QString(), QString(), 1, 0};
    state.Servers[2] = {QStringLiteral("10.99.1.1"), QString(), QString(), 1, 0};
    state.Servers[3] = {QStringLiteral("localhost"), QString(), QString(), 1, 0};
    state.EMARGE_MAIL2 = QStringLiteral("boss@example.jp");
    state.TEL1 = QStringLiteral("03");
    state.TEL2 = QStringLiteral("1234");
    state.TEL3 = QStringLiteral("5678");
    state.TEL4 = QStringLiteral("090");
    state.TEL5 = QStringLiteral("1111");
    state.TEL6 = QStringLiteral("2222");
    state.COMPORT = modem.programSide();
    state.COMSETTING = QStringLiteral("9600,N,8,1");
    state.EMARGE_SOUND = QStringLiteral(PW_DEFAULT_ALARM);

    FakeWindowSystem ui;
    FixedClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30)));
    FakeSoundPlayer sound;
    RecordingSleeper sleeper;
    platform::Ending ending;
    platform::Services services{ui, clock, sound, sleeper, ending};
    FakeRemoteAccess ras;
    events::EventLog log(state, clock);
    monitor::MonitorCycle cycle(state, log);
    alerts::AlarmSet alarms(state, services, log, ras);
    alarms.telephone().setHangUpAnswerMs(500);
    monitor::AlarmDispatch dispatch(state, cycle, log, alarms, sleeper, ending, clock);
    cycle.setAlarmSteps(dispatch.steps());

    {
        EnterNetns inA(a);
        ASSERT_TRUE(inA.ok());
        cycle.Timer1_Timer();
    }
    // The window does not hold the watch: it opened and the cycle ended.
    EXPECT_FALSE(cycle.cycleRunning());
    EXPECT_EQ(ui.modelessShown, QList<QString>{QStringLiteral("EmargMSG")});
    ASSERT_NE(alarms.emergencyWindow(), nullptr);
    const QString windowList = alarms.emergencyWindow()->listText();
    EXPECT_TRUE(sound.playing);

    const QStringList rows = eventRows(state.DatabasePath);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[0].endsWith(QStringLiteral("|1")));
    EXPECT_EQ(rows[1], QStringLiteral("10.99.1.1|Reply from 10.99.1.1: : ICMP Request Timeout|-1"));
    EXPECT_TRUE(rows[2].endsWith(QStringLiteral("|1")));

    const auto mails = sink->messages();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(mails[0].rcptTos, QStringList{QStringLiteral("ops@example.jp")});
    EXPECT_EQ(mails[1].rcptTos, QStringList{QStringLiteral("boss@example.jp")});
    const auto decoded = decodeWithPython(mails[0].data);
    EXPECT_TRUE(decoded.body.contains(QStringLiteral("サーバー名　　　　= 10.99.1.1")))
        << decoded.body;
    EXPECT_FALSE(decoded.body.contains(QStringLiteral("= localhost")));

    const QByteArray dialled = "ATDT0312345678;\rATH\rATDT09011112222;\rATH\r";
    EXPECT_EQ(modem.received(dialled.size()), dialled);
    EXPECT_EQ(sleeper.waits, (QList<int>{10000, 10000}));
    EXPECT_EQ(windowList,
              QStringLiteral("【10.99.1.1】 - Reply from 10.99.1.1: : ICMP Request Timeout\r\n"));
    EXPECT_TRUE(ras.calls.isEmpty()) << "dialled on a LAN";

    // Two more intervals with the window still open: each probes, records
    // and alarms; the open window is refreshed, never shown again, and its
    // sound plays on until the operator closes it.
    state.Servers[3].Check = -1;
    state.Servers[2].Name = QStringLiteral("10.99.1.9");
    for (int interval = 2; interval <= 3; ++interval) {
        EnterNetns inA(a);
        cycle.Timer1_Timer();
        EXPECT_EQ(eventRows(state.DatabasePath).size(), 3 + 2 * (interval - 1));
    }
    EXPECT_EQ(sink->messages().size(), 6);
    EXPECT_EQ(ui.modelessShown.size(), 1);
    EXPECT_EQ(sound.started.size(), 1);
    EXPECT_EQ(alarms.emergencyWindow()->listText(),
              QStringLiteral("【10.99.1.9】 - Reply from 10.99.1.9: : ICMP Request Timeout\r\n"));
    alarms.emergencyWindow()->close();
    EXPECT_FALSE(sound.playing);
}

// A server silent for two cycles, then answering again after the program
// was restarted: each silent cycle mails its down report, and the cycle
// that finds it answering mails exactly one recovery notice, with the time
// of the first failing row read back from the event table.
TEST_F(WholeCycle, AServerBackAfterARestartGetsOneRecoveryMail) {
    state.SERVER_CNT = 1;
    state.Servers[1] = {QStringLiteral("10.99.1.1"), QString(), QStringLiteral("基幹DB"), 1, 0};
    state.RECOVERY_NOTICE = 1;

    FakeWindowSystem ui;
    platform::SystemClock clock;
    FakeSoundPlayer sound;
    RecordingSleeper sleeper;
    platform::Ending ending;
    platform::Services services{ui, clock, sound, sleeper, ending};
    FakeRemoteAccess ras;
    events::EventLog log(state, clock);
    monitor::MonitorCycle cycle(state, log);
    // Each run of the program: its alarms and its dispatch, made anew.
    const auto run = [&](bool answering) {
        alerts::AlarmSet alarms(state, services, log, ras);
        monitor::AlarmDispatch dispatch(state, cycle, log, alarms, sleeper, ending, clock);
        dispatch.restoreDownSince();
        cycle.setAlarmSteps(dispatch.steps());
        netns.exec(
            b,
            QStringLiteral("sysctl -qw net.ipv4.icmp_echo_ignore_all=%1").arg(answering ? 0 : 1));
        EnterNetns inA(a);
        cycle.Timer1_Timer();
        cycle.setAlarmSteps({});
    };
    run(false);
    run(false);
    run(true); // after a restart
    const QStringList rows = eventRows(state.DatabasePath, true);
    ASSERT_EQ(rows.size(), 3);
    const auto mails = sink->messages();
    ASSERT_EQ(mails.size(), 3);
    EXPECT_EQ(decodeWithPython(mails[0].data).subject.simplified(),
              QStringLiteral("サーバーダウンの可能性"));
    const DecodedMail recovery = decodeWithPython(mails[2].data);
    EXPECT_EQ(recovery.subject.simplified(), QStringLiteral("サーバー復旧"));
    const QDateTime firstDown = QDateTime::fromString(rows[0].section(QLatin1Char('|'), 0, 0),
                                                      QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    for (const QString& line :
         {QStringLiteral("サーバー名　　　　= 10.99.1.1"),
          QStringLiteral("備考　　　　　　　= 基幹DB"),
          QStringLiteral("ダウン検出時刻　　= ") + platform::generalDate(firstDown),
          QStringLiteral("ダウン時間　　　　= 0時間0分"),
          QStringLiteral("以上サーバーが復旧しました。")})
        EXPECT_TRUE(recovery.body.contains(line)) << line.toStdString() << "\n"
                                                  << recovery.body.toStdString();
}
