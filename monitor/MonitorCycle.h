#pragma once

#include "events/EventLog.h"
#include "platform/Ending.h"
#include "settings/AppState.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class C_PING;
namespace probe {
class HostLookup;
}

namespace monitor {

/// The two steps of a cycle that belong to the alarm dispatch. Until it is
/// plugged in, the dial-up step lets every cycle go on and the alarm step
/// does nothing.
struct AlarmSteps {
    /// Runs before the first probe; false ends the cycle at once (the
    /// dial-up failed and was recorded).
    std::function<bool()> dialupStep;
    /// Runs after the last row; lastResult says whether the last watched
    /// server in slot order answered (false when none is watched).
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

    /// How long a probe of the cycle waits for its reply. The cycle's probes
    /// are made with a 5 ms time-out; taken literally, every server further
    /// than 5 ms away, or on a busy link, would be reported down. An earlier
    /// reply ends the wait at once.
    static constexpr int kReplyWaitMs = 500;

    MonitorCycle(AppState& state, events::EventLog& log);

    void setAlarmSteps(AlarmSteps steps) { m_steps = std::move(steps); }

    /// The program's end. Every wait of the cycle (lookups, replies) ends
    /// with it, and the cycle is abandoned: no row for a server whose probes
    /// it did not finish, no alarm step. The rows of servers whose outcome
    /// was settled are still recorded.
    void setEnding(const platform::Ending* ending) { m_ending = ending; }

    /// Called with the outcome code of every probe of a server, in the order
    /// the probes were made (tests count probes).
    void setProbeListener(std::function<void(qint32 lngCode)> listener) {
        m_probeListener = std::move(listener);
    }

    /// The tick handler of Timer1. A tick that arrives while a cycle is
    /// running (probes yield to the event loop) is dropped: cycles never nest.
    void Timer1_Timer();

    /// Ticks counted towards mINTERVAL: 1 after start-up and after each cycle.
    qint16 IntervalCount = 1;

    bool cycleRunning() const { return m_running; }

private:
    struct Server;
    void runCycle();
    bool ended() const { return m_ending && m_ending->requested(); }
    bool SendServers(C_PING& ping, const probe::HostLookup& lookup, std::vector<Server*>& due,
                     bool lastAttempt);

    AppState& m_state;
    events::EventLog& m_log;
    AlarmSteps m_steps;
    const platform::Ending* m_ending = nullptr;
    std::function<void(qint32)> m_probeListener;
    bool m_running = false;
};

} // namespace monitor
