#include "platform/SoundPlayer.h"

#include "platform/FileIo.h"

#include <QAudioDevice>
#include <QDir>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTemporaryFile>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

quint32 le32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return u[0] | (u[1] << 8) | (u[2] << 16) | (quint32(u[3]) << 24);
}

quint16 le16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<quint16>(u[0] | (u[1] << 8));
}

// The samples of wav under a header that counts them, in a temporary file
// that lives as long as the sound plays.
std::unique_ptr<QTemporaryFile> correctedCopy(const QString& path, const WavFile& wav,
                                              QString* problem) {
    auto copy = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                 QStringLiteral("/pulsewatch-alarm-XXXXXX.wav"));
    QFile in(path);
    auto le = [](quint32 v) {
        const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        return QByteArray(b, 4);
    };
    bool ok = copy->open() && in.open(QIODevice::ReadOnly) && in.seek(wav.dataOffset);
    if (ok) {
        QByteArray fmt = wav.fmt;
        if (fmt.size() % 2)
            fmt += '\0';
        QByteArray header = "RIFF" + le(quint32(4 + 8 + fmt.size() + 8 + wav.dataBytes)) +
                            "WAVEfmt " + le(quint32(fmt.size())) + fmt + "data" +
                            le(quint32(wav.dataBytes));
        ok = copy->write(header) == header.size();
        for (qint64 left = wav.dataBytes; ok && left > 0;) {
            const QByteArray chunk = in.read(std::min<qint64>(left, 256 * 1024));
            ok = !chunk.isEmpty() && copy->write(chunk) == chunk.size();
            left -= chunk.size();
        }
        ok = ok && copy->flush();
    }
    if (ok)
        return copy;
    *problem = QStringLiteral("警報音のファイルを再生用に書き直せません: %1 (%2)")
                   .arg(path, copy->errorString());
    return nullptr;
}

} // namespace

WavFile readWav(const QString& path) {
    WavFile wav;
    if (path.isEmpty()) {
        wav.problem = QStringLiteral("警報音のファイルが設定されていません。");
        return wav;
    }
    // Without blocking, and only a regular file: a FIFO or a device named
    // as the sound must not hang the alarm.
    FileKind kind = FileKind::Missing;
    int error = 0;
    const int fd = openRegularFile(path, &kind, &error);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const QString why = kind == FileKind::NotRegular
                                ? QStringLiteral("通常のファイルではありません")
                                : QString::fromLocal8Bit(std::strerror(error ? error : ENOENT));
        if (fd >= 0)
            ::close(fd);
        wav.problem = QStringLiteral("警報音のファイルを開けません: %1 (%2)").arg(path, why);
        return wav;
    }
    QFile f;
    f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const qint64 fileSize = st.st_size;
    const QByteArray head = f.read(64 * 1024);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE") {
        wav.problem = QStringLiteral("警報音のファイルが WAV 形式ではありません: %1").arg(path);
        return wav;
    }
    // Walk the chunks to "fmt " and then "data".
    QByteArray fmt;
    for (qint64 at = 12; at + 8 <= head.size();) {
        const quint32 size = le32(head.constData() + at + 4);
        const QByteArray id = head.mid(at, 4);
        if (id == "fmt ") {
            if (size < 16 || at + 8 + 16 > head.size())
                break;
            fmt = head.mid(at + 8, std::min<qint64>(size, head.size() - at - 8));
            const quint16 format = le16(fmt.constData());
            const quint16 bits = le16(fmt.constData() + 14);
            // 1 is plain PCM; 0xFFFE (extensible) carries PCM too.
            if ((format != 1 && format != 0xFFFE) || (bits != 8 && bits != 16)) {
                wav.problem =
                    QStringLiteral("警報音のファイルが 8/16 ビット PCM の WAV ではありません: %1")
                        .arg(path);
                return wav;
            }
        } else if (id == "data" && !fmt.isEmpty()) {
            // A recorder that streams leaves the sizes at 0xFFFFFFFF, one
            // cut short claims more than is there: the samples are what the
            // file holds, whole frames only.
            const qint64 there = fileSize - (at + 8);
            const qint64 frame = std::max<quint16>(le16(fmt.constData() + 12), 1);
            const qint64 bytes = std::min<qint64>(size, there) / frame * frame;
            if (bytes <= 0) {
                wav.problem =
                    QStringLiteral("警報音のファイルに音のデータがありません: %1").arg(path);
                return wav;
            }
            wav.fmt = fmt;
            wav.dataOffset = at + 8;
            wav.dataBytes = bytes;
            wav.sizesWrong = bytes != size || le32(head.constData() + 4) != fileSize - 8;
            return wav;
        }
        at += 8 + qint64(size) + (size & 1);
    }
    wav.problem = QStringLiteral("警報音のファイルが壊れています: %1").arg(path);
    return wav;
}

QString wavProblem(const QString& path) {
    return readWav(path).problem;
}

QtSoundPlayer::QtSoundPlayer() = default;
QtSoundPlayer::~QtSoundPlayer() {
    stop();
}

QString QtSoundPlayer::playLoop(const QString& path) {
    stop();
    const WavFile wav = readWav(path);
    if (!wav.problem.isEmpty())
        return wav.problem;
    // Without an output device QSoundEffect claims to play and stays silent.
    if (QMediaDevices::audioOutputs().isEmpty())
        return QStringLiteral("音声出力装置がありません。");
    QString source = path;
    if (wav.sizesWrong) {
        // The player stays silent on sizes that do not match the file: it
        // plays a copy whose sizes say what is there.
        QString problem;
        m_copy = correctedCopy(path, wav, &problem);
        if (!m_copy)
            return problem;
        source = m_copy->fileName();
    }
    m_effect = std::make_unique<QSoundEffect>();
    QObject::connect(m_effect.get(), &QSoundEffect::statusChanged, m_effect.get(), [this, path] {
        if (m_effect && m_effect->status() == QSoundEffect::Error && onLateFailure)
            onLateFailure(QStringLiteral("警報音を再生できません: %1").arg(path));
    });
    m_effect->setSource(QUrl::fromLocalFile(source));
    m_effect->setLoopCount(QSoundEffect::Infinite);
    m_effect->play();
    return QString();
}

void QtSoundPlayer::stop() {
    if (m_effect) {
        m_effect->stop();
        m_effect.reset();
    }
    m_copy.reset();
}

} // namespace platform
