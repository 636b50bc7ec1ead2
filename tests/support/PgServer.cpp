#include "support/PgServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <pwd.h>
#include <unistd.h>

namespace testsupport {
namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

PgServer::PgServer() {
    if (!QFile::exists(kBin + QStringLiteral("initdb"))) {
        m_failure =
            QStringLiteral("PostgreSQL 15 is not installed (scripts/install-deps.sh installs "
                           "postgresql and libqt6sql6-psql)");
        return;
    }
    m_data = m_dir.filePath(QStringLiteral("data"));
    if (::geteuid() == 0) {
        // The server refuses to run as root: it runs as Debian's postgres.
        const passwd* pw = ::getpwnam("postgres");
        if (!pw) {
            m_failure = QStringLiteral("no user postgres to run the server as");
            return;
        }
        m_owner = QStringLiteral("postgres");
        ::chown(QFile::encodeName(m_dir.path()).constData(), pw->pw_uid, pw->pw_gid);
    }
    QFile pwfile(m_dir.filePath(QStringLiteral("pw")));
    pwfile.open(QIODevice::WriteOnly);
    pwfile.write("unused\n");
    pwfile.close();
    if (!m_owner.isEmpty())
        run({QStringLiteral("chown"), m_owner, pwfile.fileName()}, false);
    QString out;
    if (!run({kBin + QStringLiteral("initdb"), QStringLiteral("-D"), m_data, QStringLiteral("-U"),
              QStringLiteral("postgres"), QStringLiteral("--auth-local=trust"),
              QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("--pwfile"),
              pwfile.fileName(), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C.UTF-8")},
             true, &out)) {
        m_failure = QStringLiteral("initdb failed: ") + out;
        return;
    }
    m_port = freePort();
    if (!start())
        return;
    psql(QStringLiteral("CREATE ROLE watch LOGIN PASSWORD '%1'").arg(QLatin1String(kPassword)),
         QStringLiteral("postgres"));
    QString created;
    if (!run({kBin + QStringLiteral("createdb"), QStringLiteral("-h"), m_dir.path(),
              QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-U"),
              QStringLiteral("postgres"), QStringLiteral("-O"), QStringLiteral("watch"),
              QStringLiteral("events")},
             false, &created))
        m_failure = QStringLiteral("createdb failed: ") + created;
}

PgServer::~PgServer() {
    if (m_port)
        run({kBin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), m_data, QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("stop")},
            true);
}

QString PgServer::uri(const QString& query) const {
    return QStringLiteral("postgresql://watch:%1@127.0.0.1:%2/events")
               .arg(QLatin1String(kPassword))
               .arg(m_port) +
           (query.isEmpty() ? QString() : QStringLiteral("?") + query);
}

bool PgServer::start() {
    QString out;
    const bool ok = run({kBin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), m_data,
                         QStringLiteral("-w"), QStringLiteral("-l"),
                         m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-o"),
                         QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                             .arg(m_port)
                             .arg(m_dir.path()),
                         QStringLiteral("start")},
                        true, &out);
    if (!ok)
        m_failure = QStringLiteral("pg_ctl start failed: ") + out;
    return ok;
}

bool PgServer::stop() {
    return run({kBin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), m_data, QStringLiteral("-w"),
                QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("stop")},
               true);
}

QStringList PgServer::psql(const QString& sql, const QString& database) const {
    QString out;
    run({QStringLiteral("psql"), QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"),
         QString::number(m_port), QStringLiteral("-U"), QStringLiteral("postgres"),
         QStringLiteral("-d"), database, QStringLiteral("-At"), QStringLiteral("-v"),
         QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), sql},
        false, &out);
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool PgServer::run(const QStringList& command, bool asOwner, QString* output) const {
    QStringList argv = command;
    if (asOwner && !m_owner.isEmpty())
        argv = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), m_owner,
                           QStringLiteral("--")} +
               argv;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    // The database "events" does not exist when the first psql runs.
    p.setWorkingDirectory(QDir::tempPath());
    p.start(argv.takeFirst(), argv);
    const bool ok =
        p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(p.readAll()).trimmed();
    return ok;
}

} // namespace testsupport
