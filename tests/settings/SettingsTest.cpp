#include "settings/Settings.h"

#include "support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    AppState state{dir.path()};

    void general(const char* key, const QString& value) {
        ASSERT_TRUE(WriteIniKey(state, kSettingsSection, QLatin1String(key), value, kGeneralFile));
    }
    void server(const QString& key, const QString& value) {
        ASSERT_TRUE(WriteIniKey(state, kSettingsSection, key, value, kServerListFile));
    }
    void servers(int written, int count) {
        for (int i = 1; i <= written; ++i) {
            server(QStringLiteral("SERVER_NAME%1").arg(i), QStringLiteral("host%1").arg(i));
            server(QStringLiteral("SERVER_ETC%1").arg(i), QStringLiteral("備考%1").arg(i));
            server(QStringLiteral("SERVER_CHECK%1").arg(i), QStringLiteral("1"));
        }
        server(QStringLiteral("SERVER_CNT"), QString::number(count));
    }
};

} // namespace

TEST_F(SettingsTest, WithoutFilesEverythingIsEmpty) {
    LoadSettings(state);
    EXPECT_EQ(state.SERVER_CNT, 0);
    EXPECT_EQ(state.mINTERVAL, 0);
    EXPECT_EQ(state.USED_LAN, 0);
    EXPECT_EQ(state.RETRY, QStringLiteral("0"));
    EXPECT_TRUE(state.DIAL_ENTRY.isEmpty());
    EXPECT_TRUE(state.COMSETTING.isEmpty());
    EXPECT_EQ(state.EMARGE_SECURITY, 0);     // the plain dialogue
    EXPECT_EQ(state.EMARGE_FROM, QString()); // the mail's own default sender
    EXPECT_FALSE(QFile::exists(dir.filePath(kGeneralFile)));
}

