// Until the tray shell exists, the program loads its settings, runs one
// monitoring cycle (rows go to PLW as usual) and prints each watched
// server's outcome line.
#include "monitor/EventLog.h"
#include "monitor/MonitorCycle.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    AppState state(GetAppFolder());
    LoadSettings(state);

    QTextStream out(stdout);
    if (state.SERVER_CNT == 0) {
        out << "検証サーバーが登録されていません (" << state.AppFolder << "ServerList)\n";
        return 0;
    }
    platform::SystemClock clock;
    monitor::EventLog log(state, clock);
    monitor::MonitorCycle cycle(state, log);
    cycle.IntervalCount = state.mINTERVAL; // the next tick runs a cycle
    cycle.Timer1_Timer();
    for (int i = 1; i <= state.SERVER_CNT; ++i) {
        const ServerEntry& s = state.Servers[i];
        if (!s.Name.isEmpty() && s.Check == 1)
            out << s.Name << "\t" << s.Message << "\n";
    }
    return 0;
}
