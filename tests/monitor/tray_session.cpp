// The tray window on a real display, wired as the program wires it, for the
// whole-desktop tests. Message boxes are shown for real and also written to
// standard output ("message: TEXT", line breaks as \n); standard input
// drives it, one command a line, so a test need not wait a minute for a
// monitoring cycle:
//   tick   one tick of Timer1
//   state  prints "tray=0|1 timer=0|1 icon=0|1": a tray is there, Timer1
//          runs at its interval, the tray icon is shown
//   quit   ends the program
// Usage: tray_session PROGRAM_FOLDER TRAY_WAIT_MS
#include "monitor/frmTray.h"
#include "settings/Settings.h"
#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

class EchoingWindowSystem : public platform::QtWindowSystem {
public:
    void messageBox(const QString& text, platform::MessageIcon icon,
                    platform::Modality modality) override {
        QString line = text;
        std::printf("message: %s\n",
                    line.replace(u'\n', QStringLiteral("\\n")).toUtf8().constData());
        std::fflush(stdout);
        platform::QtWindowSystem::messageBox(text, icon, modality);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tray_session PROGRAM_FOLDER TRAY_WAIT_MS\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    AppState state(QString::fromLocal8Bit(argv[1]) + QLatin1Char('/'));
    EchoingWindowSystem ui;
    platform::SystemClock clock;
    testsupport::FakeSoundPlayer sound;
    testsupport::RecordingSleeper sleeper;
    platform::Ending ending;
    platform::Services services{ui, clock, sound, sleeper, ending};
    testsupport::FakeRemoteAccess ras;
    monitor::ToolWindows tools;
    frmTray tray(state, services, tools, ras);
    tray.setTrayWait(QByteArray(argv[2]).toInt());
    QObject::connect(&tray, &frmTray::quitRequested, &app, &QApplication::quit);
    if (!tray.Form_Load())
        return 1;

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char chunk[256];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input.setEnabled(false);
            QCoreApplication::exit(0);
            return;
        }
        pending.append(chunk, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray command = pending.left(end).trimmed();
            if (command == "tick") {
                tray.tick();
            } else if (command == "state") {
                std::printf("tray=%d timer=%d icon=%d\n", ui.trayAvailable() ? 1 : 0,
                            tray.Timer1()->isActive() &&
                                    tray.Timer1()->interval() == frmTray::kTimerIntervalMs
                                ? 1
                                : 0,
                            tray.trayIcon()->isVisible() ? 1 : 0);
                std::fflush(stdout);
            } else if (command == "quit") {
                QCoreApplication::exit(0);
            }
        }
    });
    return app.exec();
}
