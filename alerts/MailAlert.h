#pragma once

#include "alerts/Alarms.h"
#include "platform/Clock.h"
#include "platform/MailLibrary.h"
#include "settings/AppState.h"

#include <QDeadlineTimer>
#include <QString>

namespace alerts {

using platform::MailRelay;
using platform::MailText;

/// The server-down report mail, sent through the mail library that the
/// program loads at run time from its own folder.
class MailAlert {
public:
    /// libraryPath "" means libmailwire.so in the program folder.
    MailAlert(const AppState& state, const platform::Clock& clock, QString libraryPath = QString());

    /// Sends one report to strTo. Arguments as the alarm dispatch passes
    /// them: mail server, subject, recipient, sender display name, closing
    /// text, sender address; port, security and login come from the
    /// settings. True when the library reported no error; every step runs
    /// even when an earlier one failed, and a library that cannot be loaded
    /// gives false. The mail gives up at until; with no time left it is
    /// not tried at all.
    bool SendEmail(const QString& strServer, const QString& strSubject, const QString& strTo,
                   const QString& strRealName, const QString& strClosing, const QString& strFrom,
                   const QDeadlineTimer& until = QDeadlineTimer(QDeadlineTimer::Forever));

    /// The recovery notice to strTo ("サーバー復旧"): the servers that answer
    /// again, with since when they were down and for how long. Sent and
    /// bounded as SendEmail.
    bool SendRecovery(const QString& strServer, const QString& strTo,
                      const QList<Recovered>& servers, const QDateTime& now,
                      const QDeadlineTimer& until);

    /// The recovery notice's text, in the form of the down report.
    static QString recoveryBody(const QList<Recovered>& servers, const QDateTime& now);

    /// What the library said about the last mail ("" after success), for
    /// diagnostics.
    QString lastError() const { return m_lastError; }

    /// How long the library waits for the server at each step, in ms
    /// (0: the library's own default).
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    /// A mail under way ends at once when the program is told to end.
    void setEnding(const platform::Ending* ending) { m_ending = ending; }

    /// The report: title, time block, one block per watched server that is
    /// down, the closing separator and the closing text (no final line end).
    static QString reportBody(const AppState& state, const QDateTime& now, const QString& closing);

    /// The relay of the EMARGE_* settings in state, reached at server.
    static MailRelay relayFromSettings(const AppState& state, const QString& server);

    /// libmailwire.so in the program folder of state.
    static QString libraryIn(const AppState& state);

private:
    bool send(const QString& server, const MailText& mail, const QDeadlineTimer& until);

    const AppState& m_state;
    const platform::Clock& m_clock;
    QString m_libraryPath;
    QString m_lastError;
    int m_timeoutMs = 0;
    const platform::Ending* m_ending = nullptr;
};

} // namespace alerts
