#pragma once

#include <QString>

#include <functional>
#include <memory>

class QSoundEffect;

namespace platform {

/// Plays a WAV file in a loop in the background until stopped.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;

    /// Starts path looping and returns at once. Returns "" when it plays,
    /// otherwise why it stays silent (missing file, not a PCM WAV, no audio
    /// device); a failure found only later is handed to onLateFailure.
    virtual QString playLoop(const QString& path) = 0;
    virtual void stop() = 0;

    std::function<void(const QString& why)> onLateFailure;
};

/// QSoundEffect: it never blocks and survives a machine without audio,
/// where a media player would crash.
class QtSoundPlayer : public SoundPlayer {
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;
    QString playLoop(const QString& path) override;
    void stop() override;

private:
    std::unique_ptr<QSoundEffect> m_effect;
};

/// Why path cannot be played as a WAV file ("" when it can): only 8- and
/// 16-bit PCM is played.
QString wavProblem(const QString& path);

} // namespace platform
