#pragma once

#include "monitor/EventLog.h"
#include "monitor/MonitorCycle.h"
#include "platform/Sleeper.h"
#include "settings/AppState.h"

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
    virtual bool SendEmail(const QString& server, const QString& subject, const QString& to,
                           const QString& realName, const QString& closing,
                           const QString& from) = 0;
    virtual void GoToTelephone(const QString& TEMP, const QString& PORT,
                               const QString& C_Setting) = 0;
    /// Shows the emergency window modally; returns when it is closed.
    virtual void showEmergencyWindow() = 0;
};

/// Opens the dial-up connection before a cycle's probes when there is no
/// LAN, and raises the alarms in their fixed order after them: mails,
/// hang-up, telephone calls, the emergency window.
class AlarmDispatch {
public:
    /// The pause after hanging up when the last server probed was down.
    static constexpr int kHangUpPauseMs = 5000;

    AlarmDispatch(AppState& state, MonitorCycle& cycle, EventLog& log, Alarms& alarms,
                  platform::Sleeper& sleeper);

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
    bool m_dialled = false; // this cycle's dial-up step opened a link
};

} // namespace monitor
