#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QProcess>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

/// A real SMTP server (Debian's aiosmtpd) on a free loopback port, for one
/// test; it keeps every message it receives.
class SmtpSink {
public:
    struct Message {
        QString mailFrom;
        QString rawMailFrom; // the MAIL FROM argument as sent ("FROM:<...>")
        QStringList rcptTos;
        QByteArray data;
    };

    /// What the server refuses besides nothing at all.
    enum class Checks {
        None,
        /// Postfix's reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname
        /// and reject_non_fqdn_sender, applied at RCPT TO as Postfix does
        /// ("504 5.5.2 <127.0.0.1>: Helo command rejected: need
        /// fully-qualified hostname").
        PostfixHeloAndSender,
    };

    /// prefix runs the server through another command, such as
    /// {"ip", "netns", "exec", NS} to put it in a namespace.
    explicit SmtpSink(const QStringList& prefix = {}, Checks checks = Checks::None);
    explicit SmtpSink(Checks checks) : SmtpSink(QStringList(), checks) {}
    ~SmtpSink();
    /// Why the server could not start ("" when it runs).
    QString failure() const { return m_failure; }
    quint16 port() const { return m_port; }
    QList<Message> messages() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_failure;
};

/// Submission relays (aiosmtpd behind TLS, with a login) on free loopback
/// ports, with their own throw-away CA: see tls_smtp.py for the kinds
/// ("starttls", "tls", "loginonly", "plain", "wronghost", "unknownca").
class TlsRelays {
public:
    struct Event {
        QString server, event; // "MAIL" (every MAIL FROM seen) or "DATA" (a mail taken)
        QString mailFrom;
        QByteArray data;
    };

    TlsRelays(const QString& user, const QString& password);
    ~TlsRelays();
    QString failure() const { return m_failure; }
    quint16 port(const char* kind) const { return m_ports.value(QLatin1String(kind)); }
    /// The CA file that the relays' certificates chain to.
    QString caFile() const { return m_caFile; }
    /// A certificate file with no CA of the relays in it.
    QString rogueCaFile() const { return m_dir.filePath(QStringLiteral("rogue-ca.pem")); }
    QList<Event> events() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QHash<QString, quint16> m_ports;
    QString m_caFile;
    QString m_failure;
};

/// A folder with a throw-away CA (ca.pem) and server certificates made by
/// openssl: good.pem/.key for localhost and 127.0.0.1, wronghost.pem for
/// another name. Made once per test program; "" when openssl failed.
QString testCertificates();

/// A TLS server configuration with the certificate good.pem.
QSslConfiguration serverTls();

/// Python's email package's reading of a raw message: subject, from, to,
/// cc, bcc, charset and body, decoded; the From field's display names,
/// Message-ID and Date as they stand. Empty on failure.
struct DecodedMail {
    QString subject, from, to, cc, bcc, charset, body;
    QStringList fromNames;
    QString messageId, date;
    QString error;
};
DecodedMail decodeWithPython(const QByteArray& raw);

} // namespace testsupport
