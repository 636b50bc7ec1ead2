#include "alerts/EmargMSG.h"

#include "platform/AnsiText.h"
#include "support/FakePlatform.h"
#include "support/TestFolder.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

#include <sys/stat.h>

using testsupport::FakeSoundPlayer;
using testsupport::FixedClock;
using testsupport::TestFolder;

namespace {

class EmargMSGTest : public ::testing::Test {
protected:
    TestFolder folder;
    AppState state{folder.folder()};
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(3, 4, 5))};
    events::EventLog log{state, clock};
    FakeSoundPlayer sound;

    void SetUp() override {
        state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
        state.EMARGE_SOUND = folder.path(QStringLiteral("alarm.wav"));
        state.SERVER_CNT = 5;
        set(1, "fileserver", -1, 1, "Reply from 10.0.0.5:fileserver: ICMP Request Timeout");
        set(2, "mail.example.jp", 1, 1, "Reply from 10.0.0.6:mail: Bytes = 32 RTT = 1 ms TTL = 64");
        set(3, "db'1", -1, 1, "");
        set(4, "old", -1, -1, "down in an earlier cycle, watching paused since");
        set(5, "never", -1, 0, "check key absent");
    }
    void set(int i, const char* name, qint16 status, qint16 check, const char* message) {
        state.Servers[i] = {QString::fromUtf8(name), QString::fromUtf8(message), QString(), check,
                            status};
    }
    QStringList textLog() const {
        return platform::fromAnsi(folder.read(QStringLiteral("Pulsewatch.LOG")))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
};

} // namespace

TEST_F(EmargMSGTest, ListsTheWatchedServersFoundDownAndLoopsTheSound) {
    {
        EmargMSG window(state, sound, log);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("SERVER ERROR"));
        EXPECT_EQ(window.findChild<QGroupBox*>(QStringLiteral("Frame1"))->title(),
                  QStringLiteral("ERROR REPORT"));
        EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().size(),
                  QSize(182, 227));
        EXPECT_EQ(window.listText(),
                  QStringLiteral("【fileserver】 - Reply from 10.0.0.5:fileserver: ICMP Request "
                                 "Timeout\r\n【db'1】 - 原因不明\r\n"));
        EXPECT_EQ(window.findChild<QPlainTextEdit*>(QStringLiteral("Text1"))->toPlainText(),
                  QStringLiteral("【fileserver】 - Reply from 10.0.0.5:fileserver: ICMP Request "
                                 "Timeout\n【db'1】 - 原因不明\n"));
        EXPECT_EQ(sound.started, QList<QString>{state.EMARGE_SOUND});
        EXPECT_TRUE(sound.playing);

        window.show();
        window.close(); // the window's close box
        EXPECT_FALSE(sound.playing);
        EXPECT_EQ(sound.stops, 1);
    }
    EXPECT_EQ(sound.stops, 1) << "stopped once, not again when the window is destroyed";
    EXPECT_FALSE(QFile::exists(log.textLogPath()));
}

TEST_F(EmargMSGTest, EachShowingStartsWithAnEmptyList) {
    { EmargMSG first(state, sound, log); }
    state.Servers[1].Status = 1;
    EmargMSG second(state, sound, log);
    EXPECT_EQ(second.listText(), QStringLiteral("【db'1】 - 原因不明\r\n"));
}

TEST_F(EmargMSGTest, ASoundThatCannotPlayStillOpensTheWindowAndLogsOnce) {
    platform::QtSoundPlayer real;
    folder.write(QStringLiteral("broken.wav"), QByteArray("RIFF\x10\0\0\0WAVEjunkjunk", 20));
    const struct {
        QString path;
        const char* logged;
    } cases[] = {
        {folder.path(QStringLiteral("missing.wav")), "警報音のファイルを開けません"},
        {folder.path(QStringLiteral("broken.wav")), "警報音のファイルが壊れています"},
        {QString(), "警報音のファイルを開けません: "}, // the program folder's alarm.wav
    };
    int lines = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        state.EMARGE_SOUND = c.path;
        EmargMSG window(state, real, log);
        EXPECT_EQ(window.listText().count(QStringLiteral("\r\n")), 2);
        const QStringList logged = textLog();
        ASSERT_EQ(logged.size(), ++lines);
        EXPECT_TRUE(logged.last().startsWith(QStringLiteral("2026/12/07 3:04:05  -> ")));
        EXPECT_TRUE(logged.last().contains(QString::fromUtf8(c.logged))) << logged.last();
    }
    EXPECT_TRUE(textLog().last().contains(folder.path(QStringLiteral("alarm.wav"))));
}

// What the player is given is checked as it will play: samples only as far
// as the file really holds them (a streamed recording leaves its sizes at
// 0xFFFFFFFF, a cut file claims more), and nothing it cannot play silently.
TEST(WavCheck, TheSamplesAreWhatTheFileHolds) {
    EXPECT_EQ(platform::wavProblem(QStringLiteral(PW_DEFAULT_ALARM)), QString());
    QFile shipped(QStringLiteral(PW_DEFAULT_ALARM));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    const QByteArray good = shipped.readAll(); // 44-byte header, 16-bit mono
    const QByteArray samples = good.mid(44);
    auto withSizes = [&](const char* riff, const char* data, qsizetype keep = -1) {
        QByteArray w = good.left(44) + (keep < 0 ? samples : samples.left(keep));
        w.replace(4, 4, QByteArray(riff, 4));
        w.replace(40, 4, QByteArray(data, 4));
        return w;
    };
    TestFolder folder(false);
    QByteArray floatWav = QByteArray("RIFF\0\0\0\0WAVEfmt \x10\0\0\0", 20);
    floatWav +=
        QByteArray("\x03\0\x01\0\x44\xAC\0\0\0\0\0\0\x04\0\x20\0", 16); // IEEE float, 32 bit
    const struct {
        const char* name;
        QByteArray bytes;
        const char* problem; // "" when it plays
        qint64 dataBytes;
        bool sizesWrong;
    } cases[] = {
        {"good.wav", good, "", samples.size(), false},
        {"streamed.wav", withSizes("\xff\xff\xff\xff", "\xff\xff\xff\xff"), "", samples.size(),
         true},
        {"cut.wav", withSizes("\x00\x10\0\0", "\x00\x10\0\0", 1001), "", 1000, true},
        {"empty.wav", withSizes("\x24\0\0\0", "\0\0\0\0", 0), "音のデータがありません", 0, false},
        {"float.wav", floatWav, "PCM", 0, false},
        {"text.wav", "not a sound at all", "WAV 形式ではありません", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        folder.write(QLatin1String(c.name), c.bytes);
        const platform::WavFile wav = platform::readWav(folder.path(QLatin1String(c.name)));
        if (*c.problem) {
            EXPECT_TRUE(wav.problem.contains(QString::fromUtf8(c.problem))) << wav.problem;
            continue;
        }
        EXPECT_EQ(wav.problem, QString());
        EXPECT_EQ(wav.dataBytes, c.dataBytes);
        EXPECT_EQ(wav.sizesWrong, c.sizesWrong);
    }
    // Not a regular file: missing, and no hang.
    const QByteArray fifo = QFile::encodeName(folder.path(QStringLiteral("fifo.wav")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    EXPECT_TRUE(platform::wavProblem(QString::fromLocal8Bit(fifo))
                    .contains(QStringLiteral("通常のファイルではありません")));
}
