#pragma once

#include "platform/Clock.h"
#include "settings/AppState.h"

#include <QString>

namespace alerts {

/// Where the alert mail goes out and how: the relay, its port, the
/// security mode and the login (the EMARGE_* settings).
struct MailRelay {
    QString server;      ///< host, or host:port (that port wins over port)
    QString port;        ///< "" (or no port) for the mode's usual one: 25, 587, 465
    qint16 security = 0; ///< 0 plain, 1 STARTTLS, 2 TLS from the first byte
    QString user;        ///< SMTP AUTH login; "" for none
    QString password;
    QString caFile; ///< "" for the system's CA store

    /// The relay of the settings in state, reached at server.
    static MailRelay fromSettings(const AppState& state, const QString& server);
    /// The port a relay of that security mode listens on when none is set.
    static int usualPort(qint16 security) { return security == 2 ? 465 : security == 1 ? 587 : 25; }
};

/// One mail to send: what the composer is given.
struct MailText {
    QString subject, to, realName, body, from;
};

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
    /// gives false.
    bool SendEmail(const QString& strServer, const QString& strSubject, const QString& strTo,
                   const QString& strRealName, const QString& strClosing, const QString& strFrom);

    /// What the library said about the last mail ("" after success), for
    /// diagnostics.
    QString lastError() const { return m_lastError; }

    /// How long the library waits for the server at each step, in ms
    /// (0: the library's own default).
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    /// The report: title, time block, one block per watched server that is
    /// down, the closing separator and the closing text (no final line end).
    static QString reportBody(const AppState& state, const QDateTime& now, const QString& closing);

    /// Sends one mail through the library at libraryPath: "" when the server
    /// accepted it, otherwise the library's ErrorMessage (or why the library
    /// could not be used). A relay login that is a mail address is the
    /// sender address too: submission servers refuse other senders.
    static QString send(const QString& libraryPath, const MailRelay& relay, const MailText& mail,
                        int timeoutMs = 0);

    /// libmailwire.so in the program folder of state.
    static QString libraryIn(const AppState& state);

private:
    const AppState& m_state;
    const platform::Clock& m_clock;
    QString m_libraryPath;
    QString m_lastError;
    int m_timeoutMs = 0;
};

} // namespace alerts
