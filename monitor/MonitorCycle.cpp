#include "monitor/MonitorCycle.h"

#include "monitor/OutcomeLine.h"
#include "platform/NumericText.h"
#include "probe/C_PING.h"
#include "probe/HostLookup.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace monitor {

namespace {
const QString kUnresolvable = QStringLiteral("コンピュータ名またはIPアドレスが不正です。");
constexpr qint32 kProbeError = 11;
} // namespace

MonitorCycle::MonitorCycle(AppState& state, events::EventLog& log) : m_state(state), m_log(log) {}

void MonitorCycle::Timer1_Timer() {
    if (m_running)
        return;
    ++IntervalCount;
    if (IntervalCount < m_state.mINTERVAL)
        return;
    m_running = true;
    runCycle();
    IntervalCount = 1;
    m_running = false;
}

// One watched server through the cycle.
struct MonitorCycle::Server {
    int slot;
    qsizetype index; ///< of its name in the cycle's lookup
    QString name;
    C_PING::Outcome last; ///< of its latest probe
    QString error;        ///< what went wrong while probing (code 11)
    bool settled = false; ///< answered, or failed with no retry left
    qint32 code() const { return !error.isEmpty() ? kProbeError : last.resolved ? last.code : -1; }
};

void MonitorCycle::runCycle() {
    m_log.writeWaitingRows();
    if (m_steps.dialupStep && !m_steps.dialupStep())
        return;
    if (ended())
        return;

    m_state.AllServersUp = -1;
    const double retrySetting = platform::numericValue(m_state.RETRY);
    const int retries = retrySetting > kMaxRetries ? kMaxRetries
                        : retrySetting > 0         ? static_cast<int>(std::ceil(retrySetting))
                                                   : 0;
    // The table is read once: the server list editor may change it while
    // the probes wait, and the slots stay valid whatever it does.
    std::vector<Server> watched;
    QStringList names;
    const int count = m_state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& server = m_state.Servers[i];
        if (!server.Name.isEmpty() && server.Check == 1) {
            watched.push_back({i, names.size(), server.Name, {}, {}, false});
            names << server.Name;
        }
    }

    static const platform::Ending never;
    const platform::Ending& ending = m_ending ? *m_ending : never;
    C_PING ping;
    ping.setCharsPackets(32);
    ping.setTimeout(kReplyWaitMs);
    ping.setPackets(1);
    ping.setTTL(255);
    ping.setEnding(m_ending);
    // Every name is looked up once per cycle, all at once; the retries use
    // what was found.
    probe::HostLookup lookup(names);
    bool abandoned = !lookup.waitForAddresses(ending);

    // Every server is probed once, all together; those that failed are
    // probed again together, up to RETRY more times each.
    std::vector<Server*> due;
    for (Server& s : watched)
        due.push_back(&s);
    for (int attempt = 0; attempt <= retries && !due.empty() && !abandoned; ++attempt)
        abandoned = !SendServers(ping, lookup, due, attempt == retries);
    // The outcome lines name each dotted address by its reverse name, which
    // may still be on its way; the lookup's bound holds for it too.
    if (!abandoned)
        abandoned = !lookup.waitForNames(ending);

    // Rows in slot order; the outcome of the last server stays in
    // LastProbeCode and LastProbeText, as if each were probed in turn.
    bool result = false;
    for (const Server& s : watched) {
        if (!s.settled)
            continue; // its probes were abandoned: nothing to record
        const C_PING::Outcome& o = s.last;
        const QString line = !s.error.isEmpty() ? s.error
                             : !o.resolved
                                 ? kUnresolvable
                                 : outcomeLine(o.code, o.strCode, lookup.host(s.index).hostName,
                                               o.ipAddress, o.bytes, o.rtt, o.ttl);
        ServerEntry& server = m_state.Servers[s.slot];
        result = s.code() == 0;
        if (result) {
            server.Status = 1;
        } else {
            server.Status = -1;
            m_state.AllServersUp = 0;
        }
        m_state.LastProbeCode = s.code();
        m_state.LastProbeText = line;
        server.Message = line;
        m_log.LOG_PRINT(s.name, server.Message, server.Status);
    }

    if (abandoned || ended())
        return;
    if (m_steps.alarmStep)
        m_steps.alarmStep(result);
}

// One request to each server of due at once; due keeps those that failed
// and may be probed again. False when the probe was abandoned.
bool MonitorCycle::SendServers(C_PING& ping, const probe::HostLookup& lookup,
                               std::vector<Server*>& due, bool lastAttempt) {
    std::vector<probe::Host> hosts;
    for (const Server* s : due)
        hosts.push_back(lookup.host(s->index));
    std::vector<C_PING::Outcome> outcomes;
    QString error;
    try {
        outcomes = ping.PingEach(hosts);
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
        outcomes.assign(due.size(), C_PING::Outcome{});
    }
    bool abandoned = false;
    std::vector<Server*> failed;
    for (size_t k = 0; k < due.size(); ++k) {
        Server& s = *due[k];
        if (error.isEmpty() && outcomes[k].abandoned) {
            abandoned = true;
            continue;
        }
        s.last = outcomes[k];
        s.error = error;
        if (m_probeListener)
            m_probeListener(s.code());
        if (s.code() == 0 || lastAttempt)
            s.settled = true;
        else
            failed.push_back(&s);
    }
    due = std::move(failed);
    return !abandoned;
}

} // namespace monitor
