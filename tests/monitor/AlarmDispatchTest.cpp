#include "monitor/AlarmDispatch.h"

#include "support/FakePlatform.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

using testsupport::eventRows;
using testsupport::RecordingSleeper;

namespace {

// Every alarm call, in order, as one line of text each.
class RecordingAlarms : public monitor::Alarms {
public:
    QStringList calls;
    bool dialSucceeds = true;
    std::function<void()> duringWindow;

    bool Dialup(const QString& e, const QString& u, const QString& p) override {
        calls << QStringLiteral("dial %1 %2 %3").arg(e, u, p);
        return dialSucceeds;
    }
    void hangUp() override { calls << QStringLiteral("hangup"); }
    bool SendEmail(const QString& server, const QString& subject, const QString& to,
                   const QString& name, const QString& closing, const QString& from) override {
        calls << QStringLiteral("mail %1 %2").arg(server, to);
        EXPECT_EQ(subject, QStringLiteral("サーバーダウンの可能性"));
        EXPECT_EQ(name, QStringLiteral("Pulsewatch"));
        EXPECT_EQ(closing, QStringLiteral("以上サーバーダウンの可能性がありますご検証ください。"));
        EXPECT_EQ(from, QStringLiteral("P/L/W(Pulsewatch)"));
        return true;
    }
    void GoToTelephone(const QString& n, const QString& port, const QString& s) override {
        calls << QStringLiteral("tel %1 %2 %3").arg(n, port, s);
    }
    void showEmergencyWindow() override {
        calls << QStringLiteral("window");
        if (duringWindow)
            duringWindow();
    }
};

class AlarmDispatchTest : public ::testing::Test {
protected:
    testsupport::TestFolder folder;
    AppState state{folder.folder()};
    testsupport::FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30))};
    monitor::EventLog log{state, clock};
    monitor::MonitorCycle cycle{state, log};
    RecordingAlarms alarms;
    RecordingSleeper sleeper;
    monitor::AlarmDispatch dispatch{state, cycle, log, alarms, sleeper};
    QStringList all; // alarm calls with the sleeps between them

    void SetUp() override {
        state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
        state.USED_LAN = 1;
        state.DIAL_ENTRY = QStringLiteral("isp");
        state.DIAL_USER = QStringLiteral("user");
        state.DIAL_PWD = QStringLiteral("secret");
        state.EMARGE_SERVER = QStringLiteral("mail.example.jp");
        state.EMARGE_MAIL = QStringLiteral("ops@example.jp");
        state.EMARGE_MAIL2 = QStringLiteral("boss@example.jp");
        state.TEL1 = QStringLiteral("03");
        state.TEL2 = QStringLiteral("1234");
        state.TEL3 = QStringLiteral("5678");
        state.TEL4 = QStringLiteral("090");
        state.TEL5 = QStringLiteral("1111");
        state.TEL6 = QStringLiteral("2222");
        state.COMPORT = QStringLiteral("1");
        state.COMSETTING = QStringLiteral("9600,N,8,1");
    }

    // One cycle as the monitor runs it: the dial-up step, then (when it let
    // the cycle go on) the alarm step with the cycle's findings.
    void cycleWith(qint16 allUp, bool lastResult) {
        if (!dispatch.dialupStep())
            return;
        state.AllServersUp = allUp;
        dispatch.alarmStep(lastResult);
    }
    QStringList calls() {
        QStringList c = alarms.calls;
        for (int ms : sleeper.waits)
            c << QStringLiteral("sleep %1").arg(ms);
        return c;
    }
};

const QString kTel1 = QStringLiteral("tel 0312345678 1 9600,N,8,1");
const QString kTel2 = QStringLiteral("tel 09011112222 1 9600,N,8,1");

} // namespace

TEST_F(AlarmDispatchTest, OnALanAServerDownRaisesMailsCallsAndTheWindow) {
    cycleWith(0, true);
    EXPECT_EQ(alarms.calls, (QStringList{QStringLiteral("mail mail.example.jp ops@example.jp"),
                                         QStringLiteral("mail mail.example.jp boss@example.jp"),
                                         kTel1, kTel2, QStringLiteral("window")}));
    EXPECT_TRUE(sleeper.waits.isEmpty());
}

