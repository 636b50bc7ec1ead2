#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

/// A peer the tests start from a Python script of tests/support (Debian's
/// interpreter): it logs what it receives as JSON lines into a file of its
/// own, says its first line once it serves, and ends when its standard
/// input closes (at the latest with this object).
class PeerProcess {
public:
    /// Runs script with the log file's path and then args; waits for the
    /// first line of its output.
    PeerProcess(const QString& script, const QStringList& args,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    /// Why it does not run ("" when it does).
    QString failure() const { return m_failure; }
    /// Its first line of output ("PORT 41234", "READY").
    QString firstLine() const { return m_firstLine; }
    /// What it logged so far, one object a line.
    QList<QJsonObject> logged() const;
    /// Ends it now.
    void stop();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_firstLine;
    QString m_failure;
};

/// A chat webhook on a free loopback port (webhook_server.py).
class WebhookServer : public PeerProcess {
public:
    /// extra: "--status", "404", "--silent"; with tls a certificate for
    /// 127.0.0.1 from testCertificates().
    explicit WebhookServer(bool tls, const QStringList& extra = {});
    quint16 port() const { return firstLine().section(QLatin1Char(' '), 1).toUShort(); }
};

} // namespace testsupport
