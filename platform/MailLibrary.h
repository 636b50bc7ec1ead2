#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

/// Where a mail goes out and how: the relay, its port, the security mode
/// and the login.
struct MailRelay {
    QString server;      ///< host, or host:port (that port wins over port)
    QString port;        ///< "" (or no port) for the mode's usual one: 25, 587, 465
    qint16 security = 0; ///< 0 plain, 1 STARTTLS, 2 TLS from the first byte
    QString user;        ///< SMTP AUTH login; "" for none
    QString password;
    QString caFile; ///< "" for the system's CA store
    /// The sender address (MAIL FROM and From); "" for the login when it is
    /// an address, else the mail's own from.
    QString from;

    /// The port a relay of that security mode listens on when none is set.
    static int usualPort(qint16 security) { return security == 2 ? 465 : security == 1 ? 587 : 25; }
};

/// One mail to send: what the composer is given.
struct MailText {
    QString subject, to, realName, body, from;
};

/// libmailwire.so in folder (with its trailing "/").
QString mailLibraryIn(const QString& folder);

class Ending;

/// Sends one mail through the mail library at libraryPath, loaded at run
/// time: "" when the server accepted it, otherwise the library's
/// ErrorMessage (or why the library could not be used). The sender is the
/// relay's from, else a login that is a mail address (submission servers
/// refuse other senders), else the mail's from when it is an address, else
/// pulsewatch@ this machine's fully qualified name. timeoutMs > 0 sets the
/// library's wait per step; totalMs > 0 bounds the whole send, lookup,
/// connection, TLS, login and QUIT included (a relay that never answers
/// costs at most that). With ending, the send ends within about 100 ms of
/// the program's end, as "??? 9013 Ended by the program ...". A login over
/// plain SMTP goes to any relay, as the settings say: the operator chose
/// security 0 for it.
QString sendMail(const QString& libraryPath, const MailRelay& relay, const MailText& mail,
                 int timeoutMs = 0, int totalMs = 0, const Ending* ending = nullptr);

} // namespace platform
