#include "support/SmtpSink.h"

#include <QSslSocket>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslKey>
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

TlsRelays::TlsRelays(const QString& user, const QString& password) {
    m_process.start(kPython,
                    {kSupport + QStringLiteral("/tls_smtp.py"), m_dir.path(), user, password});
    if (!m_process.waitForStarted(5000)) {
        m_failure = QStringLiteral("cannot start %1").arg(kPython);
        return;
    }
    QByteArray out;
    while (!out.contains('\n') && m_process.waitForReadyRead(30000))
        out += m_process.readAllStandardOutput();
    if (!out.startsWith("READY ")) {
        m_failure = QStringLiteral("the TLS relays did not start: ") +
                    QString::fromLocal8Bit(out + m_process.readAllStandardError());
        return;
    }
    const QJsonObject o = QJsonDocument::fromJson(out.mid(6)).object();
    const QJsonObject ports = o.value(QStringLiteral("ports")).toObject();
    for (auto it = ports.begin(); it != ports.end(); ++it)
        m_ports.insert(it.key(), static_cast<quint16>(it.value().toInt()));
    m_caFile = o.value(QStringLiteral("ca")).toString();
}

TlsRelays::~TlsRelays() {
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

QList<TlsRelays::Event> TlsRelays::events() const {
    QList<Event> list;
    QFile f(m_dir.filePath(QStringLiteral("events.jsonl")));
    if (!f.open(QIODevice::ReadOnly))
        return list;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        list.append(
            {o.value(QStringLiteral("server")).toString(),
             o.value(QStringLiteral("event")).toString(),
             o.value(QStringLiteral("mail_from")).toString(),
             QByteArray::fromBase64(o.value(QStringLiteral("data")).toString().toLatin1())});
    }
    return list;
}

QString testCertificates() {
    static QTemporaryDir dir;
    static const bool made = [] {
        QProcess p;
        p.start(kPython, {kSupport + QStringLiteral("/tls_smtp.py"),
                          QStringLiteral("--certificates"), dir.path()});
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }();
    return made ? dir.path() : QString();
}

QSslConfiguration serverTls() {
    const QString folder = testCertificates();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    QFile key(folder + QStringLiteral("/good.key"));
    if (folder.isEmpty() || !key.open(QIODevice::ReadOnly))
        return conf;
    conf.setLocalCertificateChain(QSslCertificate::fromPath(folder + QStringLiteral("/good.pem")));
    conf.setPrivateKey(QSslKey(&key, QSsl::Ec));
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    return conf;
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
