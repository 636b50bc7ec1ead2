#pragma once

#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

namespace alerts {

/// A watched server that answers again after cycles that found it down.
struct Recovered {
    QString name;
    QString remark;
    QDateTime downSince; ///< the cycle that first found it down
    QDateTime upAt;      ///< the cycle that found it answering
};

/// The alarms and the dial-up connection a cycle raises, as the dispatch
/// sees them; the real ones are AlarmSet, tests record the calls.
class Alarms {
public:
    virtual ~Alarms() = default;
    /// Dials the entry and holds the connection; true when it is up.
    virtual bool Dialup(const QString& Entry, const QString& User, const QString& Pwd) = 0;
    /// Hangs up the held connection and releases it.
    virtual void hangUp() = 0;
    /// Sends one alarm mail, giving up at until (the mail step's share of
    /// the cycle, which both recipients use up together).
    virtual bool SendEmail(const QString& server, const QString& subject, const QString& to,
                           const QString& realName, const QString& closing, const QString& from,
                           const QDeadlineTimer& until) = 0;
    virtual void GoToTelephone(const QString& TEMP, const QString& PORT,
                               const QString& C_Setting) = 0;
    /// Shows the emergency window, or refreshes its list when it is still
    /// open from an earlier cycle; returns at once, so the watch goes on
    /// while it is open.
    virtual void showEmergencyWindow() = 0;

    /// The down report through the notices beside the mail (webhook,
    /// desktop), each only where it is set up; the webhook gives up at until.
    virtual void noticeDown(const QDeadlineTimer& until) = 0;
    /// The recovery notice mail to one recipient, through the alarm mail's
    /// relay; gives up at until.
    virtual bool SendRecoveryMail(const QString& server, const QString& to,
                                  const QList<Recovered>& servers, const QDeadlineTimer& until) = 0;
    /// The recovery notice through the webhook and the desktop, each only
    /// where it is set up, and on the emergency window's lines while it is
    /// open.
    virtual void noticeRecovery(const QList<Recovered>& servers, const QDeadlineTimer& until) = 0;
};

} // namespace alerts
