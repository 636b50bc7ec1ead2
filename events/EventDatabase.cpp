#include "events/EventDatabase.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <atomic>

namespace events {
namespace {
std::atomic<int> g_connectionSerial{0};
}

EventDatabase::EventDatabase(const QString& path, int busyTimeoutMs, bool readOnly)
    : EventDatabase(path, busyTimeoutMs, readOnly, false) {}

EventDatabase::EventDatabase(const QString& path, int busyTimeoutMs, bool readOnly, bool shared)
    : m_name(QStringLiteral("pw-db-%1").arg(g_connectionSerial.fetch_add(1))) {
    if (shared)
        return;
    if (!QFileInfo(path).isFile()) {
        m_error = QStringLiteral("データベースファイル '%1' が見つかりません。").arg(path);
        return;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        m_error = QStringLiteral("SQLite のドライバー (QSQLITE) が見つかりません。");
        return;
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    // mode=rw (or ro): never create the file, even if it vanished since the
    // check.
    m_db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                         (readOnly ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=rw")));
    m_db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    m_open = m_db.open();
    if (!m_open)
        m_error = m_db.lastError().text();
}

EventDatabase::EventDatabase(const EventStore& store, int busyTimeoutMs, bool readOnly)
    : EventDatabase(store.shared() ? QString() : store.plwPath, busyTimeoutMs, readOnly,
                    store.shared()) {
    if (!store.shared())
        return;
    m_shared = true;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        m_error = QStringLiteral("PostgreSQL のドライバー (QPSQL) が見つかりません。"
                                 "パッケージ libqt6sql6-psql をインストールしてください。");
        return;
    }
    const QUrl url(store.uri, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("postgresql") &&
                           url.scheme() != QLatin1String("postgres"))) {
        m_error =
            QStringLiteral("EVENT_DB は postgresql://ユーザー@ホスト:ポート/データベース の形で"
                           "指定してください。");
        return;
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    // The URI's parts, and its parameters (sslmode, ...) as libpq's own
    // options; without a password in it libpq looks in ~/.pgpass.
    m_db.setHostName(url.host());
    if (url.port() > 0)
        m_db.setPort(url.port());
    m_db.setDatabaseName(url.path().mid(1));
    m_db.setUserName(url.userName());
    m_db.setPassword(url.password());
    QStringList options;
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
        options << key + QStringLiteral("='") +
                       QString(value)
                           .replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                           .replace(QLatin1Char('\''), QStringLiteral("\\'")) +
                       QLatin1Char('\'');
    // Every wait bounded: connecting, each statement, a peer gone silent.
    options << QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutS)
            << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=5")
            << QStringLiteral("keepalives_interval=2") << QStringLiteral("keepalives_count=2")
            << QStringLiteral("tcp_user_timeout=%1").arg(kStatementTimeoutMs)
            << QStringLiteral("options='-c statement_timeout=%1%2'")
                   .arg(kStatementTimeoutMs)
                   .arg(readOnly ? QStringLiteral(" -c default_transaction_read_only=on")
                                 : QString());
    m_db.setConnectOptions(options.join(QLatin1Char(';')));
    m_open = m_db.open();
    if (!m_open)
        m_error = describeFailure(m_db.lastError().text(), store.uri);
}

bool EventDatabase::prepareShared() {
    QSqlQuery q(m_db);
    // One station at a time: CREATE ... IF NOT EXISTS alone races.
    const bool ok =
        m_db.transaction() && q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(7270310)")) &&
        q.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS Pulsewatch (ID BIGSERIAL PRIMARY KEY, "
            "AddDate TIMESTAMP(0) NOT NULL DEFAULT LOCALTIMESTAMP(0), "
            "ServerName TEXT NOT NULL DEFAULT '', Message TEXT NOT NULL DEFAULT '', "
            "Error SMALLINT NOT NULL DEFAULT 0, Station TEXT NOT NULL DEFAULT '')")) &&
        q.exec(QStringLiteral(
            "CREATE INDEX IF NOT EXISTS Pulsewatch_AddDate ON Pulsewatch (AddDate)")) &&
        q.exec(QStringLiteral("SELECT count(*) FROM information_schema.columns WHERE "
                              "table_name = 'pulsewatch' AND column_name = 'station'")) &&
        q.next();
    m_stations = ok && q.value(0).toInt() > 0;
    const bool indexed =
        ok && (!m_stations ||
               q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS Pulsewatch_Station_AddDate ON "
                                     "Pulsewatch (Station, AddDate)")));
    if (indexed && m_db.commit())
        return true;
    m_error = q.lastError().isValid() ? q.lastError().text() : m_db.lastError().text();
    m_db.rollback();
    return false;
}

QString EventDatabase::describeFailure(const QString& driverText, const QString& uri) {
    const struct {
        const char* says;
        const char* what;
    } kinds[] = {
        {"could not translate host name", "データベースサーバーの名前を解決できません"},
        {"Connection refused", "データベースサーバーに接続できません（接続を拒否されました）"},
        {"timeout expired", "データベースサーバーが時間内に応答しません"},
        {"server closed the connection", "データベースサーバーとの接続が切れました"},
        {"password authentication failed",
         "ログインできません（ユーザー名かパスワードが違います）"},
        {"no password supplied", "ログインできません（パスワードがありません）"},
        {"role \"", "ログインできません（そのユーザーはありません）"},
        {"database \"", "そのデータベースはありません"},
        {"certificate", "TLS（SSL）で接続できません（証明書を確かめられません）"},
        {"SSL", "TLS（SSL）で接続できません"},
        {"could not connect", "データベースサーバーに接続できません"},
    };
    QString what = QStringLiteral("データベースを使えません");
    for (const auto& k : kinds)
        if (driverText.contains(QLatin1String(k.says), Qt::CaseInsensitive)) {
            what = QString::fromUtf8(k.what);
            break;
        }
    QString text = driverText.simplified();
    // The driver does not quote passwords, but a URI may be in its text.
    if (!uri.isEmpty())
        text.replace(uri, uriWithoutPassword(uri));
    return what + QStringLiteral(": ") + text;
}

EventDatabase::~EventDatabase() {
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
}

} // namespace events