TEST_F(SettingsTest, GeneralKeysRoundTripThroughTheFile) {
    general("DIAL_ENTRY", QStringLiteral("会社ﾀﾞｲﾔﾙ"));
    general("DIAL_USER", QStringLiteral("user"));
    general("DIAL_PWD", QStringLiteral("p=ss;word"));
    general("EMARGE_SOUND", QStringLiteral("/usr/share/pulsewatch/①警報.wav"));
    general("mINTERVAL", QStringLiteral("5"));
    general("EMARGE_SERVER", QStringLiteral("smtp.example.jp"));
    general("EMARGE_MAIL", QStringLiteral("ops@example.jp"));
    general("EMARGE_MAIL2", QStringLiteral("night@example.jp"));
    general("USED_LAN", QStringLiteral("1"));
    general("TEL1", QStringLiteral("03"));
    general("TEL6", QStringLiteral("5678"));
    general("RETRY", QStringLiteral("3 times"));
    general("COMPORT", QStringLiteral("/dev/ttyUSB0"));
    general("COMSETTING", QStringLiteral("9600,N,8,1"));
    general("EMARGE_SECURITY", QStringLiteral("2"));
    general("EMARGE_PWD", QStringLiteral("p@ss=word;"));
    general("EMARGE_FROM", QStringLiteral("alerts@example.jp"));
    LoadSettings(state);

    EXPECT_EQ(state.DIAL_ENTRY, QStringLiteral("会社ﾀﾞｲﾔﾙ"));
    EXPECT_EQ(state.DIAL_PWD, QStringLiteral("p=ss;word"));
    EXPECT_EQ(state.EMARGE_SOUND, QStringLiteral("/usr/share/pulsewatch/①警報.wav"));
    EXPECT_EQ(state.mINTERVAL, 5);
    EXPECT_EQ(state.EMARGE_MAIL2, QStringLiteral("night@example.jp"));
    EXPECT_EQ(state.USED_LAN, 1);
    EXPECT_EQ(state.TEL1, QStringLiteral("03"));
    EXPECT_TRUE(state.TEL2.isEmpty());
    EXPECT_EQ(state.TEL6, QStringLiteral("5678"));
    EXPECT_EQ(state.RETRY, QStringLiteral("3"));
    EXPECT_EQ(state.COMPORT, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(state.COMSETTING, QStringLiteral("9600,N,8,1"));
    EXPECT_EQ(state.EMARGE_SECURITY, 2);
    EXPECT_EQ(state.EMARGE_PWD, QStringLiteral("p@ss=word;"));
    EXPECT_TRUE(state.EMARGE_USER.isEmpty());
    EXPECT_EQ(state.EMARGE_FROM, QStringLiteral("alerts@example.jp"));
}

// The files as an operator writes them with a Debian editor: UTF-8, quoted
// values, with or without a byte-order mark.
TEST_F(SettingsTest, FilesWrittenByHandInUtf8WithQuotesLoad) {
    QFile general(dir.filePath(kGeneralFile));
    ASSERT_TRUE(general.open(QIODevice::WriteOnly));
    general.write(QStringLiteral("[Pulsewatch]\nEMARGE_SOUND=/home/op/警報.wav\n"
                                 "EMARGE_MAIL=\"ops@example.jp\"\nUSED_LAN=1\n")
                      .toUtf8());
    general.close();
    QFile list(dir.filePath(kServerListFile));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("\xEF\xBB\xBF" +
               QStringLiteral("[Pulsewatch]\r\nSERVER_CNT=1\r\n"
                              "SERVER_NAME1=\"srv1\"\r\nSERVER_ETC1=本社 \"A\"棟\r\n"
                              "SERVER_CHECK1=\"1\"\r\n")
                   .toUtf8());
    list.close();
    LoadSettings(state);
    EXPECT_EQ(state.EMARGE_SOUND, QStringLiteral("/home/op/警報.wav"));
    EXPECT_EQ(state.EMARGE_MAIL, QStringLiteral("ops@example.jp"));
    EXPECT_EQ(state.USED_LAN, 1);
    ASSERT_EQ(state.SERVER_CNT, 1);
    EXPECT_EQ(state.Servers[1].Name, QStringLiteral("srv1"));
    EXPECT_EQ(state.Servers[1].Remark, QStringLiteral("本社 \"A\"棟"));
    EXPECT_EQ(state.Servers[1].Check, 1);
}

// A FIFO named like a settings file is no file: the start goes on at once
// as without the files.
TEST_F(SettingsTest, FifosInPlaceOfTheFilesDoNotHoldTheLoad) {
    for (const QString& name : {kGeneralFile, kServerListFile})
        ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(name)).constData(), 0600), 0);
    state.SERVER_CNT = 3;
    EXPECT_TRUE(testsupport::returnsWithin(2000, dir.filePath(kServerListFile), [&] {
        EXPECT_TRUE(testsupport::returnsWithin(1000, dir.filePath(kGeneralFile),
                                               [&] { LoadSettings(state); }));
    }));
    EXPECT_EQ(state.SERVER_CNT, 0);
    EXPECT_EQ(state.RETRY, QStringLiteral("0"));
}

// Saves killed at any moment leave the whole file, old or new; the copy a
// save writes has no name until the rename, and what a kill in that last
// instant, or a crash of an earlier version, left is removed at the start.
// Copies the operator made are not.
TEST_F(SettingsTest, KilledSavesLeaveTheFileWholeAndTheStartClearsTheirCopies) {
    const QString big = QString(4000, u'x');
    general("DIAL_PWD", big);
    const QString file = dir.filePath(kGeneralFile);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    f.close();
    QStringList copies;
    for (int round = 0; round < 20; ++round) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;)
                WriteIniKey(state, kSettingsSection, QStringLiteral("DIAL_PWD"), big, kGeneralFile);
        }
        ::usleep(2000 + QRandomGenerator::global()->bounded(20000));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), whole) << "round " << round;
        f.close();
        QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        files.removeAll(kGeneralFile);
        copies = files;
    }
    EXPECT_LE(copies.size(), 1) << copies.join(QLatin1Char(' ')).toStdString();

    const QStringList kept = {QStringLiteral("Pulsewatch.backup"),
                              QStringLiteral("Pulsewatch.BAK001"),
                              QStringLiteral("ServerList.orig"), QStringLiteral("notes.txt")};
    for (const QString& name : kept + QStringList{QStringLiteral("Pulsewatch.k3XqZ9"),
                                                  QStringLiteral("ServerList.aB0cDe")}) {
        QFile copy(dir.filePath(name));
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.write(whole);
    }
    LoadSettings(state);
    EXPECT_EQ(state.DIAL_PWD, big.left(1023));
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    left.removeAll(kGeneralFile);
    left.sort();
    QStringList expected = kept;
    expected.sort();
    EXPECT_EQ(left, expected);
}

