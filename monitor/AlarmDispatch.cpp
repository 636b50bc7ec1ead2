#include "monitor/AlarmDispatch.h"

namespace monitor {
namespace {

const QString kSubject = QStringLiteral("サーバーダウンの可能性");
const QString kSenderName = QStringLiteral("Pulsewatch");
const QString kClosing = QStringLiteral("以上サーバーダウンの可能性がありますご検証ください。");
const QString kSenderAddress = QStringLiteral("P/L/W(Pulsewatch)");

bool complete(const QString& a, const QString& b, const QString& c) {
    return !a.isEmpty() && !b.isEmpty() && !c.isEmpty();
}

} // namespace

AlarmDispatch::AlarmDispatch(AppState& state, MonitorCycle& cycle, events::EventLog& log,
                             alerts::Alarms& alarms, platform::Sleeper& sleeper,
                             const platform::Ending& ending)
    : m_state(state), m_cycle(cycle), m_log(log), m_alarms(alarms), m_sleeper(sleeper),
      m_ending(ending) {}

AlarmSteps AlarmDispatch::steps() {
    return {[this] { return dialupStep(); }, [this](bool last) { alarmStep(last); }};
}

bool AlarmDispatch::dialupStep() {
    m_dialled = false;
    if (m_state.USED_LAN != 0)
        return true;
    if (m_alarms.Dialup(m_state.DIAL_ENTRY, m_state.DIAL_USER, m_state.DIAL_PWD)) {
        if (!m_ending.requested()) {
            m_dialled = true;
            return true;
        }
        // Up just as the program ends: nothing will use the link.
        m_alarms.hangUp();
    }
    m_cycle.IntervalCount = 1;
    // A dial the program's end broke off did not fail.
    if (m_ending.requested())
        return false;
    m_log.LOG_PRINT(QStringLiteral("DIAL UP"), QStringLiteral("ダイアルアップ接続に失敗。"), -1);
    return false;
}

void AlarmDispatch::alarmStep(bool lastResult) {
    // Settled at the dial: USED_LAN may have been changed in the dialog
    // while this cycle probed.
    const bool dialled = m_dialled;
    m_dialled = false;
    if (m_state.AllServersUp == -1) {
        if (dialled)
            m_alarms.hangUp();
        return;
    }
    if (!m_state.EMARGE_SERVER.isEmpty()) {
        const QDeadlineTimer mailStep(kMailStepMs);
        for (const QString& to : {m_state.EMARGE_MAIL, m_state.EMARGE_MAIL2})
            if (!to.isEmpty() && !m_ending.requested())
                m_alarms.SendEmail(m_state.EMARGE_SERVER, kSubject, to, kSenderName, kClosing,
                                   kSenderAddress, mailStep);
    }
    if (dialled) {
        m_alarms.hangUp();
        if (!lastResult && !m_ending.requested())
            m_sleeper.sleepMs(kHangUpPauseMs);
    }
    const QString numbers[] = {complete(m_state.TEL1, m_state.TEL2, m_state.TEL3)
                                   ? m_state.TEL1 + m_state.TEL2 + m_state.TEL3
                                   : QString(),
                               complete(m_state.TEL4, m_state.TEL5, m_state.TEL6)
                                   ? m_state.TEL4 + m_state.TEL5 + m_state.TEL6
                                   : QString()};
    for (const QString& number : numbers)
        if (!number.isEmpty() && !m_ending.requested())
            m_alarms.GoToTelephone(number, m_state.COMPORT, m_state.COMSETTING);
    if (!m_ending.requested())
        m_alarms.showEmergencyWindow();
}

} // namespace monitor
