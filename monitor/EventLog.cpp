#include "monitor/EventLog.h"

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace monitor {
namespace {

std::atomic<int> g_connectionSerial{0};

const QString kInsert = QStringLiteral(
    "INSERT INTO Pulsewatch(ServerName,Message,Error) VALUES(:server,:message,:error)");

} // namespace

EventLog::EventLog(const AppState& state, const platform::Clock& clock)
    : m_state(state), m_clock(clock) {}

QString EventLog::textLogPath() const {
    return m_state.AppFolder + QStringLiteral("Pulsewatch.LOG");
}

void EventLog::LOG_PRINT(const QString& serverName, const QString& message, qint16 error) {
    QString failure;
    if (!insertRow(serverName, message, error, &failure))
        appendTextLog(failure);
}

bool EventLog::insertRow(const QString& serverName, const QString& message, qint16 error,
                         QString* failure) {
    const QString path = m_state.DatabasePath;
    // SQLite would quietly create an empty database for a missing file; the
    // delivered one holds the table, so a missing file is a failure.
    if (!QFileInfo(path).isFile()) {
        *failure = QStringLiteral("データベースファイル '%1' が見つかりません。").arg(path);
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        *failure = QStringLiteral("SQLite のドライバー (QSQLITE) が見つかりません。");
        return false;
    }

    const QString name = QStringLiteral("pw-log-%1").arg(g_connectionSerial.fetch_add(1));
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // mode=rw: never create the file, even if it vanished since the check.
        db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                           QStringLiteral("?mode=rw"));
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
        if (db.open()) {
            QSqlQuery q(db);
            // Bound values: a name or message with an apostrophe is a row
            // like any other, never a broken statement.
            ok = q.prepare(kInsert);
            if (ok) {
                q.bindValue(QStringLiteral(":server"), serverName);
                q.bindValue(QStringLiteral(":message"), message);
                q.bindValue(QStringLiteral(":error"), static_cast<int>(error));
                ok = q.exec();
            }
            if (!ok)
                *failure = q.lastError().text();
            q.finish();
        } else {
            *failure = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

void EventLog::appendTextLog(const QString& description) {
    const QByteArray line = platform::toAnsi(platform::generalDate(m_clock.now()) +
                                             QStringLiteral("  -> ") + description) +
                            "\r\n";
    // One append per line, the file closed at once; a failure here has
    // nowhere left to go and is dropped.
    const int fd = ::open(QFile::encodeName(textLogPath()).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    platform::writeAll(fd, line);
    ::close(fd);
}

} // namespace monitor
