#include "platform/SoundPlayer.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

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

} // namespace

QString wavProblem(const QString& path) {
    if (path.isEmpty())
        return QStringLiteral("警報音のファイルが設定されていません。");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("警報音のファイルを開けません: %1 (%2)").arg(path, f.errorString());
    const QByteArray head = f.read(64 * 1024);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return QStringLiteral("警報音のファイルが WAV 形式ではありません: %1").arg(path);
    // Walk the chunks to "fmt ".
    for (qsizetype at = 12; at + 8 <= head.size();) {
        const quint32 size = le32(head.constData() + at + 4);
        if (head.mid(at, 4) == "fmt ") {
            if (size < 16 || at + 8 + 16 > head.size())
                break;
            const char* fmt = head.constData() + at + 8;
            const quint16 format = le16(fmt);
            const quint16 bits = le16(fmt + 14);
            // 1 is plain PCM; 0xFFFE (extensible) carries PCM too.
            if ((format != 1 && format != 0xFFFE) || (bits != 8 && bits != 16))
                return QStringLiteral(
                           "警報音のファイルが 8/16 ビット PCM の WAV ではありません: %1")
                    .arg(path);
            return QString();
        }
        at += 8 + size + (size & 1);
    }
    return QStringLiteral("警報音のファイルが壊れています: %1").arg(path);
}

QtSoundPlayer::QtSoundPlayer() = default;
QtSoundPlayer::~QtSoundPlayer() {
    stop();
}

QString QtSoundPlayer::playLoop(const QString& path) {
    stop();
    const QString problem = wavProblem(path);
    if (!problem.isEmpty())
        return problem;
    // Without an output device QSoundEffect claims to play and stays silent.
    if (QMediaDevices::audioOutputs().isEmpty())
        return QStringLiteral("音声出力装置がありません。");
    m_effect = std::make_unique<QSoundEffect>();
    QObject::connect(m_effect.get(), &QSoundEffect::statusChanged, m_effect.get(), [this, path] {
        if (m_effect && m_effect->status() == QSoundEffect::Error && onLateFailure)
            onLateFailure(QStringLiteral("警報音を再生できません: %1").arg(path));
    });
    m_effect->setSource(QUrl::fromLocalFile(path));
    m_effect->setLoopCount(QSoundEffect::Infinite);
    m_effect->play();
    return QString();
}

void QtSoundPlayer::stop() {
    if (!m_effect)
        return;
    m_effect->stop();
    m_effect.reset();
}

} // namespace platform
