#include "monitor/MonitorCycle.h"

#include "monitor/OutcomeLine.h"
#include "platform/NumericText.h"
#include "probe/C_PING.h"

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

void MonitorCycle::runCycle() {
    m_log.writeWaitingRows();
    if (m_steps.dialupStep && !m_steps.dialupStep())
        return;

    m_state.AllServersUp = -1;
    const double retrySetting = platform::numericValue(m_state.RETRY);
    const int retries = retrySetting > kMaxRetries ? kMaxRetries
                        : retrySetting > 0         ? static_cast<int>(std::ceil(retrySetting))
                                                   : 0;
    // The table is read once: the server list editor may change it while
    // the probes yield, and the slots stay valid whatever it does.
    struct Server {
        int slot;
        QString name;
        Probe last;
    };
    std::vector<Server> watched;
    const int count = m_state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& server = m_state.Servers[i];
        if (!server.Name.isEmpty() && server.Check == 1)
            watched.push_back({i, server.Name, {}});
    }

    // Every server is probed once, all together; those that failed are
    // probed again together, up to RETRY more times each.
    std::vector<Server*> due;
    for (Server& s : watched)
        due.push_back(&s);
    for (int attempt = 0; attempt <= retries && !due.empty(); ++attempt) {
        QStringList names;
        for (const Server* s : due)
            names << s->name;
        const std::vector<Probe> probes = SendServers(names);
        std::vector<Server*> failed;
        for (size_t k = 0; k < due.size(); ++k) {
            due[k]->last = probes[k];
            if (probes[k].code != 0)
                failed.push_back(due[k]);
        }
        due = std::move(failed);
    }

    // Rows in slot order; the outcome of the last server stays in
    // LastProbeCode and LastProbeText, as if each were probed in turn.
    bool result = false;
    for (const Server& s : watched) {
        ServerEntry& server = m_state.Servers[s.slot];
        result = s.last.code == 0;
        if (result) {
            server.Status = 1;
        } else {
            server.Status = -1;
            m_state.AllServersUp = 0;
        }
        m_state.LastProbeCode = s.last.code;
        m_state.LastProbeText = s.last.line;
        server.Message = s.last.line;
        m_log.LOG_PRINT(s.name, server.Message, server.Status);
    }

    if (m_steps.alarmStep)
        m_steps.alarmStep(result);
}

std::vector<MonitorCycle::Probe> MonitorCycle::SendServers(const QStringList& names) {
    std::vector<Probe> out(static_cast<size_t>(names.size()));
    try {
        C_PING ping;
        ping.setCharsPackets(32);
        ping.setTimeout(kReplyWaitMs);
        ping.setPackets(1);
        ping.setTTL(255);
        const std::vector<C_PING::Outcome> outcomes = ping.PingEach(names);
        for (size_t i = 0; i < out.size(); ++i) {
            const C_PING::Outcome& o = outcomes[i];
            if (!o.resolved)
                out[i] = {-1, kUnresolvable};
            else
                out[i] = {o.code, outcomeLine(o.code, o.strCode, o.hostName, o.ipAddress, o.bytes,
                                              o.rtt, o.ttl)};
        }
    } catch (const std::exception& e) {
        for (Probe& p : out)
            p = {kProbeError, QString::fromLocal8Bit(e.what())};
    }
    if (m_probeListener)
        for (const Probe& p : out)
            m_probeListener(p.code);
    return out;
}

} // namespace monitor
