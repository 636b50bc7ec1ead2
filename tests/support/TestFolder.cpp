#include "support/TestFolder.h"

#include "platform/SingleInstance.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

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

bool returnsWithin(int ms, const QString& fifo, const std::function<void()>& fn) {
    std::atomic<bool> finished{false};
    std::atomic<bool> late{false};
    std::thread watchdog([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!finished) {
            if (std::chrono::steady_clock::now() > deadline) {
                late = true;
                // Opened for reading and writing, a FIFO never blocks, and a
                // blocked open at either end goes on; closed, it gives the
                // reader its end of file.
                const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    fn();
    finished = true;
    watchdog.join();
    return !late;
}

bool folderLocked(const QString& folder) {
    platform::SingleInstance probe(folder);
    return probe.acquire() == platform::SingleInstance::Result::AlreadyRunning;
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
