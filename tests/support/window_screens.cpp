// Shows the program's windows on a real display, filled with Japanese
// sample data, and saves a picture of each into the folder given: a person
// checks them by eye, the test script that they were drawn at all.
#include "alerts/EmargMSG.h"
#include "logview/frmLog.h"
#include "settings/Config.h"
#include "settings/LIST.h"
#include "settings/Settings.h"
#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"
#include "tools/frmAbout.h"
#include "tools/frmPing.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

bool save(QWidget& w, const QString& file) {
    w.show();
    if (!QTest::qWaitForWindowExposed(&w, 5000))
        return false;
    QTest::qWait(200);
    return w.grab().save(file);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_screens OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir dir;
    AppState state(dir.path());
    const auto put = [&](const char* key, const QString& value, const QString& file) {
        WriteIniKey(state, kSettingsSection, QLatin1String(key), value, file);
    };
    put("SERVER_CNT", QStringLiteral("3"), kServerListFile);
    put("SERVER_NAME1", QStringLiteral("192.168.1.10"), kServerListFile);
    put("SERVER_ETC1", QStringLiteral("ファイルサーバー"), kServerListFile);
    put("SERVER_CHECK1", QStringLiteral("1"), kServerListFile);
    put("SERVER_NAME2", QStringLiteral("mail.example.jp"), kServerListFile);
    put("SERVER_ETC2", QStringLiteral("メールサーバー（本社）"), kServerListFile);
    put("SERVER_CHECK2", QStringLiteral("-1"), kServerListFile);
    put("SERVER_NAME3", QStringLiteral("db01"), kServerListFile);
    put("SERVER_CHECK3", QStringLiteral("1"), kServerListFile);
    put("EMARGE_SERVER", QStringLiteral("smtp.example.jp"), kGeneralFile);
    put("EMARGE_MAIL", QStringLiteral("ops@example.jp"), kGeneralFile);
    put("EMARGE_SOUND", state.AppFolder + QStringLiteral("alarm.wav"), kGeneralFile);
    put("USED_LAN", QStringLiteral("0"), kGeneralFile);
    put("DIAL_ENTRY", QStringLiteral("isp"), kGeneralFile);
    put("DIAL_USER", QStringLiteral("operator"), kGeneralFile);
    put("TEL1", QStringLiteral("03"), kGeneralFile);
    put("TEL2", QStringLiteral("1234"), kGeneralFile);
    put("TEL3", QStringLiteral("5678"), kGeneralFile);
    put("mINTERVAL", QStringLiteral("5"), kGeneralFile);
    put("RETRY", QStringLiteral("2"), kGeneralFile);

    testsupport::FakeRemoteAccess ras;
    ras.entries = {QStringLiteral("isp"), QStringLiteral("backup")};
    platform::QtWindowSystem ui;
    bool ok = true;
    Config config(state, ui, ras);
    ok = save(config, out.filePath(QStringLiteral("Config.png"))) && ok;
    LIST list(state, ui, nullptr, &config);
    ok = save(list, out.filePath(QStringLiteral("LIST.png"))) && ok;
    list.hide();
    config.hide();

    platform::SystemClock clock;
    frmLog log(state, ui, clock);
    log.model().append(u"2026-12-07 09:00:00", QStringLiteral("192.168.1.10"),
                       u"Reply from 192.168.1.10:fileserver: Bytes = 32 RTT = 1 ms TTL = 64", 1);
    log.model().append(u"2026-12-07 09:01:00", QStringLiteral("mail.example.jp"),
                       u"Reply from 10.0.0.5: mail.example.jp: ICMP Request Timeout", -1);
    log.model().append(
        u"2026-12-07 09:02:00", QStringLiteral("COM"),
        u"このポートは使用できません。ComPortプロパテイーを別のポートに設定してください。", -1);
    log.model().endFill();
    ok = save(log, out.filePath(QStringLiteral("frmLog.png"))) && ok;
    log.hide();

    frmPing ping(state, ui);
    ping.cPING_Ping(0, QStringLiteral("Success"), QStringLiteral("localhost"),
                    QStringLiteral("127.0.0.1"), 32, 0, 64);
    ping.cPING_Ping(-1, QStringLiteral("ICMP Request Timeout"), QString(), QString(), 0, 0, 0);
    ok = save(ping, out.filePath(QStringLiteral("frmPing.png"))) && ok;
    ping.hide();

    frmAbout about(state, ui, QStringLiteral(PW_VERSION));
    ok = save(about, out.filePath(QStringLiteral("frmAbout.png"))) && ok;
    about.hide();

    state.Servers[2].Status = -1;
    state.Servers[2].Message =
        QStringLiteral("Reply from 10.0.0.5: mail.example.jp: ICMP Request Timeout");
    state.Servers[2].Check = 1;
    state.Servers[3].Status = -1;
    state.Servers[3].Check = 1;
    testsupport::FakeSoundPlayer sound;
    monitor::EventLog events(state, clock);
    EmargMSG alarm(state, sound, events);
    ok = save(alarm, out.filePath(QStringLiteral("EmargMSG.png"))) && ok;
    return ok ? 0 : 1;
}