TEST_F(SettingsTest, IntegersAndRetryAreConvertedOnLoad) {
    // A security mode that is no number must not read as 0, the plain
    // dialogue that would send the password in clear.
    struct Case {
        const char* interval;
        qint16 loaded;
        const char* retry;
        const char* retryLoaded;
        const char* security;
        qint16 securityLoaded;
    } cases[] = {{"2.5", 2, "2.5", "2.5", "starttls", -1},
                 {"3.5", 4, "x1", "0", " 1 ", 1},
                 {"70000", 32767, "", "0", "", 0},
                 {"&H10", 16, " 1 0", "10", "2 tls", -1}};
    for (const Case& c : cases) {
        general("mINTERVAL", QLatin1String(c.interval));
        general("RETRY", QLatin1String(c.retry));
        general("EMARGE_SECURITY", QLatin1String(c.security));
        LoadSettings(state);
        EXPECT_EQ(state.mINTERVAL, c.loaded) << c.interval;
        EXPECT_EQ(state.RETRY, QLatin1String(c.retryLoaded)) << c.retry;
        EXPECT_EQ(state.EMARGE_SECURITY, c.securityLoaded) << c.security;
    }
}

TEST_F(SettingsTest, TenServersUseTheTwoDigitKeys) {
    servers(10, 10);
    LoadSettings(state);
    ASSERT_EQ(state.SERVER_CNT, 10);
    EXPECT_EQ(state.Servers[10].Name, QStringLiteral("host10"));
    EXPECT_EQ(state.Servers[10].Remark, QStringLiteral("備考10"));
    EXPECT_EQ(state.Servers[10].Check, 1);
}

TEST_F(SettingsTest, KeysBeyondTheCountAreNeverRead) {
    servers(5, 3);
    state.Servers[4].Name = QStringLiteral("kept");
    state.Servers[1].Message = QStringLiteral("last line");
    state.Servers[1].Status = -1;
    LoadSettings(state);
    EXPECT_EQ(state.SERVER_CNT, 3);
    EXPECT_EQ(state.Servers[3].Name, QStringLiteral("host3"));
    EXPECT_EQ(state.Servers[4].Name, QStringLiteral("kept"));
    // Loading never touches what the monitoring cycle wrote.
    EXPECT_EQ(state.Servers[1].Message, QStringLiteral("last line"));
    EXPECT_EQ(state.Servers[1].Status, -1);
}

TEST_F(SettingsTest, CountsOutsideTheTableAreBounded) {
    servers(12, 15);
    LoadSettings(state);
    EXPECT_EQ(state.SERVER_CNT, 10);
    EXPECT_EQ(state.Servers[10].Name, QStringLiteral("host10"));

    server(QStringLiteral("SERVER_CNT"), QStringLiteral("-3"));
    LoadSettings(state);
    EXPECT_EQ(state.SERVER_CNT, 0);

    server(QStringLiteral("SERVER_CNT"), QStringLiteral("99999"));
    LoadSettings(state);
    EXPECT_EQ(state.SERVER_CNT, 10);
}

TEST_F(SettingsTest, AnAbsentCheckKeyLoadsAsNotWatched) {
    server(QStringLiteral("SERVER_NAME1"), QStringLiteral("db01"));
    server(QStringLiteral("SERVER_CNT"), QStringLiteral("1"));
    LoadSettings(state);
    EXPECT_EQ(state.Servers[1].Name, QStringLiteral("db01"));
    EXPECT_EQ(state.Servers[1].Check, 0);
}

