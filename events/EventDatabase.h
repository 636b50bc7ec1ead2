#pragma once

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
    ~EventDatabase();
    EventDatabase(const EventDatabase&) = delete;
    EventDatabase& operator=(const EventDatabase&) = delete;

    /// False with the reason in error() when the file is missing or cannot
    /// be opened.
    bool isOpen() const { return m_open; }
    QString error() const { return m_error; }
    QSqlDatabase& db() { return m_db; }

private:
    QString m_name;
    QSqlDatabase m_db;
    bool m_open = false;
    QString m_error;
};

} // namespace events
