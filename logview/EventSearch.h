#pragma once

#include "events/EventDatabase.h"
#include "logview/EventListModel.h"

#include <QDate>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <optional>

namespace logview {

/// What the viewer asks for. A missing date leaves that end of the range
/// open: only a start means from that day on, only an end means up to the
/// end of that day.
struct SearchCriteria {
    std::optional<qint16> error; ///< -1 errors only, 1 successes only
    QString server;              ///< "" for every server
    std::optional<QDate> from, to;
    QString station; ///< in a shared store: "" for every station

    /// The same dates (and station) without the kind and the server: what
    /// the chart shows.
    SearchCriteria datesOnly() const;
};

/// The conditions of criteria as " WHERE ..." (or "" for none), with a
/// ":name" placeholder for every value, in SQL that SQLite and PostgreSQL
/// both run; bindCriteria gives the values.
QString whereClause(const SearchCriteria& c);
void bindCriteria(QSqlQuery& q, const SearchCriteria& c);

/// A statement of the viewer on a connection of its own, opened for it and
/// closed with it. Every step returns false once one failed, with the
/// database's reason in failure().
class ViewerStatement {
public:
    explicit ViewerStatement(const events::EventStore& store, bool readOnly = true);
    /// Prepares sql (again, for a later statement) and binds criteria's
    /// values.
    bool prepare(const QString& sql, const SearchCriteria& c);
    bool exec();
    /// The next row; false at the end or on a failure (then ok() is false).
    bool next();
    bool ok() const { return m_failure.isEmpty(); }
    const QString& failure() const { return m_failure; }
    QSqlQuery& query() { return m_query; }

private:
    bool failed();

    events::EventDatabase m_database;
    QSqlQuery m_query; // after the database: it ends first
    QString m_failure;
};

/// The statement of one page of a search: rows in time order (AddDate, then
/// insertion order), at most limit of them; with after, only those after
/// the row named by ":lastDate" and ":lastId"; with stations, each row's
/// Station as a sixth column.
QString pageStatement(const SearchCriteria& c, bool after, int limit, bool stations = false);

/// The rows of a search a page at a time. Each page is a statement of its
/// own that starts after the last row read, so nothing holds the database
/// between pages and the millionth row comes as fast as the first.
class EventPages {
public:
    EventPages(events::EventStore store, SearchCriteria c);

    /// Appends up to n rows to model (call endFill after it); the first
    /// call empties model once its statement has run, so a failure leaves
    /// the list as it was. False with the reason when the database failed.
    bool next(int n, EventListModel& model, QString* failure);
    bool atEnd() const { return m_atEnd; }

private:
    events::EventStore m_store;
    SearchCriteria m_criteria;
    bool m_started = false;
    bool m_atEnd = false;
    QVariant m_lastDate; // as read, so a server's finer timestamp loses nothing
    qint64 m_lastId = 0;
};

struct SearchCounts {
    bool ok = false;
    QString failure; ///< the database's reason, for diagnostics
    qint64 normal = 0;
    qint64 errors = 0; ///< every row whose Error is not 1
};

/// Counts the rows of the criteria in the database itself.
SearchCounts countRows(const events::EventStore& store, const SearchCriteria& c);

/// Deletes the rows recorded before the day 60 days before today; in a
/// shared store those of every station, in one statement.
bool purgeOlderThan60Days(const events::EventStore& store, const QDate& today, QString* failure);

/// A date typed as year, month and day fields, in digits of either width;
/// nullopt when the three do not make a date (letters, month 13, 30
/// February).
std::optional<QDate> typedDate(const QString& y, const QString& m, const QString& d);

/// The bounds of a day as AddDate holds them.
QString dayStart(const QDate& d);
QString dayEnd(const QDate& d);

/// How long a statement of the viewer waits for a writer holding the file.
constexpr int kBusyTimeoutMs = 2000;

} // namespace logview
