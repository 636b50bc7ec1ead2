#pragma once

#include "platform/Clock.h"
#include "settings/AppState.h"

#include <QDateTime>
#include <QString>

#include <deque>

namespace monitor {

/// Writes event rows into the table "Pulsewatch" of the database file PLW.
/// A row that cannot be written becomes a line of the text log
/// Pulsewatch.LOG instead; callers never see a failure. A row that the text
/// log cannot take either (a full disk) waits in memory and is written
/// before the next one.
class EventLog {
public:
    /// How long an insert waits for a reader or writer holding the file
    /// before it gives up; long enough for the log viewer's searches.
    static constexpr int kDefaultBusyTimeoutMs = 2000;

    /// Rows that may wait in memory: some seventeen hours of ten servers
    /// probed every minute, a few megabytes. Beyond it the oldest go.
    static constexpr int kMaxWaitingRows = 10000;

    EventLog(const AppState& state, const platform::Clock& clock);

    /// Records one row (server name, message, error value: 1 answered,
    /// -1 failure) through a connection of its own. The database stamps
    /// AddDate; the program never creates the file.
    void LOG_PRINT(const QString& serverName, const QString& message, qint16 error);

    /// Writes the rows that wait, oldest first, each with the time it was
    /// made, in one transaction; true when none is left waiting.
    bool writeWaitingRows();

    void setBusyTimeoutMs(int ms) { m_busyTimeoutMs = ms; }

    /// Path of the text log in the program folder.
    QString textLogPath() const;

    /// Appends one line (date and time, "  -> ", description) to the text
    /// log, for what went wrong where no row can say it; false when the
    /// line could not be written.
    bool appendTextLog(const QString& description);

private:
    struct Row {
        QDateTime made;
        QString serverName;
        QString message;
        qint16 error;
    };

    bool insertRow(const QString& serverName, const QString& message, qint16 error,
                   QString* failure);
    void keep(Row row);

    const AppState& m_state;
    const platform::Clock& m_clock;
    int m_busyTimeoutMs = kDefaultBusyTimeoutMs;
    std::deque<Row> m_waiting;
    qint64 m_dropped = 0; // waiting rows given up, not yet told in the text log
};

} // namespace monitor
