// The pppd backend against a stand-in pppd written by the test (this kernel
// has no /dev/ppp, so a real dial cannot run here) and a peers folder of
// the test's own.
#include "dialup/PppdService.h"
#include "dialup/VBRas.h"

#include "support/TestFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

using namespace dialup;
using testsupport::TestFolder;

namespace {

// Logs its arguments and the options files it is given (with their mode);
// exits with the status in the file "exit"; on success leaves a daemon
// stand-in whose pid it writes where pppd writes a link's pid.
const char kFakePppd[] = R"SH(#!/bin/bash
dir=$(dirname "$0")
echo "ARGS $*" >> "$dir/pppd.log"
link=
while (($#)); do
  case $1 in
    file) echo "FILE $(stat -c %a "$2") $(tr '\n' '|' < "$2")" >> "$dir/pppd.log"; shift ;;
    linkname) link=$2; shift ;;
  esac
  shift
done
[[ -f $dir/delay ]] && exec sleep "$(cat "$dir/delay")" # killed as pppd would be
status=$(cat "$dir/exit" 2>/dev/null || echo 0)
if [[ $status == 0 ]]; then
  sleep 300 </dev/null >/dev/null 2>&1 &
  echo $! > "$dir/run/ppp-$link.pid"
fi
exit "$status"
)SH";

bool alive(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    return !stat.readAll().contains(") Z "); // a zombie is gone for our purpose
}

class PppdServiceTest : public ::testing::Test {
protected:
    TestFolder folder{false};
    PppdService::Paths paths;
    std::unique_ptr<PppdService> service;

    void SetUp() override {
        QDir(folder.folder()).mkpath(QStringLiteral("peers"));
        QDir(folder.folder()).mkpath(QStringLiteral("run"));
        folder.write(QStringLiteral("pppd"), kFakePppd);
        QFile::setPermissions(folder.path(QStringLiteral("pppd")), QFileDevice::ReadOwner |
                                                                       QFileDevice::WriteOwner |
                                                                       QFileDevice::ExeOwner);
        paths.peersDir = folder.path(QStringLiteral("peers"));
        paths.pppd = folder.path(QStringLiteral("pppd"));
        paths.runDir = folder.path(QStringLiteral("run"));
        paths.secretsFile = folder.path(QStringLiteral("pap-secrets"));
        folder.write(QStringLiteral("peers/isp"), "/dev/ttyACM0 115200\nconnect \"/usr/sbin/chat "
                                                  "-v -f /etc/chatscripts/isp -T 0311112222\"\n"
                                                  "noauth\ndefaultroute\n");
        folder.write(QStringLiteral("peers/plain"),
                     "/dev/ttyS0\nconnect \"/usr/sbin/chat -f x\"\n");
        service = std::make_unique<PppdService>(paths);
    }
    QString log() const { return QString::fromUtf8(folder.read(QStringLiteral("pppd.log"))); }
    void exitWith(int status) { folder.write(QStringLiteral("exit"), QByteArray::number(status)); }
    qint64 linkPid(const char* entry) const {
        return folder.read(QStringLiteral("run/ppp-pw-%1.pid").arg(QLatin1String(entry)))
            .trimmed()
            .toLongLong();
    }
};

} // namespace

TEST_F(PppdServiceTest, TheEntriesAreThePeersFiles) {
    folder.write(QStringLiteral("peers/isp~"), "backup of an editor");
    folder.write(QStringLiteral("peers/.hidden"), "");
    QStringList names;
    EXPECT_EQ(service->enumEntries(QString(), &names), 0);
    EXPECT_EQ(names, (QStringList{QStringLiteral("isp"), QStringLiteral("plain")}));
    EXPECT_EQ(service->enumEntries(folder.path(QStringLiteral("missing")), &names),
              kCannotLoadPhonebook);
    EXPECT_TRUE(names.isEmpty());
}

