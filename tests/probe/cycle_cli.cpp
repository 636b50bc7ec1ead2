// Runs monitoring cycles over a server list in a program folder of its own
// and prints what they recorded, so a test can run the cycle as another
// user, or under `ip netns exec` with a namespace's own resolv.conf:
//
//   cycle_cli EMPTY_DB CYCLES RETRY HOST...
//
// prints "cycle\tMS" after each cycle, then "row\tNAME|MESSAGE|ERROR" for
// every row recorded; a quit signal ends the cycle under way, as it does in
// the program, and the output ends with "ended".
#include "events/EventLog.h"
#include "monitor/MonitorCycle.h"
#include "platform/Clock.h"
#include "platform/QuitSignals.h"
#include "support/TestFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    QTextStream out(stdout);
    if (a.size() < 5) {
        QTextStream(stderr) << "usage: cycle_cli EMPTY_DB CYCLES RETRY HOST...\n";
        return 2;
    }
    testsupport::TestFolder folder(false);
    AppState state(folder.folder());
    if (!QFile::copy(a[1], state.DatabasePath)) {
        QTextStream(stderr) << "cycle_cli: cannot copy " << a[1] << "\n";
        return 2;
    }
    QFile::setPermissions(state.DatabasePath, QFile::ReadOwner | QFile::WriteOwner);
    state.mINTERVAL = 0;
    state.RETRY = a[3];
    const QStringList hosts = a.mid(4);
    state.SERVER_CNT = static_cast<qint16>(hosts.size());
    for (int i = 0; i < hosts.size(); ++i)
        state.Servers[i + 1] = {hosts[i], QString(), QString(), 1, 0};

    platform::SystemClock clock;
    events::EventLog log(state, clock);
    monitor::MonitorCycle cycle(state, log);
    platform::Ending ending;
    cycle.setEnding(&ending);
    const auto quit = platform::onQuitRequests(app, [&ending] { ending.request(); });

    const int cycles = a[2].toInt();
    for (int c = 0; c < cycles && !ending.requested(); ++c) {
        QElapsedTimer t;
        t.start();
        cycle.Timer1_Timer();
        out << "cycle\t" << t.elapsed() << "\n";
        out.flush();
    }
    for (const QString& row : testsupport::eventRows(state.DatabasePath))
        out << "row\t" << row << "\n";
    if (ending.requested())
        out << "ended\n";
    return 0;
}
