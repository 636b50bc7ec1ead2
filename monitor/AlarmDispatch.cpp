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
                             const platform::Ending& ending, const platform::Clock& clock)
    : m_state(state), m_cycle(cycle), m_log(log), m_alarms(alarms), m_sleeper(sleeper),
      m_ending(ending), m_clock(clock) {}

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

// The watched servers down now, each with the cycle that first found it
// down; those found answering again are returned. A server whose retries
// got an answer within the cycle was never down.
QList<alerts::Recovered> AlarmDispatch::track() {
    const QDateTime now = m_clock.now();
    QList<alerts::Recovered> up;
    QHash<QString, QDateTime> down;
    const int count = m_state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& s = m_state.Servers[i];
        if (s.Check != 1 || s.Name.isEmpty())
            continue;
        const auto since = m_downSince.constFind(s.Name);
        if (s.Status == -1)
            down.insert(s.Name, since != m_downSince.cend() ? *since : now);
        else if (s.Status == 1 && since != m_downSince.cend())
            up.append({s.Name, s.Remark, *since, now});
    }
    m_downSince = std::move(down);
    return up;
}

void AlarmDispatch::restoreDownSince() {
    const int count = m_state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& s = m_state.Servers[i];
        if (s.Check != 1 || s.Name.isEmpty() || m_downSince.contains(s.Name))
            continue;
        bool readable = false;
        const QDateTime since = m_log.downSince(s.Name, &readable);
        // A store that cannot be read now is not asked again for each
        // server: the start must not wait on it.
        if (!readable)
            return;
        if (since.isValid())
            m_downSince.insert(s.Name, since);
    }
}

void AlarmDispatch::recoveryNotices(const QList<alerts::Recovered>& recovered,
                                    const QDeadlineTimer& mailStep,
                                    const QDeadlineTimer& noticeStep) {
    if (recovered.isEmpty() || m_state.RECOVERY_NOTICE != 1)
        return;
    if (!m_state.EMARGE_SERVER.isEmpty())
        for (const QString& to : {m_state.EMARGE_MAIL, m_state.EMARGE_MAIL2})
            if (!to.isEmpty() && !m_ending.requested())
                m_alarms.SendRecoveryMail(m_state.EMARGE_SERVER, to, recovered, mailStep);
    if (!m_ending.requested())
        m_alarms.noticeRecovery(recovered, noticeStep);
}

void AlarmDispatch::alarmStep(bool lastResult) {
    // Settled at the dial: USED_LAN may have been changed in the dialog
    // while this cycle probed.
    const bool dialled = m_dialled;
    m_dialled = false;
    const QList<alerts::Recovered> recovered = track();
    // Every mail of the cycle shares one budget, every webhook post another.
    const QDeadlineTimer mailStep(kMailStepMs);
    const QDeadlineTimer noticeStep(kNoticeStepMs);
    if (m_state.AllServersUp == -1) {
        recoveryNotices(recovered, mailStep, noticeStep);
        if (dialled)
            m_alarms.hangUp();
        return;
    }
    if (!m_state.EMARGE_SERVER.isEmpty()) {
        for (const QString& to : {m_state.EMARGE_MAIL, m_state.EMARGE_MAIL2})
            if (!to.isEmpty() && !m_ending.requested())
                m_alarms.SendEmail(m_state.EMARGE_SERVER, kSubject, to, kSenderName, kClosing,
                                   kSenderAddress, mailStep);
    }
    if ((!m_state.WEBHOOK_URL.isEmpty() || m_state.DESKTOP_NOTICE == 1) && !m_ending.requested())
        m_alarms.noticeDown(noticeStep);
    // Over the same link as the down report, before it is hung up.
    recoveryNotices(recovered, mailStep, noticeStep);
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
