#include "events/EventLog.h"

#include "events/EventDatabase.h"

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

namespace events {
namespace {

const QString kInsert = QStringLiteral(
    "INSERT INTO Pulsewatch(ServerName,Message,Error) VALUES(:server,:message,:error)");
// A row written late keeps the local time it was made, in the column's own
// format.
const QString kInsertMade =
    QStringLiteral("INSERT INTO Pulsewatch(AddDate,ServerName,Message,Error) "
                   "VALUES(:made,:server,:message,:error)");
const QString kMadeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace

EventLog::EventLog(const AppState& state, const platform::Clock& clock)
    : m_state(state), m_clock(clock),
      m_pending(state.AppFolder + QStringLiteral("Pulsewatch.pending")) {}

void EventLog::startUp() {
    m_pending.reserve();
    const QList<Row> earlier = m_pending.read();
    if (earlier.isEmpty())
        return;
    m_waiting.insert(m_waiting.begin(), earlier.begin(), earlier.end());
    while (m_waiting.size() > static_cast<size_t>(kMaxWaitingRows)) {
        m_waiting.pop_front();
        ++m_dropped;
    }
    m_inSideFile = true;
    if (writeWaitingRows())
        appendTextLog(QStringLiteral("前回の終了時に書き込めなかったイベント %1 件を記録しました。")
                          .arg(earlier.size()));
}

int EventLog::endOfProgram() {
    const int busy = m_busyTimeoutMs;
    m_busyTimeoutMs = std::min(busy, 200);
    writeWaitingRows();
    m_busyTimeoutMs = busy;
    if (!m_waiting.empty())
        keepInSideFile();
    return waitingRows();
}

void EventLog::keepInSideFile() {
    const QList<Row> rows(m_waiting.begin(), m_waiting.end());
    m_inSideFile = m_pending.write(rows) != 0 || m_inSideFile;
}

QString EventLog::textLogPath() const {
    return m_state.AppFolder + QStringLiteral("Pulsewatch.LOG");
}

void EventLog::LOG_PRINT(const QString& serverName, const QString& message, qint16 error) {
    Row row{m_clock.now(), serverName, message, error};
    // Rows keep their order: while older ones still wait, this one waits too.
    if (!writeWaitingRows()) {
        keep(std::move(row), QString());
        return;
    }
    QString failure;
    if (!insertRow(serverName, message, error, &failure) && !appendTextLog(failure))
        keep(std::move(row), failure);
}

void EventLog::keep(Row row, const QString& why) {
    const bool first = m_waiting.empty();
    m_waiting.push_back(std::move(row));
    if (m_waiting.size() > static_cast<size_t>(kMaxWaitingRows)) {
        m_waiting.pop_front();
        ++m_dropped;
    }
    m_inSideFile = m_pending.append(m_waiting.back()) || m_inSideFile;
    if (first && onRowsWaiting)
        onRowsWaiting(why);
}

bool EventLog::writeWaitingRows() {
    if (m_dropped > 0 &&
        appendTextLog(
            QStringLiteral("書き込めなかったイベント %1 件を破棄しました (保留の上限 %2 件)。")
                .arg(m_dropped)
                .arg(kMaxWaitingRows)))
        m_dropped = 0;
    if (m_waiting.empty())
        return true;

    QString failure;
    {
        EventDatabase database(m_state.DatabasePath, m_busyTimeoutMs);
        if (!database.isOpen()) {
            failure = database.error();
        } else {
            QSqlDatabase& db = database.db();
            QSqlQuery q(db);
            bool ok = db.transaction() && q.prepare(kInsertMade);
            for (auto row = m_waiting.cbegin(); ok && row != m_waiting.cend(); ++row) {
                q.bindValue(QStringLiteral(":made"), row->made.toString(kMadeFormat));
                q.bindValue(QStringLiteral(":server"), row->serverName);
                q.bindValue(QStringLiteral(":message"), row->message);
                q.bindValue(QStringLiteral(":error"), static_cast<int>(row->error));
                ok = q.exec();
            }
            if (ok && db.commit()) {
                m_waiting.clear();
                if (m_inSideFile)
                    m_inSideFile = !m_pending.clear();
                return true;
            }
            failure = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
            db.rollback();
        }
    }
    appendTextLog(failure);
    return false;
}

QDateTime EventLog::downSince(const QString& serverName) {
    EventDatabase database(m_state.DatabasePath, m_busyTimeoutMs, true);
    if (!database.isOpen())
        return QDateTime();
    QSqlQuery q(database.db());
    // In the order the rows were written: several rows share a second.
    if (!q.prepare(QStringLiteral(
            "SELECT MIN(AddDate) FROM Pulsewatch WHERE ServerName = :server AND Error = -1 AND "
            "ID > COALESCE((SELECT MAX(ID) FROM Pulsewatch "
            "WHERE ServerName = :server2 AND Error = 1), 0)")))
        return QDateTime();
    q.bindValue(QStringLiteral(":server"), serverName);
    q.bindValue(QStringLiteral(":server2"), serverName);
    if (!q.exec() || !q.next() || q.value(0).isNull())
        return QDateTime();
    return QDateTime::fromString(q.value(0).toString(), kMadeFormat);
}

bool EventLog::insertRow(const QString& serverName, const QString& message, qint16 error,
                         QString* failure) {
    EventDatabase database(m_state.DatabasePath, m_busyTimeoutMs);
    if (!database.isOpen()) {
        *failure = database.error();
        return false;
    }
    QSqlQuery q(database.db());
    // Bound values: a name or message with an apostrophe is a row like any
    // other, never a broken statement.
    bool ok = q.prepare(kInsert);
    if (ok) {
        q.bindValue(QStringLiteral(":server"), serverName);
        q.bindValue(QStringLiteral(":message"), message);
        q.bindValue(QStringLiteral(":error"), static_cast<int>(error));
        ok = q.exec();
    }
    if (!ok)
        *failure = q.lastError().text();
    return ok;
}

bool EventLog::appendTextLog(const QString& description) {
    const QByteArray line = platform::toAnsi(platform::generalDate(m_clock.now()) +
                                             QStringLiteral("  -> ") + description) +
                            "\r\n";
    // One append per line, the file closed at once; the caller decides what
    // a failure means.
    const int fd = ::open(QFile::encodeName(textLogPath()).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = platform::writeAll(fd, line);
    return ::close(fd) == 0 && written;
}

} // namespace events
