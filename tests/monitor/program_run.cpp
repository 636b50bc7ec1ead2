// The program as it ships, for whole-program tests that cannot wait a
// minute for each tick: the same wiring, with Timer1 ticking every TICK_MS.
// What cannot exist here is replaced and reported on standard output, one
// line each, with the milliseconds since the epoch:
//   sound MS PATH     the alarm sound started (the emergency window opened)
//   silence MS        it stopped
//   dial MS / hangup MS   with "fake-dialup": a dial-up link that connects at once
//   tick MS          Timer1 ticked
// Usage: program_run TICK_MS [fake-dialup]
#include "app/Program.h"
#include "monitor/frmTray.h"
#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QString& what) {
    std::printf("%s %lld\n", what.toUtf8().constData(),
                static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stdout);
}

class ReportingSound : public testsupport::FakeSoundPlayer {
public:
    QString playLoop(const QString& path) override {
        say(QStringLiteral("sound"));
        return FakeSoundPlayer::playLoop(path);
    }
    void stop() override {
        if (playing)
            say(QStringLiteral("silence"));
        FakeSoundPlayer::stop();
    }
};

// Sees Timer1's timer event before the timer hands it to the cycle.
class TickTeller : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer)
            say(QStringLiteral("tick"));
        return false;
    }
};

class ReportingDialup : public testsupport::FakeRemoteAccess {
public:
    qint32 dial(const QString& book, const dialup::DialParams& p, qint32* handle) override {
        say(QStringLiteral("dial"));
        return FakeRemoteAccess::dial(book, p, handle);
    }
    qint32 hangUp(qint32 handle) override {
        say(QStringLiteral("hangup"));
        return FakeRemoteAccess::hangUp(handle);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: program_run TICK_MS [fake-dialup]\n");
        return 2;
    }
    QApplication app(argc, argv);
    ReportingSound sound;
    ReportingDialup dialup;
    dialup.entries = {QStringLiteral("isp")};
    app::ProgramParts parts;
    parts.tickMs = QByteArray(argv[1]).toInt();
    parts.sound = &sound;
    if (argc > 2 && QByteArray(argv[2]) == "fake-dialup")
        parts.ras = &dialup;
    TickTeller teller;
    parts.loaded = [&teller](frmTray& tray) { tray.Timer1()->installEventFilter(&teller); };
    return app::runProgram(app, parts);
}
