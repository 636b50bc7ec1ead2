#include "logview/EventSearch.h"

#include "events/EventDatabase.h"

#include <QSqlError>
#include <QSqlQuery>

namespace logview {
namespace {

constexpr int kBusyTimeoutMs = 2000;

QString dayStart(const QDate& d) {
    return d.toString(QStringLiteral("yyyy-MM-dd 00:00:00"));
}
QString dayEnd(const QDate& d) {
    return d.toString(QStringLiteral("yyyy-MM-dd 23:59:59"));
}

// An IME in full-width mode types "２０２６": a digit of any width is a digit.
int number(const QString& typed, bool* ok) {
    QString ascii = typed.trimmed();
    for (QChar& c : ascii)
        if (c.isDigit())
            c = QChar(u'0' + c.digitValue());
    return ascii.toInt(ok);
}

} // namespace

QString searchStatement(const SearchCriteria& c) {
    QStringList where;
    if (c.error)
        where << QStringLiteral("Error=:error");
    if (!c.server.isEmpty())
        where << QStringLiteral("ServerName=:server");
    if (c.from && c.to)
        where << QStringLiteral("AddDate BETWEEN :from AND :to");
    else if (c.from)
        where << QStringLiteral("AddDate>=:from");
    else if (c.to)
        where << QStringLiteral("AddDate<=:to");
    QString sql = QStringLiteral("SELECT AddDate,ServerName,Message,Error FROM Pulsewatch");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    return sql + QStringLiteral(" ORDER BY ID");
}

SearchResult search(const QString& databasePath, const SearchCriteria& c, EventListModel& model) {
    SearchResult r;
    events::EventDatabase database(databasePath, kBusyTimeoutMs, true);
    if (!database.isOpen()) {
        r.failure = database.error();
        return r;
    }
    QSqlQuery q(database.db());
    q.setForwardOnly(true);
    if (!q.prepare(searchStatement(c))) {
        r.failure = q.lastError().text();
        return r;
    }
    if (c.error)
        q.bindValue(QStringLiteral(":error"), static_cast<int>(*c.error));
    if (!c.server.isEmpty())
        q.bindValue(QStringLiteral(":server"), c.server);
    if (c.from)
        q.bindValue(QStringLiteral(":from"), dayStart(*c.from));
    if (c.to)
        q.bindValue(QStringLiteral(":to"), dayEnd(*c.to));
    if (!q.exec()) {
        r.failure = q.lastError().text();
        return r;
    }
    model.clear();
    model.beginFill();
    int normal = 0, errors = 0;
    while (q.next()) {
        const qint16 error = static_cast<qint16>(q.value(3).toInt());
        model.append(q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), error);
        (error == 1 ? normal : errors)++;
    }
    model.endFill();
    if (q.lastError().isValid()) {
        r.failure = q.lastError().text();
        return r;
    }
    r.ok = true;
    r.normal = normal;
    r.errors = errors;
    return r;
}

bool purgeOlderThan60Days(const QString& databasePath, const QDate& today, QString* failure) {
    events::EventDatabase database(databasePath, kBusyTimeoutMs);
    if (!database.isOpen()) {
        *failure = database.error();
        return false;
    }
    QSqlQuery q(database.db());
    if (!q.prepare(QStringLiteral("DELETE FROM Pulsewatch WHERE AddDate<:cutoff"))) {
        *failure = q.lastError().text();
        return false;
    }
    q.bindValue(QStringLiteral(":cutoff"), dayStart(today.addDays(-60)));
    if (!q.exec()) {
        *failure = q.lastError().text();
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
