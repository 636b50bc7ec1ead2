// Until the tray shell exists, the program loads its settings, probes every
// watched server once and prints one outcome line per server.
#include "monitor/OutcomeLine.h"
#include "probe/C_PING.h"
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
    for (int i = 1; i <= state.SERVER_CNT; ++i) {
        const ServerEntry& s = state.Servers[i];
        if (s.Name.isEmpty() || s.Check != 1)
            continue;
        QString line = QStringLiteral("コンピュータ名またはIPアドレスが不正です。");
        C_PING ping;
        ping.onPing([&line](qint32 code, const QString& text, const QString& host,
                            const QString& ip, qint32 bytes, qint32 rtt, qint32 ttl) {
            line = monitor::outcomeLine(code, text, host, ip, bytes, rtt, ttl);
        });
        ping.Ping(s.Name);
        out << s.Name << "\t" << line << "\n";
        out.flush();
    }
    return 0;
}
