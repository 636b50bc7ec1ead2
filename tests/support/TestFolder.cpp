#include "support/TestFolder.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

namespace testsupport {

TestFolder::TestFolder(bool withDatabase) {
    if (withDatabase) {
        QFile::copy(QStringLiteral(PW_EMPTY_DB), path(QStringLiteral("PLW")));
        QFile::setPermissions(path(QStringLiteral("PLW")), QFile::ReadOwner | QFile::WriteOwner);
    }
}

QByteArray TestFolder::read(const QString& name) const {
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestFolder::write(const QString& name, const QByteArray& content) const {
    QFile f(path(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

QStringList eventRows(const QString& databasePath, bool withDate) {
    QStringList rows;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
        db.setDatabaseName(databasePath);
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT AddDate, ServerName, Message, Error FROM Pulsewatch "
                                       "ORDER BY ID"),
                        db);
            while (q.next())
                rows << (withDate ? q.value(0).toString() + QLatin1Char('|') : QString()) +
                            q.value(1).toString() + QLatin1Char('|') + q.value(2).toString() +
                            QLatin1Char('|') + q.value(3).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("rows"));
    return rows;
}

} // namespace testsupport
