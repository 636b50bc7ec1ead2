#include "support/SmtpSink.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryFile>

namespace testsupport {

namespace {
// Debian's interpreter sees python3-aiosmtpd; the one first on PATH may not.
const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kSupport = QStringLiteral(PW_TEST_SUPPORT_DIR);

// Starts a server script that prints "READY " and what follows on its first
// line; that rest, or "" with *failure set.
QByteArray startServer(QProcess& process, QStringList command, const QString& what,
                       QString* failure) {
    process.start(command.takeFirst(), command);
    if (!process.waitForStarted(5000)) {
        *failure = QStringLiteral("cannot start %1").arg(kPython);
        return {};
    }
    QByteArray out;
    while (!out.contains('\n') && process.waitForReadyRead(30000))
        out += process.readAllStandardOutput();
    if (!out.startsWith("READY ")) {
        *failure = what + QStringLiteral(" did not start: ") +
                   QString::fromLocal8Bit(out + process.readAllStandardError());
        return {};
    }
    return out.mid(6).trimmed();
}

// Ends a server script by closing its standard input.
void stopServer(QProcess& process) {
    process.closeWriteChannel();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(1000);
}

// The records of a file of JSON lines.
QList<QJsonObject> jsonLines(const QString& path) {
    QList<QJsonObject> list;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return list;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            list << QJsonDocument::fromJson(line).object();
    return list;
}

} // namespace

SmtpSink::SmtpSink(const QStringList& prefix, Checks checks) {
    QStringList command = prefix + QStringList{kPython, kSupport + QStringLiteral("/smtp_sink.py")};
    if (checks == Checks::PostfixHeloAndSender)
        command << QStringLiteral("--postfix-checks");
    command << m_dir.filePath(QStringLiteral("mail.jsonl"));
    const QByteArray port = startServer(m_process, command, QStringLiteral("aiosmtpd"), &m_failure);
    m_port = static_cast<quint16>(port.toUInt());
}

SmtpSink::~SmtpSink() {
    stopServer(m_process);
}

QList<SmtpSink::Message> SmtpSink::messages() const {
    QList<Message> list;
    for (const QJsonObject& o : jsonLines(m_dir.filePath(QStringLiteral("mail.jsonl")))) {
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
    const QByteArray ready = startServer(
        m_process,
        {kPython, kSupport + QStringLiteral("/tls_smtp.py"), m_dir.path(), user, password},
        QStringLiteral("the TLS relays"), &m_failure);
    const QJsonObject o = QJsonDocument::fromJson(ready).object();
    const QJsonObject ports = o.value(QStringLiteral("ports")).toObject();
    for (auto it = ports.begin(); it != ports.end(); ++it)
        m_ports.insert(it.key(), static_cast<quint16>(it.value().toInt()));
    m_caFile = o.value(QStringLiteral("ca")).toString();
}

TlsRelays::~TlsRelays() {
    stopServer(m_process);
}

QList<TlsRelays::Event> TlsRelays::events() const {
    QList<Event> list;
    for (const QJsonObject& o : jsonLines(m_dir.filePath(QStringLiteral("events.jsonl"))))
        list.append(
            {o.value(QStringLiteral("server")).toString(),
             o.value(QStringLiteral("event")).toString(),
             o.value(QStringLiteral("mail_from")).toString(),
             QByteArray::fromBase64(o.value(QStringLiteral("data")).toString().toLatin1())});
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
    for (const auto& n : o.value(QStringLiteral("from_names")).toArray())
        d.fromNames << n.toString();
    d.messageId = o.value(QStringLiteral("message_id")).toString();
    d.date = o.value(QStringLiteral("date")).toString();
    return d;
}

} // namespace testsupport
