#include "monitor/AlarmDispatch.h"

#include "support/TestFolder.h"

#include <QRegularExpression>
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
    void noticeDown(const QDeadlineTimer&) override { record(QStringLiteral("notice down")); }
    bool SendRecoveryMail(const QString& server, const QString& to,
                          const QList<alerts::Recovered>& servers, const QDeadlineTimer&) override {
        record(QStringLiteral("recovery mail %1 %2").arg(server, to));
        recovered << servers;
        return true;
    }
    void noticeRecovery(const QList<alerts::Recovered>& servers, const QDeadlineTimer&) override {
        record(QStringLiteral("notice recovery %1").arg(servers.size()));
    }
    QList<QList<alerts::Recovered>> recovered;
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
    monitor::AlarmDispatch dispatch{state, cycle, log, alarms, sleeper, ending, clock};

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
        monitor::AlarmDispatch ending{state, cycle, log, alarms, pauses, end, clock};
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

// A server the cycles found down and then answering again is told as
// recovered once, in the alarm step of the cycle that found it answering,
// after that cycle's down alarms, with the time of the cycle that first
// found it down. One whose retries got an answer was never down.
TEST_F(AlarmDispatchTest, ARecoveryIsToldOnceWithSinceWhenItWasDown) {
    state.RECOVERY_NOTICE = 1;
    state.SERVER_CNT = 2;
    state.Servers[1] = {QStringLiteral("db1"), QString(), QStringLiteral("本社"), 1, 0};
    state.Servers[2] = {QStringLiteral("db2"), QString(), QString(), 1, 0};
    const QDateTime t0(QDate(2026, 12, 7), QTime(22, 0));
    const struct {
        int minutes;
        qint16 db1, db2;
        QStringList calls;
    } cycles[] = {
        {0, -1, 1, {"mail", "mail", kTel1, kTel2, "window"}},
        {5, -1, 1, {"mail", "mail", kTel1, kTel2, "window"}},
        {77,
         1,
         -1,
         {"mail", "mail", "recovery mail", "recovery mail", "notice recovery 1", kTel1, kTel2,
          "window"}},
        {80, 1, 1, {"recovery mail", "recovery mail", "notice recovery 1"}},
        {85, 1, 1, {}},
    };
    for (const auto& c : cycles) {
        SCOPED_TRACE(c.minutes);
        alarms.calls.clear();
        clock.set(t0.addSecs(60 * c.minutes));
        state.Servers[1].Status = c.db1;
        state.Servers[2].Status = c.db2;
        cycleWith(c.db1 == 1 && c.db2 == 1 ? -1 : 0, true);
        for (QString& call : alarms.calls)
            call.replace(QRegularExpression(QStringLiteral("^(mail|recovery mail) .*")),
                         QStringLiteral("\\1"));
        EXPECT_EQ(alarms.calls, c.calls);
    }
    ASSERT_EQ(alarms.recovered.size(), 4);
    const alerts::Recovered& db1 = alarms.recovered[0].first();
    EXPECT_EQ(db1.name, QStringLiteral("db1"));
    EXPECT_EQ(db1.remark, QStringLiteral("本社"));
    EXPECT_EQ(db1.downSince, t0);
    EXPECT_EQ(db1.upAt, t0.addSecs(77 * 60));
    EXPECT_EQ(alarms.recovered[2].first().downSince, t0.addSecs(77 * 60));

    // Without the key nothing of it is sent.
    state.RECOVERY_NOTICE = 0;
    alarms.calls.clear();
    state.Servers[1].Status = -1;
    cycleWith(0, true);
    state.Servers[1].Status = 1;
    cycleWith(-1, true);
    EXPECT_FALSE(alarms.calls.join(QLatin1Char(' ')).contains(QStringLiteral("recovery")));
}

// After a restart the outage is read back from the event table: the first
// failure after the server's last answer.
TEST_F(AlarmDispatchTest, ARestartKeepsSinceWhenAServerIsDown) {
    for (const auto& [server, error] : {std::pair{"db1", 1}, {"db1", -1}, {"db2", -1}, {"db1", -1}})
        log.LOG_PRINT(QLatin1String(server), QStringLiteral("m"), static_cast<qint16>(error));
    const QStringList rows = eventRows(state.DatabasePath, true);
    state.RECOVERY_NOTICE = 1;
    state.SERVER_CNT = 2;
    state.Servers[1] = {QStringLiteral("db1"), QString(), QString(), 1, 1};
    state.Servers[2] = {QStringLiteral("db2"), QString(), QString(), 1, 1};
    dispatch.restoreDownSince();
    cycleWith(-1, true);
    ASSERT_EQ(alarms.recovered.size(), 2);
    ASSERT_EQ(alarms.recovered[0].size(), 2);
    EXPECT_EQ(alarms.recovered[0][0].downSince.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
              rows[1].section(QLatin1Char('|'), 0, 0));
    EXPECT_EQ(alarms.recovered[0][1].downSince.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
              rows[2].section(QLatin1Char('|'), 0, 0));
}
