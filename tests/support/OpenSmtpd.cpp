#include "support/OpenSmtpd.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>

namespace testsupport {
namespace {

const QString kSmtpd = QStringLiteral("/usr/sbin/smtpd");

// Delivery runs as this user (smtpd delivers as no one else than a user).
const char kDeliveryUser[] = "nobody";

quint16 freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return s.serverPort();
}

bool answers(quint16 port) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    return s.waitForConnected(200);
}

} // namespace

OpenSmtpd::OpenSmtpd() {
    if (geteuid() != 0) {
        m_failure = QStringLiteral("OpenSMTPD runs as root only (smtpd -d)");
        return;
    }
    if (!QFile::exists(kSmtpd)) {
        m_failure = QStringLiteral("Debian's opensmtpd is not installed (scripts/install-deps.sh)");
        return;
    }
    const passwd* user = getpwnam(kDeliveryUser);
    if (!user) {
        m_failure = QStringLiteral("no user nobody to deliver as");
        return;
    }
    const QString maildir = m_dir.filePath(QStringLiteral("Maildir"));
    QDir().mkpath(maildir + QStringLiteral("/new"));
    QDir().mkpath(maildir + QStringLiteral("/cur"));
    QDir().mkpath(maildir + QStringLiteral("/tmp"));
    // The delivery user walks into the folder and writes the maildir.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ExeGroup | QFile::ExeOther);
    for (const char* sub : {"", "/new", "/cur", "/tmp"})
        if (chown(QFile::encodeName(maildir + QLatin1String(sub)).constData(), user->pw_uid,
                  user->pw_gid) != 0) {
            m_failure = QStringLiteral("cannot hand the maildir to nobody");
            return;
        }
    for (int attempt = 0; attempt < 5 && m_port == 0; ++attempt) {
        const quint16 port = freePort();
        const QString conf = m_dir.filePath(QStringLiteral("smtpd.conf"));
        QFile f(conf);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            m_failure = QStringLiteral("cannot write ") + conf;
            return;
        }
        f.write(QStringLiteral("table everyone { \"@\" = \"%1\" }\n"
                               "listen on 127.0.0.1 port %2\n"
                               "action \"deliver\" maildir \"%3\" virtual <everyone>\n"
                               "match from any for any action \"deliver\"\n")
                    .arg(QLatin1String(kDeliveryUser))
                    .arg(port)
                    .arg(maildir)
                    .toUtf8());
        f.close();
        // smtpd keeps its control socket in /run and its queue in
        // /var/spool/smtpd, both fixed: a mount namespace gives this one
        // its own, gone when it ends.
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("unshare"),
                        {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                         QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                         QStringLiteral("mkdir -p /var/spool/smtpd && "
                                        "mount -t tmpfs -o mode=0755 tmpfs /run && "
                                        "mount -t tmpfs -o mode=0711 tmpfs /var/spool/smtpd && "
                                        "exec %1 -d -f \"$0\"")
                             .arg(kSmtpd),
                         conf});
        if (!m_process.waitForStarted(5000)) {
            m_failure = QStringLiteral("cannot start unshare: ") + m_process.errorString();
            return;
        }
        const QDeadlineTimer ready(15000);
        while (!ready.hasExpired() && m_process.state() == QProcess::Running && !answers(port))
            QThread::msleep(50);
        m_log += m_process.readAll();
        if (m_process.state() == QProcess::Running && answers(port)) {
            m_port = port;
            m_failure.clear();
            return;
        }
        m_process.kill();
        m_process.waitForFinished(5000);
        m_log += m_process.readAll();
        m_failure = QStringLiteral("smtpd did not start: ") + QString::fromLocal8Bit(m_log);
    }
}

OpenSmtpd::~OpenSmtpd() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
    m_process.waitForFinished(2000);
}

QString OpenSmtpd::log() {
    m_log += m_process.readAll();
    return QString::fromLocal8Bit(m_log);
}

QList<QByteArray> OpenSmtpd::messages(int count, int waitMs) const {
    const QDir dir(m_dir.filePath(QStringLiteral("Maildir/new")));
    const QDeadlineTimer deadline(waitMs);
    QFileInfoList files;
    for (;;) {
        files = dir.entryInfoList(QDir::Files);
        if (files.size() >= count || deadline.hasExpired())
            break;
        QThread::msleep(50);
    }
    // Delivery order: maildir names begin with the second only.
    std::stable_sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() < b.lastModified();
    });
    QList<QByteArray> mails;
    for (const QFileInfo& file : files) {
        QFile f(file.filePath());
        if (f.open(QIODevice::ReadOnly))
            mails << f.readAll();
    }
    return mails;
}

QString headerField(const QByteArray& raw, const QByteArray& name) {
    const qsizetype end =
        raw.indexOf("\r\n\r\n") >= 0 ? raw.indexOf("\r\n\r\n") : raw.indexOf("\n\n");
    const QByteArray header = raw.left(end < 0 ? raw.size() : end);
    QByteArray value;
    bool inField = false;
    for (QByteArray line : header.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (inField && (line.startsWith(' ') || line.startsWith('\t'))) {
            value += line;
            continue;
        }
        if (inField)
            break;
        if (line.toLower().startsWith(name.toLower() + ':')) {
            inField = true;
            value = line.mid(name.size() + 1);
        }
    }
    return QString::fromLatin1(value.trimmed());
}

} // namespace testsupport
