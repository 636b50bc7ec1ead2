#include "monitor/AlarmDispatch.h"

#include "support/TestFolder.h"

#include <gtest/gtest.h>

using testsupport::eventRows;

namespace {

// Every alarm call, in order, as one line of text each.
class RecordingAlarms : public alerts::Alarms {
public:
    QStringList calls;
    bool dialSucceeds = true;
    std::function<void()> duringWindow;
    std::function<void(const QString& call)> onCall; // runs after each call is recorded

    void record(const QString& call) {
        calls << call;
        if (onCall)
            onCall(call);
    }

    bool Dialup(const QString& e, const QString& u, const QString& p) override {
        record(QStringLiteral("dial %1 %2 %3").arg(e, u, p));
        return dialSucceeds;
    }
    void hangUp() override { record(QStringLiteral("hangup")); }
    bool SendEmail(const QString& server, const QString& subject, const QString& to,
                   const QString& name, const QString& closing, const QString& from,
                   const QDeadlineTimer&) override {
        record(QStringLiteral("mail %1 %2").arg(server, to));
        EXPECT_EQ(subject, QStringLiteral("サーバーダウンの可能性"));
        EXPECT_EQ(name, QStringLiteral("Pulsewatch"));
        EXPECT_EQ(closing, QStringLiteral("以上サーバーダウンの可能性がありますご検証ください。"));
        EXPECT_EQ(from, QStringLiteral("P/L/W(Pulsewatch)"));
        return true;
    }
    void GoToTelephone(const QString& n, const QString& port, const QString& s) override {
        record(QStringLiteral("tel %1 %2 %3").arg(n, port, s));
    }
    void showEmergencyWindow() override {
        record(QStringLiteral("window"));
        if (duringWindow)
            duringWindow();
    }
};

// Records each pause among the alarm calls, where it falls; a pause ends
// early when the program is ending.
class SequencedSleeper : public platform::Sleeper {
public:
    SequencedSleeper(RecordingAlarms& alarms, const platform::Ending& ending)
        : m_alarms(alarms), m_ending(ending) {}
    bool sleepMs(int ms) override {
        m_alarms.record(QStringLiteral("sleep %1").arg(ms));
        return !m_ending.requested();
    }

private:
    RecordingAlarms& m_alarms;
    const platform::Ending& m_ending;
};

class AlarmDispatchTest : public ::testing::Test {
protected:
    testsupport::TestFolder folder;
    AppState state{folder.folder()};
    testsupport::FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30))};
    events::EventLog log{state, clock};
    monitor::MonitorCycle cycle{state, log};
    RecordingAlarms alarms;
    platform::Ending ending;
    SequencedSleeper sleeper{alarms, ending};
    monitor::AlarmDispatch dispatch{state, cycle, log, alarms, sleeper, ending};

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
};

const QString kTel1 = QStringLiteral("tel 0312345678 1 9600,N,8,1");
const QString kTel2 = QStringLiteral("tel 09011112222 1 9600,N,8,1");

} // namespace

TEST_F(AlarmDispatchTest, OnALanAServerDownRaisesMailsCallsAndTheWindow) {
    cycleWith(0, true);
    EXPECT_EQ(alarms.calls, (QStringList{QStringLiteral("mail mail.example.jp ops@example.jp"),
                                         QStringLiteral("mail mail.example.jp boss@example.jp"),
                                         kTel1, kTel2, QStringLiteral("window")}));
}

