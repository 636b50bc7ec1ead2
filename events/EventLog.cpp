#include "events/EventLog.h"

#include "events/EventDatabase.h"
#include "events/StoreWriter.h"

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <chrono>
#include <thread>

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

EventLog::~EventLog() {
    m_writer.reset();
}

int EventLog::waitingRows() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_waiting.size());
}

bool EventLog::sharedStore() {
    const EventStore store = EventStore::of(m_state);
    if (!store.shared()) {
        m_writer.reset();
        return false;
    }
    if (!m_writer || m_writer->store().uri != store.uri ||
        m_writer->store().station != store.station) {
        m_writer.reset();
        m_writer = std::make_unique<StoreWriter>(
            store,
            StoreWriter::Hooks{
                [this] { return takeForWriter(); }, [this](quint64 seq) { writtenByWriter(seq); },
                [this](bool failing, const QString& why) { writerState(failing, why); }});
    }
    return true;
}

QList<EventLog::Row> EventLog::takeForWriter() {
    std::lock_guard lock(m_mutex);
    const auto n = std::min<size_t>(m_waiting.size(), StoreWriter::kBatchRows);
    return QList<Row>(m_waiting.begin(), m_waiting.begin() + static_cast<qsizetype>(n));
}

void EventLog::writtenByWriter(quint64 seq) {
    bool earlierDone = false;
    int earlier = 0;
    {
        std::lock_guard lock(m_mutex);
        while (!m_waiting.empty() && m_waiting.front().seq <= seq)
            m_waiting.pop_front();
        // The side file holds only what still waits.
        if (m_waiting.empty())
            m_inSideFile = m_inSideFile && !m_pending.clear();
        else
            keepInSideFile();
        if (m_earlierUpTo && seq >= m_earlierUpTo) {
            earlierDone = true;
            earlier = m_earlier;
            m_earlierUpTo = 0;
        }
    }
    if (earlierDone)
        appendTextLog(QStringLiteral("前回の終了時に書き込めなかったイベント %1 件を記録しました。")
                          .arg(earlier));
}

void EventLog::writerState(bool failing, const QString& why) {
    appendTextLog(failing ? QStringLiteral("イベントを共有のデータベースに書き込めません。"
                                           "書き込めるようになりしだい書き込みます（%1）。")
                                .arg(why)
                          : QStringLiteral("共有のデータベースに再び書き込めるようになりました。"));
    // Said on the event loop's thread, where the tray lives.
    if (failing && QCoreApplication::instance())
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, why] {
                if (onRowsWaiting)
                    onRowsWaiting(why);
            },
            Qt::QueuedConnection);
}

void EventLog::startUp() {
    m_pending.reserve();
    QList<Row> earlier = m_pending.read();
    if (earlier.isEmpty())
        return;
    {
        std::lock_guard lock(m_mutex);
        for (Row& row : earlier)
            row.seq = m_nextSeq++;
        m_waiting.insert(m_waiting.begin(), earlier.begin(), earlier.end());
        while (m_waiting.size() > static_cast<size_t>(kMaxWaitingRows)) {
            m_waiting.pop_front();
            ++m_dropped;
        }
        m_inSideFile = true;
        m_earlierUpTo = earlier.last().seq;
        m_earlier = static_cast<int>(earlier.size());
    }
    if (sharedStore()) {
        m_writer->wake();
        return;
    }
    m_earlierUpTo = 0;
    if (writeWaitingRows())
        appendTextLog(QStringLiteral("前回の終了時に書き込めなかったイベント %1 件を記録しました。")
                          .arg(earlier.size()));
}

int EventLog::endOfProgram() {
    if (m_writer) {
        // A short last chance for the writer; what still waits is in the
        // side file already.
        m_writer->wake();
        for (int i = 0; i < 30 && waitingRows() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return waitingRows();
    }
    const int busy = m_busyTimeoutMs;
    m_busyTimeoutMs = std::min(busy, 200);
    writeWaitingRows();
    m_busyTimeoutMs = busy;
    std::lock_guard lock(m_mutex);
    if (!m_waiting.empty())
        keepInSideFile();
    return static_cast<int>(m_waiting.size());
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
    if (sharedStore()) {
        keep(std::move(row), QString(), false);
        m_writer->wake();
        return;
    }
    // Rows keep their order: while older ones still wait, this one waits too.
    if (!writeWaitingRows()) {
        keep(std::move(row), QString());
        return;
    }
    QString failure;
    if (!insertRow(serverName, message, error, &failure) && !appendTextLog(failure))
        keep(std::move(row), failure);
}

void EventLog::keep(Row row, const QString& why, bool tell) {
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        first = m_waiting.empty();
        row.seq = m_nextSeq++;
        m_waiting.push_back(std::move(row));
        if (m_waiting.size() > static_cast<size_t>(kMaxWaitingRows)) {
            m_waiting.pop_front();
            ++m_dropped;
        }
        m_inSideFile = m_pending.append(m_waiting.back()) || m_inSideFile;
    }
    if (first && tell && onRowsWaiting)
        onRowsWaiting(why);
}

bool EventLog::writeWaitingRows() {
    if (sharedStore()) {
        m_writer->wake();
        std::lock_guard lock(m_mutex);
        return m_waiting.empty();
    }
    std::lock_guard lock(m_mutex);
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

QDateTime EventLog::downSince(const QString& serverName, bool* readable) {
    const EventStore store = EventStore::of(m_state);
    EventDatabase database(store, m_busyTimeoutMs, true);
    if (readable)
        *readable = false;
    if (!database.isOpen())
        return QDateTime();
    // A shared table holds the rows of every station: this one's only.
    const QString station = store.shared() ? QStringLiteral(" AND Station = :station") : QString();
    QSqlQuery q(database.db());
    // In the order the rows were written: several rows share a second.
    if (!q.prepare(QStringLiteral("SELECT MIN(AddDate) FROM Pulsewatch WHERE ServerName = :server "
                                  "AND Error = -1%1 AND ID > COALESCE((SELECT MAX(ID) FROM "
                                  "Pulsewatch WHERE ServerName = :server2 AND Error = 1%2), 0)")
                       .arg(station, QString(station).replace(QStringLiteral(":station"),
                                                              QStringLiteral(":station2")))))
        return QDateTime();
    q.bindValue(QStringLiteral(":server"), serverName);
    q.bindValue(QStringLiteral(":server2"), serverName);
    if (store.shared()) {
        q.bindValue(QStringLiteral(":station"), store.station);
        q.bindValue(QStringLiteral(":station2"), store.station);
    }
    if (!q.exec())
        return QDateTime();
    if (readable)
        *readable = true;
    if (!q.next() || q.value(0).isNull())
        return QDateTime();
    const QVariant v = q.value(0);
    return v.typeId() == QMetaType::QDateTime ? v.toDateTime()
                                              : QDateTime::fromString(v.toString(), kMadeFormat);
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
