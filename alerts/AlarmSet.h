#pragma once

#include "alerts/Alarms.h"
#include "alerts/EmargMSG.h"
#include "alerts/MailAlert.h"
#include "alerts/Notices.h"
#include "alerts/Telephone.h"
#include "dialup/VBRas.h"
#include "platform/Services.h"

#include <QPointer>

#include <memory>

namespace alerts {

/// The real alarms of the tray window, and the dial-up object it holds
/// from a cycle's dial to that cycle's hang-up.
class AlarmSet : public Alarms {
public:
    AlarmSet(AppState& state, platform::Services& services, events::EventLog& log,
             dialup::RemoteAccessService& ras);

    bool Dialup(const QString& Entry, const QString& User, const QString& Pwd) override;
    void hangUp() override;
    ~AlarmSet() override;

    bool SendEmail(const QString& server, const QString& subject, const QString& to,
                   const QString& realName, const QString& closing, const QString& from,
                   const QDeadlineTimer& until) override;
    void GoToTelephone(const QString& TEMP, const QString& PORT, const QString& C_Setting) override;
    void showEmergencyWindow() override;
    void noticeDown(const QDeadlineTimer& until) override;
    bool SendRecoveryMail(const QString& server, const QString& to, const QList<Recovered>& servers,
                          const QDeadlineTimer& until) override;
    void noticeRecovery(const QList<Recovered>& servers, const QDeadlineTimer& until) override;

    /// The emergency window while it is open.
    EmargMSG* emergencyWindow() const { return m_window; }
    /// The dial-up object of the last Dialup, until the hang-up.
    VBRas* held() const { return m_held.get(); }
    MailAlert& mail() { return m_mail; }
    TelephoneAlert& telephone() { return m_phone; }

private:
    AppState& m_state;
    platform::Services& m_services;
    events::EventLog& m_log;
    dialup::RemoteAccessService& m_ras;
    MailAlert m_mail;
    TelephoneAlert m_phone;
    Notices m_notices;
    std::unique_ptr<VBRas> m_held;
    QPointer<EmargMSG> m_window;
};

} // namespace alerts