TEST_F(SettingsTest, AHostileServerListLoadsWithTheFirstKeyWinning) {
    QFile f(dir.filePath(kServerListFile));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xEF\xBB\xBF[PULSEWATCH]\n\x82\xA0\x82\nserver_cnt=2\r\nSERVER_CNT=9\r\n"
            "SERVER_NAME1=it's \"quoted\"\r\nSERVER_NAME1=second\r\nSERVER_CHECK1=1\r\n"
            "SERVER_NAME2=" +
            QByteArray(5000, 'n') + "\r\nSERVER_CHECK2=-1");
    f.close();
    LoadSettings(state);
    ASSERT_EQ(state.SERVER_CNT, 2);
    EXPECT_EQ(state.Servers[1].Name, QStringLiteral("it's \"quoted\""));
    EXPECT_EQ(state.Servers[1].Check, 1);
    EXPECT_EQ(state.Servers[2].Name.size(), 1023);
    EXPECT_EQ(state.Servers[2].Check, -1);
}

TEST(SettingsPaths, AppFolderEndsInOneSlash) {
    EXPECT_EQ(AppState(QStringLiteral("/")).AppFolder, QStringLiteral("/"));
    EXPECT_EQ(AppState(QStringLiteral("/opt/pw")).AppFolder, QStringLiteral("/opt/pw/"));
    EXPECT_EQ(AppState(QStringLiteral("/opt/pw/")).DatabasePath, QStringLiteral("/opt/pw/PLW"));
    EXPECT_TRUE(GetAppFolder().endsWith(QLatin1Char('/')));
    EXPECT_FALSE(GetAppFolder().endsWith(QStringLiteral("//")));
}

TEST(SettingsPaths, FileExtension) {
    EXPECT_EQ(GetFileExt(QStringLiteral("/snd/alarm.wav")), QStringLiteral("WAV"));
    EXPECT_EQ(GetFileExt(QStringLiteral("alarm.Wav")), QStringLiteral("WAV"));
    EXPECT_EQ(GetFileExt(QStringLiteral("C:\\dir.x\\alarm")), QString());
    EXPECT_EQ(GetFileExt(QStringLiteral("/dir.x/alarm")), QString());
    EXPECT_EQ(GetFileExt(QStringLiteral("alarm.")), QString());
    EXPECT_EQ(GetFileExt(QStringLiteral("alarm")), QString());
    EXPECT_EQ(GetFileExt(QStringLiteral("a/b.c")), QStringLiteral("C"));
    EXPECT_EQ(GetFileExt(QStringLiteral("alarm.wave")), QStringLiteral("WAVE"));
}

// A new user writes the files the README's quick start shows, and nothing
// else: that must give a watch that probes its servers, not one that dials
// before every cycle (USED_LAN absent reads as 0, "not on a LAN").
TEST_F(SettingsTest, TheReadmeQuickStartWatchesWithoutDialling) {
    QFile readme(QStringLiteral(PW_README));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const QString quickStart = text.section(QStringLiteral("## "), 1, 1);
    int blocks = 0;
    for (qsizetype at = 0; (at = quickStart.indexOf(QStringLiteral("```ini\n"), at)) >= 0;) {
        at += 7;
        const QString body = quickStart.mid(at, quickStart.indexOf(QStringLiteral("```"), at) - at);
        const QString file =
            body.contains(QStringLiteral("SERVER_CNT")) ? kServerListFile : kGeneralFile;
        for (const QString& line : body.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.contains(QLatin1Char('='))) {
                ASSERT_TRUE(WriteIniKey(state, kSettingsSection,
                                        line.section(QLatin1Char('='), 0, 0),
                                        line.section(QLatin1Char('='), 1), file));
            }
        }
        ++blocks;
    }
    ASSERT_GT(blocks, 0) << "no ini example in the first section of the README";
    LoadSettings(state);
    EXPECT_GT(state.SERVER_CNT, 0);
    for (int i = 1; i <= state.SERVER_CNT; ++i)
        EXPECT_EQ(state.Servers[i].Check, 1) << i;
    EXPECT_NE(state.USED_LAN, 0) << "every cycle would dial and probe nothing";
}
