#pragma once

#include "events/EventStore.h"

#include <QSqlDatabase>
#include <QString>

namespace events {

/// One connection to the event database file for one operation; closed and
/// removed when the object ends. It never creates the file: SQLite would
/// quietly make an empty database for a missing one, and the delivered file
/// holds the table.
class EventDatabase {
public:
    EventDatabase(const QString& path, int busyTimeoutMs, bool readOnly = false);
    /// A connection to store: the PLW file as above, or the shared
    /// PostgreSQL database, whose every wait is bounded (connecting by
    /// kConnectTimeoutS, a statement by kStatementTimeoutMs, a silent peer
    /// by TCP's own time-out) so that nothing hangs on a server that went
    /// quiet.
    EventDatabase(const EventStore& store, int busyTimeoutMs, bool readOnly = false);

    /// libpq gives up connecting after this many seconds (2 is its least).
    static constexpr int kConnectTimeoutS = 3;
    static constexpr int kStatementTimeoutMs = 5000;

    bool shared() const { return m_shared; }

    /// In a shared database: makes the table and its indexes where they are
    /// missing (several stations may start at once) and learns whether the
    /// table keeps stations (one made by an older version may not; it is
    /// used as it is). False with the reason in error().
    bool prepareShared();
    bool keepsStations() const { return m_stations; }
    ~EventDatabase();
    EventDatabase(const EventDatabase&) = delete;
    EventDatabase& operator=(const EventDatabase&) = delete;

    /// False with the reason in error() when the file is missing or cannot
    /// be opened.
    bool isOpen() const { return m_open; }
    QString error() const { return m_error; }

    /// What failed when a shared database could not be used, in words for
    /// the operator (the server, the login, the database, TLS), followed by
    /// the driver's own text without any password.
    static QString describeFailure(const QString& driverText, const QString& uri);
    QSqlDatabase& db() { return m_db; }

private:
    EventDatabase(const QString& path, int busyTimeoutMs, bool readOnly, bool shared);

    QString m_name;
    bool m_shared = false;
    bool m_stations = false;
    QSqlDatabase m_db;
    bool m_open = false;
    QString m_error;
};

} // namespace events
