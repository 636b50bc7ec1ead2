#include "monitor/EventLog.h"

#include "monitor/EventDatabase.h"

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <fcntl.h>
#include <unistd.h>

namespace monitor {
namespace {

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
