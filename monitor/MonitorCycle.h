#pragma once

#include "monitor/EventLog.h"
#include "settings/AppState.h"

#include <QString>

#include <functional>

namespace monitor {

/// The two steps of a cycle that belong to the alarm dispatch. Until it is
/// plugged in, the dial-up step lets every cycle go on and the alarm step
/// does nothing.
struct AlarmSteps {
    /// Runs before the first probe; false ends the cycle at once (the
    /// dial-up failed and was recorded).
    std::function<bool()> dialupStep;
    /// Runs after the last row; lastResult is the result of the most recent
    /// SendServer of the cycle.
    std::function<void(bool lastResult)> alarmStep;
};

/// The monitoring cycle of the tray window: counts Timer1's ticks towards
/// mINTERVAL, probes every watched server (with retries), records one row
/// per server and hands over to the alarm dispatch.
class MonitorCycle {
public:
    /// Extra probes of a failing server are capped here: each waits up to
    /// half a second, and a RETRY of thousands would keep the cycle, and
    /// with it every alarm, from ever finishing.
    static constexpr int kMaxRetries = 10;

    MonitorCycle(AppState& state, EventLog& log);

    void setAlarmSteps(AlarmSteps steps) { m_steps = std::move(steps); }

    /// Called with the code of every probe event (tests count probes).
    void setProbeListener(std::function<void(qint32 lngCode)> listener) {
        m_probeListener = std::move(listener);
    }

    /// The tick handler of Timer1. A tick that arrives while a cycle is
    /// running (probes yield to the event loop) is dropped: cycles never nest.
    void Timer1_Timer();

    /// Probes one host; true when it answered the echo with status 0.
    /// LastProbeCode and LastProbeText describe the outcome.
    bool SendServer(const QString& name);

    /// Handler of the probe's Ping event: turns one outcome into
    /// LastProbeCode and LastProbeText.
    void cPING_Ping(qint32 lngCode, const QString& strCode, const QString& strHostName,
                    const QString& strIPAddress, qint32 lngBytes, qint32 lngRTT, qint32 lngTTL);

    /// Ticks counted towards mINTERVAL: 1 after start-up and after each cycle.
    qint16 IntervalCount = 1;

    bool cycleRunning() const { return m_running; }

private:
    void runCycle();

    AppState& m_state;
    EventLog& m_log;
    AlarmSteps m_steps;
    std::function<void(qint32)> m_probeListener;
    bool m_running = false;
};

} // namespace monitor
