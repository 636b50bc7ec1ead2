#include "alerts/AlarmSet.h"

#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"
#include "support/FakeWindowSystem.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class AlarmSetTest : public ::testing::Test {
protected:
    TestFolder folder;
    AppState state{folder.folder()};
    FakeWindowSystem ui;
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30))};
    FakeSoundPlayer sound;
    RecordingSleeper sleeper;
    platform::Ending ending;
    platform::Services services{ui, clock, sound, sleeper, ending};
    FakeRemoteAccess ras;
    events::EventLog log{state, clock};
    alerts::AlarmSet alarms{state, services, log, ras};

    void SetUp() override { ras.entries = {QStringLiteral("isp")}; }
};

} // namespace

TEST_F(AlarmSetTest, TheHeldConnectionLivesFromDialToHangUp) {
    EXPECT_TRUE(alarms.Dialup(QStringLiteral("isp"), QStringLiteral("u"), QStringLiteral("p")));
    ASSERT_NE(alarms.held(), nullptr);
    EXPECT_EQ(alarms.held()->Connection(), 100);
    EXPECT_EQ(ras.dials.last().user, QStringLiteral("u"));
    EXPECT_EQ(ras.dials.last().password, QStringLiteral("p"));
    EXPECT_TRUE(ras.dials.last().phone.isNull()) << "the alert dials the entry's own number";
    EXPECT_TRUE(ras.dialPhoneBooks.last().isNull()) << "and the default phone book";
    alarms.hangUp();
    EXPECT_EQ(alarms.held(), nullptr);
    EXPECT_TRUE(ras.calls.contains(QStringLiteral("hangUp 100")));
    EXPECT_TRUE(ras.connections.isEmpty());
}

TEST_F(AlarmSetTest, AFailedDialKeepsTheObjectAndASecondDialReplacesIt) {
    EXPECT_FALSE(alarms.Dialup(QStringLiteral("not-in-the-book"), QString(), QString()));
    ASSERT_NE(alarms.held(), nullptr);
    EXPECT_EQ(alarms.held()->Connection(), 0);

    EXPECT_TRUE(alarms.Dialup(QStringLiteral("isp"), QString(), QString()));
    EXPECT_TRUE(alarms.Dialup(QStringLiteral("isp"), QString(), QString()));
    // The first link was left as it was, not hung up, when it was replaced.
    EXPECT_EQ(ras.connections.size(), 2);
    EXPECT_EQ(alarms.held()->Connection(), 101);
}

TEST_F(AlarmSetTest, TheEmergencyWindowIsShownOnceAndRefreshedWhileOpen) {
    state.EMARGE_SOUND = QStringLiteral("/snd/alarm.wav");
    state.SERVER_CNT = 2;
    state.Servers[1] = {QStringLiteral("db1"), QStringLiteral("timeout"), QString(), 1, -1};
    alarms.showEmergencyWindow();
    ASSERT_NE(alarms.emergencyWindow(), nullptr);
    EXPECT_EQ(ui.modelessShown, QList<QString>{QStringLiteral("EmargMSG")});
    EXPECT_TRUE(sound.playing);

    state.Servers[1].Status = 1;
    state.Servers[2] = {QStringLiteral("db2"), QString(), QString(), 1, -1};
    alarms.showEmergencyWindow();
    EXPECT_EQ(ui.modelessShown.size(), 1) << "shown a second time";
    EXPECT_EQ(sound.started, QList<QString>{QStringLiteral("/snd/alarm.wav")});
    EXPECT_EQ(alarms.emergencyWindow()->listText(), QStringLiteral("【db2】 - 原因不明\r\n"));

    alarms.emergencyWindow()->close();
    EXPECT_FALSE(sound.playing) << "the sound outlived its window";
}
