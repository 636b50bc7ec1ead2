// Opens the emergency window with the real sound player for the sound test
// script: prints OPEN once the window shows, closes it on the line "close"
// (printing CLOSED) and ends on "quit" or at the end of its input.
#include "alerts/EmargMSG.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "usage: emergency_sound FILE.wav\n");
        return 2;
    }
    QTemporaryDir dir;
    AppState state(dir.path());
    state.EMARGE_SOUND = QString::fromLocal8Bit(argv[1]);
    state.SERVER_CNT = 1;
    state.Servers[1] = {QStringLiteral("fileserver"), QString(), QString(), 1, -1};
    platform::SystemClock clock;
    events::EventLog log(state, clock);
    platform::QtSoundPlayer sound;

    auto* window = new EmargMSG(state, sound, log);
    window->show();
    std::printf("OPEN\n");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[64];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf - 1);
        const QByteArray line = n > 0 ? QByteArray(buf, n).trimmed() : QByteArray("quit");
        if (line == "close" && window) {
            window->close();
            delete window;
            window = nullptr;
            std::printf("CLOSED\n");
            std::fflush(stdout);
        } else if (line == "quit") {
            app.quit();
        }
    });
    const int rc = app.exec();
    delete window;
    // Why it was silent, if it was.
    QFile textLog(log.textLogPath());
    if (textLog.open(QIODevice::ReadOnly))
        std::fprintf(stderr, "text log: %s\n", textLog.readAll().constData());
    return rc;
}
