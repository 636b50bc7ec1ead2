#pragma once

#include "platform/Sleeper.h"
#include "platform/SoundPlayer.h"

#include <QList>
#include <QString>

namespace testsupport {

/// Records what would have played instead of playing it.
class FakeSoundPlayer : public platform::SoundPlayer {
public:
    QList<QString> started; // one path per playLoop
    int stops = 0;
    bool playing = false;
    QString problem; // what playLoop reports

    QString playLoop(const QString& path) override {
        started << path;
        playing = problem.isEmpty();
        return problem;
    }
    void stop() override {
        ++stops;
        playing = false;
    }
};

/// Records pauses instead of waiting.
class RecordingSleeper : public platform::Sleeper {
public:
    QList<int> waits;
    bool sleepMs(int ms) override {
        waits << ms;
        return true;
    }
};

} // namespace testsupport
