#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
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

    /// prefix runs the server through another command, such as
    /// {"ip", "netns", "exec", NS} to put it in a namespace.
    explicit SmtpSink(const QStringList& prefix = {});
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

/// Python's email package's reading of a raw message: subject, from, to,
/// cc, bcc, charset and body, decoded. Empty on failure.
struct DecodedMail {
    QString subject, from, to, cc, bcc, charset, body;
    QString error;
};
DecodedMail decodeWithPython(const QByteArray& raw);

} // namespace testsupport
