#include "settings/IniFile.h"

#include "platform/AnsiText.h"
#include "support/FolderTrouble.h"
#include "support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

using settings::readProfileString;
using settings::writeProfileString;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Pulsewatch"));

    void put(const QByteArray& content) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray content() const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString read(const QString& key, const QString& section = QStringLiteral("Pulsewatch")) {
        return readProfileString(path, section, key, QStringLiteral("<none>"));
    }
    bool write(const QString& key, const QString& value,
               const QString& section = QStringLiteral("Pulsewatch")) {
        return writeProfileString(path, section, key, value);
    }
};

mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST_F(IniFileTest, FirstWriteCreatesThePrivateFileWithCrLf) {
    EXPECT_EQ(read(QStringLiteral("TEL1")), QStringLiteral("<none>"));
    ASSERT_TRUE(write(QStringLiteral("TEL1"), QStringLiteral("03")));
    ASSERT_TRUE(write(QStringLiteral("TEL2"), QStringLiteral("1234")));
    EXPECT_EQ(content(), QByteArray("[Pulsewatch]\r\nTEL1=03\r\nTEL2=1234\r\n"));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Pulsewatch")});
}

TEST_F(IniFileTest, ReplacesInPlaceAndAppendsToItsSection) {
    put("; operator notes\r\n[Other]\r\nTEL1=x\r\n\r\n[pulsewatch]\r\n tel1 = 03 \r\nCOMPORT=1\r\n"
        "\r\n[Last]\r\nA=1\r\n");
    EXPECT_EQ(read(QStringLiteral("TEL1")), QStringLiteral("03"));
    ASSERT_TRUE(write(QStringLiteral("TEL1"), QStringLiteral("06")));
    ASSERT_TRUE(write(QStringLiteral("RETRY"), QStringLiteral("2")));
    ASSERT_TRUE(write(QStringLiteral("NEW"), QStringLiteral("v"), QStringLiteral("Fresh")));
    EXPECT_EQ(content(), QByteArray("; operator notes\r\n[Other]\r\nTEL1=x\r\n\r\n[pulsewatch]\r\n"
                                    "TEL1=06\r\nCOMPORT=1\r\nRETRY=2\r\n\r\n[Last]\r\nA=1\r\n"
                                    "[Fresh]\r\nNEW=v\r\n"));
    EXPECT_EQ(read(QStringLiteral("tel1"), QStringLiteral("OTHER")), QStringLiteral("x"));
    EXPECT_EQ(read(QStringLiteral("A"), QStringLiteral("Pulsewatch")), QStringLiteral("<none>"));
}

