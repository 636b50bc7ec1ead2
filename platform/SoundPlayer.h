#pragma once

#include <QString>

#include <functional>
#include <memory>

class QSoundEffect;
class QTemporaryFile;

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
    std::unique_ptr<QTemporaryFile> m_copy; // what plays when the file's sizes were wrong
};

/// What a WAV file holds, as the player will play it.
struct WavFile {
    QString problem;         ///< why it cannot play; "" when it can
    QByteArray fmt;          ///< its "fmt " chunk
    qint64 dataOffset = 0;   ///< where its samples start
    qint64 dataBytes = 0;    ///< how many bytes of whole frames the file really holds
    bool sizesWrong = false; ///< the header's sizes are not the file's (streamed, cut short)
};

/// Reads the header of the WAV file at path, without blocking on a FIFO or
/// a device (anything not a regular file cannot play).
WavFile readWav(const QString& path);

/// Why path cannot be played as a WAV file ("" when it can): only 8- and
/// 16-bit PCM with samples in it is played.
QString wavProblem(const QString& path);

} // namespace platform
