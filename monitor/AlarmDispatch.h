#pragma once

#include "monitor/EventLog.h"
#include "monitor/MonitorCycle.h"
#include "platform/Ending.h"
#include "platform/Sleeper.h"
#include "settings/AppState.h"

#include <QDeadlineTimer>
#include <QString>

namespace monitor {

/// The alarms and the dial-up connection a cycle raises, as the dispatch
/// sees them; the real ones live in alerts/, tests record the calls.
class Alarms {
public:
    virtual ~Alarms() = default;
    /// Dials the entry and holds the connection; true when it is up.
    virtual bool Dialup(const QString& Entry, const QString& User, const QString& Pwd) = 0;
    /// Hangs up the held connection and releases it.
    virtual void hangUp() = 0;
    /// Sends one alarm mail, giving up at until (the mail step's share of
    /// the cycle, which both recipients use up together).
    virtual bool SendEmail(const QString& server, const QString& subject, const QString& to,
                           const QString& realName, const QString& closing, const QString& from,
                           const QDeadlineTimer& until) = 0;
    virtual void GoToTelephone(const QString& TEMP, const QString& PORT,
                               const QString& C_Setting) = 0;
    /// Shows the emergency window, or refreshes its list when it is still
    /// open from an earlier cycle; returns at once, so the watch goes on
    /// while it is open.
    virtual void showEmergencyWindow() = 0;
};

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

    AlarmDispatch(AppState& state, MonitorCycle& cycle, EventLog& log, Alarms& alarms,
                  platform::Sleeper& sleeper, const platform::Ending& ending);

    /// The two steps, for MonitorCycle::setAlarmSteps.
    AlarmSteps steps();

    bool dialupStep();
    void alarmStep(bool lastResult);

private:
    AppState& m_state;
    MonitorCycle& m_cycle;
    EventLog& m_log;
    Alarms& m_alarms;
    platform::Sleeper& m_sleeper;
    const platform::Ending& m_ending;
    bool m_dialled = false; // this cycle's dial-up step opened a link
};

} // namespace monitor
