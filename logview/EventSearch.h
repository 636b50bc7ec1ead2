#pragma once

#include "logview/EventListModel.h"

#include <QDate>
#include <QString>

#include <optional>

namespace logview {

/// What the viewer asks for. A missing date leaves that end of the range
/// open: only a start means from that day on, only an end means up to the
/// end of that day.
struct SearchCriteria {
    std::optional<qint16> error; ///< -1 errors only, 1 successes only
    QString server;              ///< "" for every server
    std::optional<QDate> from, to;
};

struct SearchResult {
    bool ok = false;
    QString failure; ///< the database's reason, for diagnostics
    int normal = 0;
    int errors = 0;
};

/// The statement for criteria, with ":name" placeholders for every value.
QString searchStatement(const SearchCriteria& c);

/// Runs the search on the database file and fills model with the rows in
/// insertion order. Rows read before a failure stay in the model.
SearchResult search(const QString& databasePath, const SearchCriteria& c, EventListModel& model);

/// Deletes the rows recorded before the day 60 days before today.
bool purgeOlderThan60Days(const QString& databasePath, const QDate& today, QString* failure);

/// A date typed as year, month and day fields, in digits of either width;
/// nullopt when the three do not make a date (letters, month 13, 30
/// February).
std::optional<QDate> typedDate(const QString& y, const QString& m, const QString& d);

} // namespace logview
