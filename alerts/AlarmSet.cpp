#include "alerts/AlarmSet.h"

namespace alerts {

AlarmSet::AlarmSet(AppState& state, platform::Services& services, events::EventLog& log,
                   dialup::RemoteAccessService& ras)
    : m_state(state), m_services(services), m_log(log), m_ras(ras), m_mail(state, services.clock),
      m_phone(log, services.sleeper, services.ending), m_notices(state, log, services.ending) {
    m_mail.setEnding(&services.ending);
}

// The window's sound and its log are ours: it must not outlive them.
AlarmSet::~AlarmSet() {
    delete m_window.data();
}

bool AlarmSet::Dialup(const QString& Entry, const QString& User, const QString& Pwd) {
    // The new object replaces the held one; an earlier connection is not
    // hung up by that.
    m_held = std::make_unique<VBRas>(m_ras);
    m_held->setEntry(Entry);
    m_held->setUserID(User);
    m_held->setPassWord(Pwd);
    return m_held->Dialup() == 0;
}

void AlarmSet::hangUp() {
    if (!m_held)
        return;
    m_held->HangUp();
    m_held.reset();
}

bool AlarmSet::SendEmail(const QString& server, const QString& subject, const QString& to,
                         const QString& realName, const QString& closing, const QString& from,
                         const QDeadlineTimer& until) {
    return m_mail.SendEmail(server, subject, to, realName, closing, from, until);
}

void AlarmSet::GoToTelephone(const QString& TEMP, const QString& PORT, const QString& C_Setting) {
    m_phone.GoToTelephone(TEMP, PORT, C_Setting);
}

void AlarmSet::showEmergencyWindow() {
    // Shown once: a later cycle's findings go into the open window, whose
    // sound plays on.
    if (m_window) {
        m_window->refresh();
        return;
    }
    m_window = new EmargMSG(m_state, m_services.sound, m_log);
    m_window->setAttribute(Qt::WA_DeleteOnClose);
    m_services.ui.showModeless(*m_window);
}

void AlarmSet::noticeDown(const QDeadlineTimer& until) {
    m_notices.down(m_services.clock.now(), until);
}

bool AlarmSet::SendRecoveryMail(const QString& server, const QString& to,
                                const QList<Recovered>& servers, const QDeadlineTimer& until) {
    return m_mail.SendRecovery(server, to, servers, m_services.clock.now(), until);
}

void AlarmSet::noticeRecovery(const QList<Recovered>& servers, const QDeadlineTimer& until) {
    if (m_window)
        for (const Recovered& r : servers)
            m_window->markRecovered(r.name, r.upAt);
    m_notices.recovery(servers, until);
}

} // namespace alerts
