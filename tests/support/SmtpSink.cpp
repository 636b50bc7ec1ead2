#include "support/SmtpSink.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

namespace testsupport {

namespace {
// Debian's interpreter sees python3-aiosmtpd; the one first on PATH may not.
const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kSupport = QStringLiteral(PW_TEST_SUPPORT_DIR);
} // namespace

SmtpSink::SmtpSink(const QStringList& prefix) {
    QStringList command = prefix;
    command << kPython << kSupport + QStringLiteral("/smtp_sink.py")
            << m_dir.filePath(QStringLiteral("mail.jsonl"));
    m_process.start(command.takeFirst(), command);
    if (!m_process.waitForStarted(5000)) {
        m_failure = QStringLiteral("cannot start %1").arg(kPython);
        return;
    }
    QByteArray out;
    while (!out.contains('\n') && m_process.waitForReadyRead(10000))
        out += m_process.readAllStandardOutput();
    if (!out.startsWith("READY ")) {
        m_failure = QStringLiteral("aiosmtpd did not start: ") +
                    QString::fromLocal8Bit(out + m_process.readAllStandardError());
        return;
    }
    m_port = static_cast<quint16>(out.mid(6).trimmed().toUInt());
}

SmtpSink::~SmtpSink() {
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

QList<SmtpSink::Message> SmtpSink::messages() const {
    QList<Message> list;
    QFile f(m_dir.filePath(QStringLiteral("mail.jsonl")));
    if (!f.open(QIODevice::ReadOnly))
        return list;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        Message m;
        m.mailFrom = o.value(QStringLiteral("mail_from")).toString();
        m.rawMailFrom = o.value(QStringLiteral("raw_mail_from")).toString();
        for (const auto& r : o.value(QStringLiteral("rcpt_tos")).toArray())
            m.rcptTos << r.toString();
        m.data = QByteArray::fromBase64(o.value(QStringLiteral("data")).toString().toLatin1());
        list << m;
    }
    return list;
}

DecodedMail decodeWithPython(const QByteArray& raw) {
    DecodedMail d;
    QTemporaryFile file;
    if (!file.open()) {
        d.error = QStringLiteral("no temporary file");
        return d;
    }
    file.write(raw);
    file.flush();
    QProcess p;
    p.start(kPython, {kSupport + QStringLiteral("/mail_decode.py"), file.fileName()});
    if (!p.waitForFinished(20000) || p.exitCode() != 0) {
        d.error = QString::fromLocal8Bit(p.readAllStandardError());
        return d;
    }
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    d.subject = o.value(QStringLiteral("subject")).toString();
    d.from = o.value(QStringLiteral("from")).toString();
    d.to = o.value(QStringLiteral("to")).toString();
    d.cc = o.value(QStringLiteral("cc")).toString();
    d.bcc = o.value(QStringLiteral("bcc")).toString();
    d.charset = o.value(QStringLiteral("charset")).toString();
    d.body = o.value(QStringLiteral("body")).toString();
    return d;
}

} // namespace testsupport
