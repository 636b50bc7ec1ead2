#include "monitor/MonitorCycle.h"

#include "monitor/OutcomeLine.h"
#include "probe/C_PING.h"
#include "settings/NumericText.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace monitor {

namespace {
const QString kUnresolvable = QStringLiteral("コンピュータ名またはIPアドレスが不正です。");
constexpr qint32 kProbeError = 11;
} // namespace

MonitorCycle::MonitorCycle(AppState& state, EventLog& log) : m_state(state), m_log(log) {}

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
    if (m_steps.dialupStep && !m_steps.dialupStep())
        return;

    m_state.AllServersUp = -1;
    const double retrySetting = settings::numericValue(m_state.RETRY);
    const int retries = retrySetting > kMaxRetries ? kMaxRetries
                        : retrySetting > 0         ? static_cast<int>(std::ceil(retrySetting))
                                                   : 0;
    bool result = false;
    // The count is read once: the server list editor may change the table
    // while a probe yields, and the slots stay valid whatever it does.
    const int count = m_state.serverCount();
    for (int i = 1; i <= count; ++i) {
        ServerEntry& server = m_state.Servers[i];
        if (server.Name.isEmpty() || server.Check != 1)
            continue;
        const QString name = server.Name;
        result = SendServer(name);
        for (int retry = 0; !result && retry < retries; ++retry)
            result = SendServer(name);
        if (result) {
            server.Status = 1;
        } else {
            server.Status = -1;
            m_state.AllServersUp = 0;
        }
        server.Message = m_state.LastProbeText;
        m_log.LOG_PRINT(name, server.Message, server.Status);
    }

    if (m_steps.alarmStep)
        m_steps.alarmStep(result);
}

bool MonitorCycle::SendServer(const QString& name) {
    m_state.LastProbeCode = 0;
    m_state.LastProbeText.clear();
    try {
        C_PING ping;
        ping.onPing([this](qint32 lngCode, const QString& strCode, const QString& strHostName,
                           const QString& strIPAddress, qint32 lngBytes, qint32 lngRTT,
                           qint32 lngTTL) {
            cPING_Ping(lngCode, strCode, strHostName, strIPAddress, lngBytes, lngRTT, lngTTL);
        });
        ping.setCharsPackets(32);
        ping.setTimeout(5);
        ping.setPackets(1);
        ping.setTTL(255);
        if (!ping.Ping(name)) {
            m_state.LastProbeCode = -1;
            m_state.LastProbeText = kUnresolvable;
        }
    } catch (const std::exception& e) {
        m_state.LastProbeCode = kProbeError;
        m_state.LastProbeText = QString::fromLocal8Bit(e.what());
    }
    return m_state.LastProbeCode == 0;
}

void MonitorCycle::cPING_Ping(qint32 lngCode, const QString& strCode, const QString& strHostName,
                              const QString& strIPAddress, qint32 lngBytes, qint32 lngRTT,
                              qint32 lngTTL) {
    m_state.LastProbeCode = lngCode;
    m_state.LastProbeText =
        outcomeLine(lngCode, strCode, strHostName, strIPAddress, lngBytes, lngRTT, lngTTL);
    if (m_probeListener)
        m_probeListener(lngCode);
}

} // namespace monitor
