#include "events/StoreWriter.h"

#include "events/EventDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <memory>

namespace events {
namespace {

const QString kMadeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace

StoreWriter::StoreWriter(EventStore store, Hooks hooks)
    : m_store(std::move(store)), m_hooks(std::move(hooks)), m_thread([this] { run(); }) {}

StoreWriter::~StoreWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void StoreWriter::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_pending = true;
    }
    m_wake.notify_all();
}

void StoreWriter::run() {
    std::unique_ptr<EventDatabase> db;
    bool failing = false;
    bool stations = false;
    const auto fail = [&](const QString& why) {
        db.reset();
        if (!failing)
            m_hooks.state(true, why);
        failing = true;
    };
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            // After a failure the next try waits for more rows or the retry.
            if (failing)
                m_wake.wait_for(lock, std::chrono::milliseconds(kRetryMs),
                                [this] { return m_stop || m_pending; });
            else
                m_wake.wait(lock, [this] { return m_stop || m_pending; });
            if (m_stop)
                return;
            m_pending = false;
        }
        for (QList<WaitingRow> rows = m_hooks.take(); !rows.isEmpty(); rows = m_hooks.take()) {
            if (!db) {
                db = std::make_unique<EventDatabase>(m_store, 0);
                if (!db->isOpen() || !db->prepareShared()) {
                    fail(db->error());
                    break;
                }
                stations = db->keepsStations();
            }
            QSqlDatabase& c = db->db();
            QSqlQuery q(c);
            bool ok =
                c.transaction() &&
                q.prepare(stations
                              ? QStringLiteral("INSERT INTO Pulsewatch(AddDate,ServerName,Message,"
                                               "Error,Station) VALUES(?,?,?,?,?)")
                              : QStringLiteral("INSERT INTO Pulsewatch(AddDate,"
                                               "ServerName,Message,Error) VALUES(?,?,?,?)"));
            for (const WaitingRow& row : rows) {
                if (!ok)
                    break;
                q.bindValue(0, row.made.toString(kMadeFormat));
                q.bindValue(1, row.serverName);
                q.bindValue(2, row.message);
                q.bindValue(3, static_cast<int>(row.error));
                if (stations)
                    q.bindValue(4, m_store.station);
                ok = q.exec();
            }
            if (!ok || !c.commit()) {
                const QString why = EventDatabase::describeFailure(
                    q.lastError().isValid() ? q.lastError().text() : c.lastError().text(),
                    m_store.uri);
                c.rollback();
                fail(why);
                break;
            }
            m_hooks.written(rows.last().seq);
            if (failing)
                m_hooks.state(false, QString());
            failing = false;
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
        }
    }
}

} // namespace events
