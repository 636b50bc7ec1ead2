// Time one cycle's recording: 10 rows through LOG_PRINT (a connection of its
// own per row) against the same 10 inserts through one connection that is
// already open, in the same run, on copies of the delivered empty database.
#include "events/EventLog.h"
#include "platform/Clock.h"

#include "BenchUtil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace {

constexpr int kRowsPerCycle = 10;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    QTextStream out(stdout);

    QTemporaryDir dir;
    AppState state(dir.path());
    const QString baselinePath = dir.filePath(QStringLiteral("PLW.baseline"));
    if (!QFile::copy(QStringLiteral(PW_EMPTY_DB), state.DatabasePath) ||
        !QFile::copy(QStringLiteral(PW_EMPTY_DB), baselinePath)) {
        out << "cannot copy " << PW_EMPTY_DB << "\n";
        return 1;
    }
    QFile::setPermissions(state.DatabasePath, QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(baselinePath, QFile::ReadOwner | QFile::WriteOwner);

    platform::SystemClock clock;
    events::EventLog log(state, clock);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("open"));
    db.setDatabaseName(baselinePath);
    if (!db.open())
        return 1;
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO Pulsewatch(ServerName,Message,Error) VALUES(:server,:message,:error)"));

    const QString message =
        QStringLiteral("Reply from 192.168.10.21:fileserver01: Bytes = 32 RTT = 1 ms TTL = 128");
    std::vector<double> perRow, openConnection;
    QElapsedTimer t;
    for (int c = 0; c < cycles; ++c) {
        t.start();
        for (int i = 0; i < kRowsPerCycle; ++i)
            log.LOG_PRINT(QStringLiteral("server%1").arg(i), message, 1);
        perRow.push_back(t.nsecsElapsed() / 1e6);

        t.restart();
        for (int i = 0; i < kRowsPerCycle; ++i) {
            insert.bindValue(QStringLiteral(":server"), QStringLiteral("server%1").arg(i));
            insert.bindValue(QStringLiteral(":message"), message);
            insert.bindValue(QStringLiteral(":error"), 1);
            insert.exec();
        }
        openConnection.push_back(t.nsecsElapsed() / 1e6);
    }
    if (QFile::exists(log.textLogPath())) {
        out << "rows were lost: see " << log.textLogPath() << "\n";
        return 1;
    }
    const double a = median(perRow);
    const double b = median(openConnection);
    out << "cycles: " << cycles << ", rows per cycle: " << kRowsPerCycle << "\n";
    out << "LOG_PRINT, one connection per row  median " << QString::number(a, 'f', 2)
        << " ms/cycle\n";
    out << "one open connection                median " << QString::number(b, 'f', 2)
        << " ms/cycle\n";
    out << "ratio: " << QString::number(a / b, 'f', 2) << "\n";
    return 0;
}
