#pragma once

#include "events/EventLog.h"
#include "monitor/MonitorCycle.h"
#include "probe/IcmpSocket.h"
#include "settings/Settings.h"
#include "support/TestFolder.h"

#include <QList>

/// A monitoring cycle over a test folder with a real event database, with
/// the alarm steps and the probe events recorded.
class CycleFixture {
public:
    testsupport::TestFolder folder;
    AppState state{folder.folder()};
    testsupport::FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30))};
    events::EventLog log{state, clock};
    monitor::MonitorCycle cycle{state, log};

    QList<qint32> probeCodes;
    QList<bool> alarmCalls;     // lastResult of each alarm step
    QList<qint16> allUpAtAlarm; // AllServersUp as the alarm step saw it
    bool dialupSucceeds = true;
    int dialups = 0;

    CycleFixture() {
        cycle.setProbeListener([this](qint32 code) { probeCodes << code; });
        cycle.setAlarmSteps({[this] {
                                 ++dialups;
                                 return dialupSucceeds;
                             },
                             [this](bool lastResult) {
                                 alarmCalls << lastResult;
                                 allUpAtAlarm << state.AllServersUp;
                             }});
    }

    void server(int slot, const QString& name, qint16 check) {
        state.Servers[slot].Name = name;
        state.Servers[slot].Check = check;
        state.SERVER_CNT = std::max<qint16>(state.SERVER_CNT, static_cast<qint16>(slot));
    }

    static bool icmpAvailable() {
        probe::IcmpSocket s;
        return s.open(nullptr);
    }
};
