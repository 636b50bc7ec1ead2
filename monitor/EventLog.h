#pragma once

#include "platform/Clock.h"
#include "settings/AppState.h"

#include <QString>

namespace monitor {

/// Writes event rows into the table "Pulsewatch" of the database file PLW.
/// A row that cannot be written becomes a line of the text log
/// Pulsewatch.LOG instead; callers never see a failure.
class EventLog {
public:
    /// How long an insert waits for a reader or writer holding the file
    /// before it gives up; long enough for the log viewer's searches.
    static constexpr int kDefaultBusyTimeoutMs = 2000;

    EventLog(const AppState& state, const platform::Clock& clock);

    /// Records one row (server name, message, error value: 1 answered,
    /// -1 failure) through a connection of its own. The database stamps
    /// AddDate; the program never creates the file.
    void LOG_PRINT(const QString& serverName, const QString& message, qint16 error);

    void setBusyTimeoutMs(int ms) { m_busyTimeoutMs = ms; }

    /// Path of the text log in the program folder.
    QString textLogPath() const;

    /// Appends one line (date and time, "  -> ", description) to the text
    /// log, for what went wrong where no row can say it.
    void appendTextLog(const QString& description);

private:
    bool insertRow(const QString& serverName, const QString& message, qint16 error,
                   QString* failure);

    const AppState& m_state;
    const platform::Clock& m_clock;
    int m_busyTimeoutMs = kDefaultBusyTimeoutMs;
};

} // namespace monitor
