#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

/// Debian's OpenSMTPD (smtpd -d -f CONF) on a free loopback port for one
/// test, delivering every mail to a maildir the test reads. It runs in a
/// mount namespace of its own (a private /run and queue), so it neither
/// meets the machine's MTA nor another test's smtpd. Root only.
class OpenSmtpd {
public:
    OpenSmtpd();
    ~OpenSmtpd();
    OpenSmtpd(const OpenSmtpd&) = delete;
    OpenSmtpd& operator=(const OpenSmtpd&) = delete;

    /// Why the server could not start ("" when it runs): not root, not
    /// installed, or smtpd's own words.
    QString failure() const { return m_failure; }
    quint16 port() const { return m_port; }
    /// The delivered mails, oldest first, as OpenSMTPD wrote them (with its
    /// Return-Path, Delivered-To and Received fields on top); waits up to
    /// waitMs for at least count of them, since delivery follows the
    /// server's 250 by a moment.
    QList<QByteArray> messages(int count = 0, int waitMs = 10000) const;
    /// What smtpd printed so far (its log, in -d mode).
    QString log();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_failure;
    QByteArray m_log;
};

/// The value of a header field of a raw mail ("" when absent), unfolded.
QString headerField(const QByteArray& raw, const QByteArray& name);

} // namespace testsupport
