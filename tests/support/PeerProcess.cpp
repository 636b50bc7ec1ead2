#include "support/PeerProcess.h"

#include "support/SmtpSink.h"

#include <QFile>
#include <QJsonDocument>

namespace testsupport {

PeerProcess::PeerProcess(const QString& script, const QStringList& args,
                         const QProcessEnvironment& env) {
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    QStringList{QStringLiteral(PW_TEST_SUPPORT_DIR "/") + script,
                                m_dir.filePath(QStringLiteral("log.jsonl"))} +
                        args);
    if (!m_process.waitForStarted(5000)) {
        m_failure = script + QStringLiteral(": ") + m_process.errorString();
        return;
    }
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
    }
    m_firstLine = QString::fromUtf8(m_process.readLine()).trimmed();
    if (m_firstLine.isEmpty())
        m_failure = script + QStringLiteral(" did not start");
}

PeerProcess::~PeerProcess() {
    stop();
}

void PeerProcess::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QList<QJsonObject> PeerProcess::logged() const {
    QList<QJsonObject> out;
    QFile f(m_dir.filePath(QStringLiteral("log.jsonl")));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            out << QJsonDocument::fromJson(line).object();
    return out;
}

WebhookServer::WebhookServer(bool tls, const QStringList& extra)
    : PeerProcess(QStringLiteral("webhook_server.py"),
                  (tls ? QStringList{QStringLiteral("--tls"),
                                     testCertificates() + QStringLiteral("/good.pem"),
                                     testCertificates() + QStringLiteral("/good.key")}
                       : QStringList()) +
                      extra) {}

} // namespace testsupport
