// The log viewer over a big event table: 1,000,000 rows over 100 days for
// 10 servers, made here. Times opening the viewer, a one-day search
// (about 10,000 rows) and an "ALL" search without dates (every row), each
// filling the list, against the sqlite3 command-line tool running the same
// one-day query on the same file in the same run; reports resident memory.
#include "BenchUtil.h"
#include "logview/frmLog.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

class StillClock : public platform::Clock {
public:
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 7), QTime(12, 0)); }
};

// A memory figure of this process from /proc ("VmRSS", "VmHWM"), in KiB.
long statusKiB(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(qstrlen(field)) + 1)
                .trimmed()
                .split(' ')
                .first()
                .toLong();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::max(1000, atoi(argv[1])) : 1000000;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    QTextStream out(stdout);
    QTemporaryDir dir;
    AppState state(dir.path());
    state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
    if (!QFile::copy(QStringLiteral(PW_EMPTY_DB), state.DatabasePath)) {
        out << "cannot copy " << PW_EMPTY_DB << "\n";
        return 1;
    }
    QFile::setPermissions(state.DatabasePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    state.SERVER_CNT = 10;
    for (int s = 1; s <= 10; ++s)
        state.Servers[s].Name = QStringLiteral("server%1.example.jp").arg(s);

    QElapsedTimer t;
    t.start();
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(state.DatabasePath);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode=OFF"));
        db.transaction();
        q.prepare(QStringLiteral(
            "INSERT INTO Pulsewatch(AddDate,ServerName,Message,Error) VALUES(?,?,?,?)"));
        const QDateTime first(QDate(2026, 8, 30), QTime(0, 0));
        const qint64 span = 100LL * 86400;
        for (int i = 0; i < total; ++i) {
            const QDateTime when = first.addSecs(span * i / total);
            const int server = i % 10 + 1;
            const bool down = i % 97 == 0;
            q.addBindValue(when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
            q.addBindValue(state.Servers[server].Name);
            q.addBindValue(
                down ? QStringLiteral(
                           "Reply from 10.0.0.%1: server%1.example.jp: ICMP Request Timeout")
                           .arg(server)
                     : QStringLiteral("Reply from 10.0.0.%1:server%1.example.jp: Bytes = 32 RTT = "
                                      "1 ms TTL = 64")
                           .arg(server));
            q.addBindValue(down ? -1 : 1);
            q.exec();
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    out << "made " << total << " rows in " << t.elapsed() << " ms\n";

    platform::QtWindowSystem ui;
    StillClock clock;
    std::vector<double> openMs, dayMs, allMs, cliMs;
    int dayRows = 0, allRows = 0;
    for (int r = 0; r < rounds; ++r) {
        t.restart();
        auto* w = new frmLog(state, ui, clock);
        openMs.push_back(t.nsecsElapsed() / 1e6);
        auto* y1 = w->findChild<QLineEdit*>(QStringLiteral("Y1"));
        auto* m1 = w->findChild<QLineEdit*>(QStringLiteral("M1"));
        auto* d1 = w->findChild<QLineEdit*>(QStringLiteral("D1"));
        auto* y2 = w->findChild<QLineEdit*>(QStringLiteral("Y2"));
        auto* m2 = w->findChild<QLineEdit*>(QStringLiteral("M2"));
        auto* d2 = w->findChild<QLineEdit*>(QStringLiteral("D2"));
        for (auto [y, m, d] : {std::tuple{y1, m1, d1}, std::tuple{y2, m2, d2}}) {
            y->setText(QStringLiteral("2026"));
            m->setText(QStringLiteral("10"));
            d->setText(QStringLiteral("15"));
        }
        t.restart();
        w->Command1_Click();
        dayMs.push_back(t.nsecsElapsed() / 1e6);
        dayRows = w->model().rowCount();

        y1->clear();
        y2->clear();
        t.restart();
        w->Command1_Click();
        allMs.push_back(t.nsecsElapsed() / 1e6);
        allRows = w->model().rowCount();
        delete w;

        QProcess cli;
        cli.setStandardOutputFile(QProcess::nullDevice());
        t.restart();
        cli.start(QStringLiteral("sqlite3"),
                  {state.DatabasePath,
                   QStringLiteral(
                       "SELECT AddDate,ServerName,Message,Error FROM Pulsewatch WHERE AddDate "
                       "BETWEEN '2026-10-15 00:00:00' AND '2026-10-15 23:59:59' ORDER BY ID;")});
        if (!cli.waitForFinished(60000) || cli.exitCode() != 0) {
            out << "sqlite3 failed\n";
            return 1;
        }
        cliMs.push_back(t.nsecsElapsed() / 1e6);
    }
    out << "rounds: " << rounds << "\n";
    out << "open the viewer     median " << QString::number(median(openMs), 'f', 1) << " ms\n";
    out << "one day (" << dayRows << " rows) median " << QString::number(median(dayMs), 'f', 1)
        << " ms\n";
    out << "sqlite3, same query median " << QString::number(median(cliMs), 'f', 1) << " ms\n";
    out << "ratio viewer / sqlite3: " << QString::number(median(dayMs) / median(cliMs), 'f', 2)
        << "\n";
    out << "ALL (" << allRows << " rows) median " << QString::number(median(allMs), 'f', 1)
        << " ms\n";
    out << "resident now " << statusKiB("VmRSS") / 1024 << " MiB, peak "
        << statusKiB("VmHWM") / 1024 << " MiB\n";
    return 0;
}
