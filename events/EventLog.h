#pragma once

#include "events/EventStore.h"
#include "events/PendingRows.h"
#include "platform/Clock.h"
#include "settings/AppState.h"

#include <QDateTime>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace events {

class StoreWriter;

/// Writes event rows into the table "Pulsewatch" of the database file PLW.
/// A row that cannot be written becomes a line of the text log
/// Pulsewatch.LOG instead; callers never see a failure. A row that the text
/// log cannot take either (a full disk) waits in memory and is written
/// before the next one; while it waits it is also kept in the side file
/// Pulsewatch.pending, so that neither the program's end nor a crash loses
/// it, and the next start writes it.
class EventLog {
public:
    /// How long an insert waits for a reader or writer holding the file
    /// before it gives up; long enough for the log viewer's searches.
    static constexpr int kDefaultBusyTimeoutMs = 2000;

    /// Rows that may wait in memory: some seventeen hours of ten servers
    /// probed every minute, a few megabytes. Beyond it the oldest go.
    static constexpr int kMaxWaitingRows = 10000;

    EventLog(const AppState& state, const platform::Clock& clock);
    ~EventLog();

    /// Records one row (server name, message, error value: 1 answered,
    /// -1 failure) through a connection of its own. The database stamps
    /// AddDate; the program never creates the file. With a shared store
    /// (EVENT_DB) the row is handed to a writer of its own, with the time it
    /// was made, and the call never waits for the server.
    void LOG_PRINT(const QString& serverName, const QString& message, qint16 error);

    /// Writes the rows that wait, oldest first, each with the time it was
    /// made, in one transaction; true when none is left waiting.
    bool writeWaitingRows();

    void setBusyTimeoutMs(int ms) { m_busyTimeoutMs = ms; }

    /// At start-up: reserves the side file's room while there is some, and
    /// writes the rows an earlier run left in it, first and with their own
    /// times; one text-log line says how many.
    void startUp();

    /// At the program's end: a last try to write the rows that wait (with
    /// a short wait for a lock, the end must not linger); those that still
    /// wait stay in the side file. Returns how many still wait.
    int endOfProgram();

    /// Called once each time rows begin to wait, with the reason the last
    /// write failed.
    std::function<void(const QString& why)> onRowsWaiting;

    /// Since when serverName has been down, as its rows (of this station)
    /// tell: the first failure after its last answer; invalid when its last
    /// row answered or it has none. *readable is false when the store could
    /// not be read.
    QDateTime downSince(const QString& serverName, bool* readable = nullptr);

    /// Rows waiting now.
    int waitingRows() const;

    /// The side file rows wait in.
    QString pendingPath() const { return m_pending.path(); }

    /// Path of the text log in the program folder.
    QString textLogPath() const;

    /// Appends one line (date and time, "  -> ", description) to the text
    /// log, for what went wrong where no row can say it; false when the
    /// line could not be written.
    bool appendTextLog(const QString& description);

private:
    using Row = WaitingRow;

    bool insertRow(const QString& serverName, const QString& message, qint16 error,
                   QString* failure);
    void keep(Row row, const QString& why, bool tell = true);
    void keepInSideFile();
    /// True when rows go to a shared store now; its writer then runs.
    bool sharedStore();
    QList<Row> takeForWriter();
    void writtenByWriter(quint64 seq);
    void writerState(bool failing, const QString& why);

    const AppState& m_state;
    const platform::Clock& m_clock;
    int m_busyTimeoutMs = kDefaultBusyTimeoutMs;
    std::deque<Row> m_waiting;
    qint64 m_dropped = 0; // waiting rows given up, not yet told in the text log
    PendingRows m_pending;
    bool m_inSideFile = false; // the side file holds rows
    quint64 m_nextSeq = 1;
    quint64 m_earlierUpTo = 0; // the last of the rows an earlier run left, until written
    int m_earlier = 0;
    // The waiting rows and the side file are shared with the writer's thread.
    mutable std::mutex m_mutex;
    std::unique_ptr<StoreWriter> m_writer;
};

} // namespace events