TEST_F(AlarmDispatchTest, WithoutALanMailsGoBeforeTheHangUpAndCallsAfterIt) {
    state.USED_LAN = 0;
    cycleWith(0, false); // the last server probed was down: the pause applies
    EXPECT_EQ(alarms.calls,
              (QStringList{QStringLiteral("dial isp user secret"),
                           QStringLiteral("mail mail.example.jp ops@example.jp"),
                           QStringLiteral("mail mail.example.jp boss@example.jp"),
                           QStringLiteral("hangup"), kTel1, kTel2, QStringLiteral("window")}));
    EXPECT_EQ(sleeper.waits, QList<int>{5000});

    alarms.calls.clear();
    sleeper.waits.clear();
    cycleWith(0, true); // an earlier server was down, the last one answered
    EXPECT_EQ(alarms.calls.indexOf(QStringLiteral("hangup")), 3);
    EXPECT_TRUE(sleeper.waits.isEmpty());
}

TEST_F(AlarmDispatchTest, AllUpOnlyHangsUpWhatWasDialled) {
    state.USED_LAN = 0;
    cycleWith(-1, true);
    EXPECT_EQ(alarms.calls,
              (QStringList{QStringLiteral("dial isp user secret"), QStringLiteral("hangup")}));
    alarms.calls.clear();
    state.USED_LAN = 1;
    cycleWith(-1, true);
    EXPECT_TRUE(alarms.calls.isEmpty());
}

TEST_F(AlarmDispatchTest, AFailedDialIsOneRowAndEndsTheCycle) {
    state.USED_LAN = 0;
    alarms.dialSucceeds = false;
    cycle.IntervalCount = 7;
    EXPECT_FALSE(dispatch.dialupStep());
    EXPECT_EQ(cycle.IntervalCount, 1);
    EXPECT_EQ(alarms.calls, QStringList{QStringLiteral("dial isp user secret")});
    EXPECT_EQ(eventRows(state.DatabasePath),
              QStringList{QStringLiteral("DIAL UP|ダイアルアップ接続に失敗。|-1")});
}

TEST_F(AlarmDispatchTest, IncompleteNumbersAndMissingMailSettingsAreSkipped) {
    state.TEL3.clear();
    state.EMARGE_MAIL.clear();
    cycleWith(0, true);
    EXPECT_EQ(alarms.calls, (QStringList{QStringLiteral("mail mail.example.jp boss@example.jp"),
                                         kTel2, QStringLiteral("window")}));

    alarms.calls.clear();
    state.EMARGE_SERVER.clear();
    state.EMARGE_MAIL = QStringLiteral("ops@example.jp");
    state.TEL3 = QStringLiteral("5678");
    state.TEL5.clear();
    cycleWith(0, true);
    EXPECT_EQ(alarms.calls, (QStringList{kTel1, QStringLiteral("window")}));
}

TEST_F(AlarmDispatchTest, TwoCyclesInARowBothAlarm) {
    cycleWith(0, false);
    cycleWith(0, false);
    EXPECT_EQ(alarms.calls.count(QStringLiteral("window")), 2);
    EXPECT_EQ(alarms.calls.count(kTel1), 2);
    EXPECT_EQ(alarms.calls.count(QStringLiteral("mail mail.example.jp ops@example.jp")), 2);
}

// The tick that arrives while the emergency window is open (its nested
// event loop runs the timer) must not start a second cycle.
TEST_F(AlarmDispatchTest, ATickDuringTheAlarmStepStartsNothing) {
    state.USED_LAN = 0;
    state.mINTERVAL = 1;
    state.SERVER_CNT = 1;
    state.Servers[1] = {QStringLiteral("no-such-host.invalid"), QString(), QString(), 1, 0};
    cycle.setAlarmSteps(dispatch.steps());
    alarms.duringWindow = [this] {
        cycle.Timer1_Timer();
        cycle.Timer1_Timer();
    };
    cycle.Timer1_Timer();
    EXPECT_EQ(alarms.calls.count(QStringLiteral("window")), 1);
    EXPECT_EQ(alarms.calls.count(QStringLiteral("dial isp user secret")), 1);
    EXPECT_EQ(alarms.calls.count(QStringLiteral("hangup")), 1);
}
