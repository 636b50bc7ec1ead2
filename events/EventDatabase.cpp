#include "events/EventDatabase.h"

#include <QFileInfo>
#include <QSqlError>
#include <QUrl>

#include <atomic>

namespace events {
namespace {
std::atomic<int> g_connectionSerial{0};
}

EventDatabase::EventDatabase(const QString& path, int busyTimeoutMs, bool readOnly)
    : m_name(QStringLiteral("pw-db-%1").arg(g_connectionSerial.fetch_add(1))) {
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

EventDatabase::~EventDatabase() {
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
}

} // namespace events
