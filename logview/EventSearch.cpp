#include "logview/EventSearch.h"

#include <QSqlError>

namespace logview {
namespace {

// An IME in full-width mode types "２０２６": a digit of any width is a digit.
int number(const QString& typed, bool* ok) {
    QString ascii = typed.trimmed();
    for (QChar& c : ascii)
        if (c.isDigit())
            c = QChar(u'0' + c.digitValue());
    return ascii.toInt(ok);
}

// Comparisons and placeholders only: both SQLite and PostgreSQL run them,
// and the indexes on AddDate and on ServerName, AddDate serve every one.
QString conditions(const SearchCriteria& c, bool after) {
    QStringList where;
    if (c.error)
        where << QStringLiteral("Error=:error");
    if (!c.server.isEmpty())
        where << QStringLiteral("ServerName=:server");
    // A later page starts at the last row read: that bound, not the first
    // day's, is what lets the index skip the rows already shown.
    if (c.from || after)
        where << QStringLiteral("AddDate>=:from");
    if (c.to)
        where << QStringLiteral("AddDate<=:to");
    if (!c.station.isEmpty())
        where << QStringLiteral("Station=:station");
    if (after)
        where << QStringLiteral("(AddDate>:lastDate OR ID>:lastId)");
    return where.isEmpty() ? QString()
                           : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
}

} // namespace

SearchCriteria SearchCriteria::datesOnly() const {
    SearchCriteria dates;
    dates.from = from;
    dates.to = to;
    dates.station = station;
    return dates;
}

QString dayStart(const QDate& d) {
    return d.toString(QStringLiteral("yyyy-MM-dd 00:00:00"));
}
QString dayEnd(const QDate& d) {
    return d.toString(QStringLiteral("yyyy-MM-dd 23:59:59"));
}

QString whereClause(const SearchCriteria& c) {
    return conditions(c, false);
}

void bindCriteria(QSqlQuery& q, const SearchCriteria& c) {
    if (c.error)
        q.bindValue(QStringLiteral(":error"), static_cast<int>(*c.error));
    if (!c.server.isEmpty())
        q.bindValue(QStringLiteral(":server"), c.server);
    if (c.from)
        q.bindValue(QStringLiteral(":from"), dayStart(*c.from));
    if (c.to)
        q.bindValue(QStringLiteral(":to"), dayEnd(*c.to));
    if (!c.station.isEmpty())
        q.bindValue(QStringLiteral(":station"), c.station);
}

QString pageStatement(const SearchCriteria& c, bool after, int limit, bool stations) {
    return QStringLiteral("SELECT ID,AddDate,ServerName,Message,Error%1 FROM Pulsewatch")
               .arg(stations ? QStringLiteral(",Station") : QString()) +
           conditions(c, after) + QStringLiteral(" ORDER BY AddDate,ID LIMIT %1").arg(limit);
}

ViewerStatement::ViewerStatement(const events::EventStore& store, bool readOnly)
    : m_database(store, kBusyTimeoutMs, readOnly), m_query(m_database.db()) {
    if (!m_database.isOpen())
        m_failure = m_database.error();
    m_query.setForwardOnly(true);
}

bool ViewerStatement::failed() {
    m_failure = m_query.lastError().text();
    if (m_failure.isEmpty())
        m_failure = QStringLiteral("?");
    return false;
}

bool ViewerStatement::prepare(const QString& sql, const SearchCriteria& c) {
    if (!ok())
        return false;
    m_query.finish();
    if (!m_query.prepare(sql))
        return failed();
    bindCriteria(m_query, c);
    return true;
}

bool ViewerStatement::exec() {
    return ok() && (m_query.exec() || failed());
}

bool ViewerStatement::next() {
    if (!ok())
        return false;
    if (m_query.next())
        return true;
    if (m_query.lastError().isValid())
        failed();
    return false;
}

EventPages::EventPages(events::EventStore store, SearchCriteria c)
    : m_store(std::move(store)), m_criteria(std::move(c)) {}

bool EventPages::next(int n, EventListModel& model, QString* failure) {
    ViewerStatement s(m_store);
    const bool stations = m_store.shared();
    if (s.prepare(pageStatement(m_criteria, m_started, n, stations), m_criteria) && m_started) {
        s.query().bindValue(QStringLiteral(":from"), m_lastDate);
        s.query().bindValue(QStringLiteral(":lastDate"), m_lastDate);
        s.query().bindValue(QStringLiteral(":lastId"), m_lastId);
    }
    if (!s.exec()) {
        *failure = s.failure();
        return false;
    }
    if (!m_started)
        model.clear();
    m_started = true;
    int read = 0;
    QSqlQuery& q = s.query();
    while (s.next()) {
        m_lastId = q.value(0).toLongLong();
        m_lastDate = q.value(1);
        // PostgreSQL gives a timestamp, SQLite its text: the list takes the text.
        const QString date =
            m_lastDate.typeId() == QMetaType::QDateTime
                ? m_lastDate.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                : m_lastDate.toString();
        model.append(date, q.value(2).toString(), q.value(3).toString(),
                     static_cast<qint16>(q.value(4).toInt()),
                     stations ? q.value(5).toString() : QString());
        ++read;
    }
    if (!s.ok()) {
        *failure = s.failure();
        return false;
    }
    m_atEnd = read < n;
    return true;
}

SearchCounts countRows(const events::EventStore& store, const SearchCriteria& c) {
    SearchCounts r;
    ViewerStatement s(store);
    if (!s.prepare(QStringLiteral(
                       "SELECT COUNT(*),SUM(CASE WHEN Error=1 THEN 1 ELSE 0 END) FROM Pulsewatch") +
                       whereClause(c),
                   c) ||
        !s.exec() || !s.next()) {
        r.failure = s.ok() ? QStringLiteral("no count") : s.failure();
        return r;
    }
    // SUM over no rows is NULL, which reads as 0.
    const qint64 total = s.query().value(0).toLongLong();
    r.normal = s.query().value(1).toLongLong();
    r.errors = total - r.normal;
    r.ok = true;
    return r;
}

bool purgeOlderThan60Days(const events::EventStore& store, const QDate& today, QString* failure) {
    ViewerStatement s(store, false);
    if (s.prepare(QStringLiteral("DELETE FROM Pulsewatch WHERE AddDate<:cutoff"), {}))
        s.query().bindValue(QStringLiteral(":cutoff"), dayStart(today.addDays(-60)));
    if (!s.exec()) {
        *failure = s.failure();
        return false;
    }
    return true;
}

std::optional<QDate> typedDate(const QString& y, const QString& m, const QString& d) {
    bool oky = false, okm = false, okd = false;
    int year = number(y, &oky);
    const int month = number(m, &okm);
    const int day = number(d, &okd);
    if (!oky || !okm || !okd)
        return std::nullopt;
    // Two-digit years as the desktop reads them: 00-29 this century.
    if (year >= 0 && year < 30)
        year += 2000;
    else if (year >= 30 && year < 100)
        year += 1900;
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

} // namespace logview