TEST_F(AlarmDispatchTest, WithoutALanMailsGoBeforeTheHangUpAndCallsAfterIt) {
    state.USED_LAN = 0;
    cycleWith(0, false); // the last server probed was down: the pause applies
    EXPECT_EQ(alarms.calls, (QStringList{QStringLiteral("dial isp user secret"),
                                         QStringLiteral("mail mail.example.jp ops@example.jp"),
                                         QStringLiteral("mail mail.example.jp boss@example.jp"),
                                         QStringLiteral("hangup"), QStringLiteral("sleep 5000"),
                                         kTel1, kTel2, QStringLiteral("window")}));

    alarms.calls.clear();
    cycleWith(0, true); // an earlier server was down, the last one answered
    EXPECT_EQ(alarms.calls,
              (QStringList{QStringLiteral("dial isp user secret"),
                           QStringLiteral("mail mail.example.jp ops@example.jp"),
                           QStringLiteral("mail mail.example.jp boss@example.jp"),
                           QStringLiteral("hangup"), kTel1, kTel2, QStringLiteral("window")}));
}

// Whether a cycle dialled is settled at the dial: ticking or unticking
// Used-LAN while the cycle probes neither leaves its link up for ever nor
// hangs up (and waits for) a link that was never dialled.
TEST_F(AlarmDispatchTest, TheDialDecidesTheHangUpWhateverUsedLanBecomes) {
    const QString dial = QStringLiteral("dial isp user secret");
    const QString mail1 = QStringLiteral("mail mail.example.jp ops@example.jp");
    const QString mail2 = QStringLiteral("mail mail.example.jp boss@example.jp");
    const QString hangup = QStringLiteral("hangup");
    const QString window = QStringLiteral("window");
    struct Case {
        qint16 atDial, atAlarm, allUp;
        QStringList expected;
    };
    const Case cases[] = {
        {0, 1, -1, {dial, hangup}},
        {0, 1, 0, {dial, mail1, mail2, hangup, QStringLiteral("sleep 5000"), kTel1, kTel2, window}},
        {1, 0, -1, {}},
        {1, 0, 0, {mail1, mail2, kTel1, kTel2, window}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("USED_LAN %1 then %2, all up %3")
                         .arg(c.atDial)
                         .arg(c.atAlarm)
                         .arg(c.allUp)
                         .toStdString());
        alarms.calls.clear();
        state.USED_LAN = c.atDial;
        ASSERT_TRUE(dispatch.dialupStep());
        state.USED_LAN = c.atAlarm; // the operator saved the dialog meanwhile
        state.AllServersUp = c.allUp;
        dispatch.alarmStep(false);
        EXPECT_EQ(alarms.calls, c.expected);
    }
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

// Once the program is told to end, whatever step is running when the end
// comes is the last: nothing more starts, a link that is up is still hung
// up, and a dial broken off by the end is no failure row.
TEST_F(AlarmDispatchTest, NothingStartsOnceTheProgramIsEnding) {
    const QString dial = QStringLiteral("dial isp user secret");
    const QString mail1 = QStringLiteral("mail mail.example.jp ops@example.jp");
    const QString mail2 = QStringLiteral("mail mail.example.jp boss@example.jp");
    const QString hangup = QStringLiteral("hangup");
    const QString pause = QStringLiteral("sleep 5000");
    const struct {
        QString endAt;
        bool dialSucceeds;
        QStringList calls;
    } cases[] = {
        {dial, false, {dial}},
        {dial, true, {dial, hangup}},
        {mail1, true, {dial, mail1, hangup}},
        {pause, true, {dial, mail1, mail2, hangup, pause}},
        {kTel1, true, {dial, mail1, mail2, hangup, pause, kTel1}},
    };
    state.USED_LAN = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endAt.toStdString());
        platform::Ending end;
        SequencedSleeper pauses{alarms, end};
        monitor::AlarmDispatch ending{state, cycle, log, alarms, pauses, end};
        alarms.calls.clear();
        alarms.dialSucceeds = c.dialSucceeds;
        alarms.onCall = [&](const QString& call) {
            if (call == c.endAt)
                end.request();
        };
        if (ending.dialupStep()) {
            state.AllServersUp = 0;
            ending.alarmStep(false);
        }
        EXPECT_EQ(alarms.calls, c.calls);
        EXPECT_EQ(eventRows(state.DatabasePath), QStringList());
    }
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