TEST_F(PppdServiceTest, ADialKeepsThePasswordOffTheCommandLineAndHangsUpByItsPid) {
    VBRas ras(*service);
    ras.setEntry(QStringLiteral("isp"));
    ras.setUserID(QStringLiteral("operator"));
    ras.setPassWord(QStringLiteral("s3cret \"quoted\""));
    ASSERT_EQ(ras.Dialup(), 0) << log();
    EXPECT_NE(ras.Connection(), 0);

    const QString l = log();
    EXPECT_TRUE(l.contains(QStringLiteral("ARGS call isp file "))) << l;
    EXPECT_TRUE(l.contains(QStringLiteral(" updetach linkname pw-isp"))) << l;
    EXPECT_FALSE(l.section(QStringLiteral("FILE"), 0, 0).contains(QStringLiteral("s3cret")))
        << "the password is on the command line";
    EXPECT_TRUE(l.contains(
        QStringLiteral("FILE 600 user \"operator\"|password \"s3cret \\\"quoted\\\"\"|")))
        << l;
    EXPECT_FALSE(l.contains(QStringLiteral("connect"))) << "no PHONE, no connect override";

    const qint64 pid = linkPid("isp");
    ASSERT_GT(pid, 1);
    EXPECT_TRUE(alive(pid));
    EXPECT_EQ(ras.SeekEnumConns(QStringLiteral("isp"), 0), -1);

    EXPECT_EQ(ras.HangUp(), 0);
    QElapsedTimer t;
    t.start();
    while (alive(pid) && t.elapsed() < 3000)
        QThread::msleep(20);
    EXPECT_FALSE(alive(pid)) << "pppd was not told to end the link";
    EXPECT_EQ(ras.SeekEnumConns(QStringLiteral("isp"), 0), 0);
    EXPECT_EQ(ras.HangUp(), kInvalidHandle);
    // The options file is gone once the dial has returned.
    EXPECT_TRUE(QDir::temp().entryList({QStringLiteral("pulsewatch-dial-*")}).isEmpty());
}

TEST_F(PppdServiceTest, APhoneNumberReplacesTheOneGivenToChat) {
    VBRas ras(*service);
    ras.setEntry(QStringLiteral("isp"));
    ras.setPHONE(QStringLiteral("0120999888"));
    ASSERT_EQ(ras.Dialup(), 0);
    EXPECT_TRUE(log().contains(
        QStringLiteral("connect \"/usr/sbin/chat -v -f /etc/chatscripts/isp -T 0120999888\"")))
        << log();
    ras.HangUp();

    VBRas plain(*service);
    plain.setEntry(QStringLiteral("plain"));
    plain.setPHONE(QStringLiteral("117"));
    ASSERT_EQ(plain.Dialup(), 0);
    EXPECT_TRUE(log().contains(QStringLiteral("connect \"/usr/sbin/chat -f x -T 117\""))) << log();
    plain.HangUp();
}

TEST_F(PppdServiceTest, AnotherPhoneBookIsReadAsAnOptionsFile) {
    QDir(folder.folder()).mkpath(QStringLiteral("book"));
    folder.write(QStringLiteral("book/office"), "/dev/ttyS1\n");
    VBRas ras(*service);
    ras.setPhoneBook(folder.path(QStringLiteral("book")));
    EXPECT_EQ(ras.RefreshEntries(), 0);
    EXPECT_EQ(ras.EntryCount(), 1);
    ras.setEntry(QStringLiteral("office"));
    ASSERT_EQ(ras.Dialup(), 0);
    EXPECT_TRUE(
        log().contains(QStringLiteral("ARGS file ") + folder.path(QStringLiteral("book/office"))))
        << log();
    ras.HangUp();
}

TEST_F(PppdServiceTest, FailuresBecomeResultCodesWithJapaneseTexts) {
    VBRas ras(*service);
    ras.setEntry(QStringLiteral("isp"));
    exitWith(19);
    EXPECT_EQ(ras.Dialup(), kPppdExitBase + 19);
    EXPECT_EQ(ras.Connection(), 0);
    EXPECT_EQ(ras.ErrMsg(kPppdExitBase + 19),
              QStringLiteral("認証に失敗しました。ユーザー名とパスワードを確認してください。"));
    exitWith(4);
    EXPECT_EQ(ras.Dialup(), kPppdExitBase + 4);
    EXPECT_TRUE(ras.ErrMsg(kPppdExitBase + 4).contains(QStringLiteral("/dev/ppp")));
    EXPECT_EQ(ras.ErrMsg(kEntryNotFound), QStringLiteral("電話帳にこのエントリが見つかりません。"));

    const int runs = log().count(QStringLiteral("ARGS"));
    for (const char* entry : {"missing", "../isp", ""}) {
        ras.setEntry(QLatin1String(entry));
        EXPECT_EQ(ras.Dialup(), kEntryNotFound) << entry;
    }
    EXPECT_EQ(log().count(QStringLiteral("ARGS")), runs)
        << "pppd ran for an entry that is not there";

    paths.pppd = folder.path(QStringLiteral("no-pppd"));
    PppdService missing(paths);
    VBRas noPppd(missing);
    noPppd.setEntry(QStringLiteral("isp"));
    EXPECT_EQ(noPppd.Dialup(), kCannotStartPppd);
}