TEST_F(IniFileTest, KeepsTheModeOfAnExistingFile) {
    put("[Pulsewatch]\r\nA=1\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(write(QStringLiteral("A"), QStringLiteral("2")));
    EXPECT_EQ(modeOf(path), 0640u);
}

TEST_F(IniFileTest, AFailedWriteLeavesNothingBehind) {
    const QString missingFolder = dir.filePath(QStringLiteral("gone/Pulsewatch"));
    EXPECT_FALSE(writeProfileString(missingFolder, QStringLiteral("S"), QStringLiteral("K"),
                                    QStringLiteral("v")));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(IniFileTest, CodePage932TextSurvivesAWriteAndARead) {
    const QString text = QStringLiteral("漢字①ｶﾅ～\\share");
    ASSERT_TRUE(write(QStringLiteral("EMARGE_SOUND"), text));
    EXPECT_EQ(read(QStringLiteral("EMARGE_SOUND")), text);
    EXPECT_TRUE(content().contains(platform::toAnsi(text)));
    EXPECT_TRUE(content().contains(QByteArray("\x8A\xBF\x8E\x9A\x87\x40")));
}

TEST_F(IniFileTest, LineBreaksInAValueCannotAddEntries) {
    ASSERT_TRUE(write(QStringLiteral("SERVER_ETC1"), QStringLiteral("a\r\nSERVER_CNT=99\nb")));
    EXPECT_EQ(read(QStringLiteral("SERVER_CNT")), QStringLiteral("<none>"));
    EXPECT_EQ(read(QStringLiteral("SERVER_ETC1")), QStringLiteral("a  SERVER_CNT=99 b"));
}

TEST_F(IniFileTest, HostileFilesLoadAndKeepTheirOtherBytes) {
    QByteArray hostile("\xEF\xBB\xBF[Pulsewatch]\nno equals sign here\r\n");
    hostile += "BAD=\x81\x20\xFD\xFF\r\n";
    hostile += "LONG=" + QByteArray(200000, 'x') + "\r\n";
    hostile += "DUP=first\r\nDUP=second\r\n=orphan value\r\n";
    hostile += "LAST=no line end";
    put(hostile);

    EXPECT_EQ(read(QStringLiteral("DUP")), QStringLiteral("first"));
    EXPECT_EQ(read(QStringLiteral("LAST")), QStringLiteral("no line end"));
    EXPECT_EQ(read(QStringLiteral("no equals sign here")), QStringLiteral("<none>"));
    EXPECT_EQ(read(QStringLiteral("LONG")).size(), settings::kProfileBufferSize - 1);
    EXPECT_TRUE(read(QStringLiteral("BAD")).contains(QChar(0xFFFD)));

    ASSERT_TRUE(write(QStringLiteral("DUP"), QStringLiteral("third")));
    ASSERT_TRUE(write(QStringLiteral("NEW"), QStringLiteral("1")));
    const QByteArray after = content();
    EXPECT_TRUE(after.startsWith("\xEF\xBB\xBF[Pulsewatch]\r\n"));
    EXPECT_TRUE(after.contains("BAD=\x81\x20\xFD\xFF\r\n"));
    EXPECT_TRUE(after.contains("DUP=third\r\nDUP=second\r\n"));
    EXPECT_TRUE(after.endsWith("LAST=no line end\r\nNEW=1\r\n"));
    EXPECT_EQ(read(QStringLiteral("LONG")), QString(settings::kProfileBufferSize - 1, u'x'));
}

TEST_F(IniFileTest, LongValuesAreCutBetweenCharacters) {
    // 1022 ASCII bytes and then a double-byte character: the buffer holds
    // 1023 bytes, which would split it, so the value ends before it.
    put("[Pulsewatch]\r\nV=" + QByteArray(1022, 'a') + "\x93\xFA" + "\r\n");
    EXPECT_EQ(read(QStringLiteral("V")), QString(1022, u'a'));
    EXPECT_EQ(readProfileString(path, QStringLiteral("Pulsewatch"), QStringLiteral("V"), {}, 5),
              QStringLiteral("aaaa"));
}

TEST_F(IniFileTest, OversizedFilesAreNeverRewritten) {
    QByteArray big("[Pulsewatch]\r\nA=1\r\n");
    big += QByteArray(settings::kMaxProfileFileSize, ';');
    put(big);
    EXPECT_EQ(read(QStringLiteral("A")), QStringLiteral("1"));
    EXPECT_FALSE(write(QStringLiteral("A"), QStringLiteral("2")));
    EXPECT_EQ(content().size(), big.size());
}

// A save reaches the file the operator keeps the settings in, wherever it
// lives, keeps that file's mode and owner, and never replaces a file the
// user may not write; otherwise it says why not.
TEST_F(IniFileTest, ASaveReachesTheRealFileOrSaysWhyNot) {
    using testsupport::Trouble;
    const QByteArray before("[Pulsewatch]\r\nA=1\r\n");
    const QByteArray after("[Pulsewatch]\r\nA=2\r\n");
    struct Case {
        const char* name;
        bool existing;
        bool linked; // the settings file is a symbolic link to real/Pulsewatch
        std::optional<Trouble> trouble;
        bool ok;
        int error;
        const char* mode; // of the real file afterwards
    };
    const Case cases[] = {
        {"through a symbolic link", true, true, std::nullopt, true, 0, "640"},
        {"read-only folder, writable file", true, false, Trouble::ReadOnlyFolder, true, 0, "640"},
        {"read-only folder, no file yet", false, false, Trouble::ReadOnlyFolder, false, EACCES,
         "0"},
        {"full disk", true, false, Trouble::FullDisk, false, ENOSPC, "640"},
        {"read-only file in a writable folder", true, false, Trouble::ReadOnlyFiles, false, EACCES,
         "444"},
        {"root's file that anyone may write", true, false, Trouble::ForeignFiles, true, 0, "666"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir caseDir; // a folder of its own: the trouble is made to all of it
        const QString folder = caseDir.path();
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/real")));
        const QString file = folder + QStringLiteral("/Pulsewatch");
        const QString real = c.linked ? folder + QStringLiteral("/real/Pulsewatch") : file;
        if (c.linked) {
            ASSERT_TRUE(QFile::link(QStringLiteral("real/Pulsewatch"), file));
        }
        if (c.existing) {
            QFile f(real);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(before);
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        }
        // Result, errno, the real file's bytes, mode and whether it kept its
        // owner, the folder's files.
        const auto attempt = [&] {
            struct stat was {};
            ::stat(QFile::encodeName(real).constData(), &was);
            int error = 0;
            const bool ok = writeProfileString(file, QStringLiteral("Pulsewatch"),
                                               QStringLiteral("A"), QStringLiteral("2"), &error);
            QFile f(real);
            const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            struct stat is {};
            ::stat(QFile::encodeName(real).constData(), &is);
            QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
            files.removeAll(QStringLiteral(".filler"));
            return QStringLiteral("%1 %2|%3|%4 owner kept %5|%6")
                .arg(ok)
                .arg(error)
                .arg(QString::fromLatin1(bytes))
                .arg(modeOf(real), 0, 8)
                .arg(was.st_uid == is.st_uid && was.st_gid == is.st_gid)
                .arg(files.join(QLatin1Char(',')));
        };
        QString skip;
        const std::optional<QString> got =
            c.trouble ? testsupport::inTrouble(*c.trouble, folder, attempt, &skip) : attempt();
        if (!got) {
            std::printf("[  SKIPPED ] %s: %s\n", c.name, qPrintable(skip));
            continue;
        }
        const QString expected = QStringLiteral("%1 %2|%3|%4 owner kept 1|%5")
                                     .arg(c.ok)
                                     .arg(c.error)
                                     .arg(QString::fromLatin1(!c.existing ? QByteArray()
                                                              : c.ok      ? after
                                                                          : before))
                                     .arg(QLatin1String(c.mode))
                                     .arg(c.existing ? QStringLiteral("Pulsewatch") : QString());
        EXPECT_EQ(*got, expected);
        if (c.linked) {
            EXPECT_TRUE(QFileInfo(file).isSymLink());
        }
    }
}

// Editors on Debian write UTF-8: such a file is read as UTF-8 and written
// back in UTF-8, byte-order mark and all; a code page 932 file stays code
// page 932 byte for byte; a new or plain ASCII file takes code page 932.
TEST_F(IniFileTest, EachFileKeepsTheEncodingItCameIn) {
    const QString sound = QStringLiteral("/home/op/警報.wav");
    const QString remark = QStringLiteral("本社①ｻｰﾊﾞｰ");
    const QByteArray bom("\xEF\xBB\xBF");
    struct Case {
        const char* name;
        QByteArray file;
        QByteArray written; // the file after REMARK is written
    } cases[] = {
        {"UTF-8", "[Pulsewatch]\r\nEMARGE_SOUND=" + sound.toUtf8() + "\r\n",
         "[Pulsewatch]\r\nEMARGE_SOUND=" + sound.toUtf8() + "\r\nREMARK=" + remark.toUtf8() +
             "\r\n"},
        {"UTF-8 with a byte-order mark", bom + "[Pulsewatch]\nEMARGE_SOUND=" + sound.toUtf8(),
         bom + "[Pulsewatch]\r\nEMARGE_SOUND=" + sound.toUtf8() + "\r\nREMARK=" + remark.toUtf8() +
             "\r\n"},
        {"code page 932", "[Pulsewatch]\r\nEMARGE_SOUND=" + platform::toAnsi(sound) + "\r\n",
         "[Pulsewatch]\r\nEMARGE_SOUND=" + platform::toAnsi(sound) +
             "\r\nREMARK=" + platform::toAnsi(remark) + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(c.file);
        EXPECT_EQ(read(QStringLiteral("EMARGE_SOUND")), sound);
        ASSERT_TRUE(write(QStringLiteral("REMARK"), remark));
        EXPECT_EQ(content(), c.written);
        EXPECT_EQ(read(QStringLiteral("REMARK")), remark);
    }
    put("[Pulsewatch]\r\nA=1\r\n");
    ASSERT_TRUE(write(QStringLiteral("REMARK"), remark));
    EXPECT_TRUE(content().endsWith("REMARK=" + platform::toAnsi(remark) + "\r\n"));
    // UTF-8 values are cut as characters, never inside one.
    put("[Pulsewatch]\r\nV=" + QString(1100, QChar(0x8B66)).toUtf8() + "\r\n");
    EXPECT_EQ(read(QStringLiteral("V")), QString(settings::kProfileBufferSize - 1, QChar(0x8B66)));
}

// One pair of double quotes around a value is dropped, as the profile-string
// read does; a value that would lose blanks or quotes is written so that it
// reads back as it was.
TEST_F(IniFileTest, SurroundingQuotesAreDroppedOnceAndKeptOnWrite) {
    struct Case {
        const char* line;
        const char* value;
    } cases[] = {
        {"SERVER_NAME1=\"srv1\"", "srv1"},
        {"SERVER_NAME1 = \"srv1\" ", "srv1"},
        {"SERVER_NAME1=\"\"srv1\"\"", "\"srv1\""},
        {"SERVER_NAME1=\"\"", ""},
        {"SERVER_NAME1=\"", "\""},
        {"SERVER_NAME1=\"srv1", "\"srv1"},
        {"SERVER_NAME1=it's \"quoted\"", "it's \"quoted\""},
        {"SERVER_NAME1='srv1'", "'srv1'"},
        {"SERVER_NAME1=\" a b \"", " a b "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        put(QByteArray("[Pulsewatch]\r\n") + c.line + "\r\n");
        EXPECT_EQ(read(QStringLiteral("SERVER_NAME1")), QString::fromUtf8(c.value));
        ASSERT_TRUE(write(QStringLiteral("SERVER_NAME1"), QString::fromUtf8(c.value)));
        EXPECT_EQ(read(QStringLiteral("SERVER_NAME1")), QString::fromUtf8(c.value));
    }
    ASSERT_TRUE(write(QStringLiteral("PWD"), QStringLiteral(" pass ")));
    EXPECT_TRUE(content().contains("PWD=\" pass \"\r\n"));
}

// A FIFO where a settings file is expected reads as no file at once (a
// blocking open would wait for a writer for good); a save puts a file in
// its place.
TEST_F(IniFileTest, AFifoReadsAsAMissingFileWithoutWaiting) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_TRUE(testsupport::returnsWithin(2000, path, [&] {
        EXPECT_EQ(read(QStringLiteral("A")), QStringLiteral("<none>"));
        EXPECT_TRUE(write(QStringLiteral("A"), QStringLiteral("1")));
    }));
    EXPECT_EQ(content(), QByteArray("[Pulsewatch]\r\nA=1\r\n"));
}
