#pragma once

#include "alerts/Alarms.h"
#include "events/EventLog.h"
#include "monitor/MonitorCycle.h"
#include "platform/Clock.h"
#include "platform/Ending.h"
#include "platform/Sleeper.h"
#include "settings/AppState.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>
#include <QString>

namespace monitor {

/// Opens the dial-up connection before a cycle's probes when there is no
/// LAN, and raises the alarms in their fixed order after them: mails,
/// hang-up, telephone calls, the emergency window. Once the program is told
/// to end, nothing more is started and nothing given up is recorded.
class AlarmDispatch {
public:
    /// The pause after hanging up when the last server probed was down.
    static constexpr int kHangUpPauseMs = 5000;
    /// All the alarm mails of a cycle together, however the relay behaves:
    /// a relay that never answers must not hold back the telephone and the
    /// window by more.
    static constexpr int kMailStepMs = 15000;
    /// All the webhook posts of a cycle together, likewise.
    static constexpr int kNoticeStepMs = 10000;

    AlarmDispatch(AppState& state, MonitorCycle& cycle, events::EventLog& log,
                  alerts::Alarms& alarms, platform::Sleeper& sleeper,
                  const platform::Ending& ending, const platform::Clock& clock);

    /// The two steps, for MonitorCycle::setAlarmSteps.
    AlarmSteps steps();

    bool dialupStep();
    void alarmStep(bool lastResult);

    /// Reads back from the event table since when each watched server has
    /// been down, so that a restart does not lose its outage.
    void restoreDownSince();

private:
    QList<alerts::Recovered> track();
    void recoveryNotices(const QList<alerts::Recovered>& recovered, const QDeadlineTimer& mailStep,
                         const QDeadlineTimer& noticeStep);

    AppState& m_state;
    MonitorCycle& m_cycle;
    events::EventLog& m_log;
    alerts::Alarms& m_alarms;
    platform::Sleeper& m_sleeper;
    const platform::Ending& m_ending;
    const platform::Clock& m_clock;
    QHash<QString, QDateTime> m_downSince; // watched servers down, by name
    bool m_dialled = false;                // this cycle's dial-up step opened a link
};

} // namespace monitor