TEST_F(PppdServiceTest, ADialThatNeverReturnsIsEnded) {
    exitWith(0);
    folder.write(QStringLiteral("delay"), "30");
    service->setDialLimitMs(500);
    VBRas ras(*service);
    ras.setEntry(QStringLiteral("isp"));
    QElapsedTimer t;
    t.start();
    EXPECT_NE(ras.Dialup(), 0);
    EXPECT_LT(t.elapsed(), 10000);
}

TEST_F(PppdServiceTest, SavedDialParametersKeepThePasswordInTheSecretsFile) {
    {
        VBRas ras(*service);
        ras.setEntry(QStringLiteral("isp"));
        ras.setPHONE(QStringLiteral("0311"));
        ras.setUserID(QStringLiteral("operator"));
        ras.setPassWord(QStringLiteral("pw \"1\""));
        ras.setPhoneBook(QStringLiteral("0422")); // the callback number
        EXPECT_EQ(ras.SetRasDialEntries(), 0);
    }
    EXPECT_FALSE(folder.read(QStringLiteral("peers/isp")).contains("pw "));
    EXPECT_TRUE(folder.read(QStringLiteral("peers/isp")).startsWith("/dev/ttyACM0 115200\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(paths.secretsFile).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    VBRas ras(*service);
    ras.setEntry(QStringLiteral("isp"));
    EXPECT_EQ(ras.RasParamEntries(), 0);
    EXPECT_EQ(ras.PHONE(), QStringLiteral("0311"));
    EXPECT_EQ(ras.UserID(), QStringLiteral("operator"));
    EXPECT_EQ(ras.PassWord(), QStringLiteral("pw \"1\""));
    EXPECT_EQ(ras.PhoneBook(), QStringLiteral("0422"));
    // Saving again replaces, never duplicates.
    EXPECT_EQ(ras.SetRasDialEntries(), 0);
    EXPECT_EQ(folder.read(QStringLiteral("pap-secrets")).count("pulsewatch:isp"), 1);
    EXPECT_EQ(folder.read(QStringLiteral("peers/isp")).count("dial.user"), 1);
}

TEST_F(PppdServiceTest, EntryPropertiesAndCountries) {
    VBRas ras(*service);
    ASSERT_EQ(ras.GetEntryProperties(QStringLiteral("isp")), 0);
    EXPECT_EQ(ras.szDeviceName, QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(ras.ipaddrDns, QStringLiteral("0.0.0.0"));
    ras.ipaddrDns = QStringLiteral("192.168.1.1");
    ras.szAreaCode = QStringLiteral("03");
    EXPECT_EQ(ras.SetEntryProperties(QStringLiteral("isp")), 0);
    VBRas again(*service);
    ASSERT_EQ(again.GetEntryProperties(QStringLiteral("isp")), 0);
    EXPECT_EQ(again.ipaddrDns, QStringLiteral("192.168.1.1"));
    EXPECT_EQ(again.szAreaCode, QStringLiteral("03"));
    EXPECT_EQ(again.GetEntryProperties(QStringLiteral("missing")), kEntryNotFound);

    ras.setCountryNum(81);
    EXPECT_EQ(ras.GetCountryInfo(), QStringLiteral("Japan(81)"));
    int listed = 1;
    while (ras.Country() && listed < 1000) {
        ras.GetCountryInfo();
        ++listed;
    }
    EXPECT_LT(listed, 1000);
    EXPECT_EQ(ras.CountryNum(), 0);

    EXPECT_EQ(ras.DeleteEntries(QStringLiteral("plain")), 0);
    EXPECT_EQ(ras.DeleteEntries(QStringLiteral("plain")), kEntryNotFound);
    EXPECT_EQ(ras.RefreshEntries(), 0);
    EXPECT_EQ(ras.EntryCount(), 1);
}
