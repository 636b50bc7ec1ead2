// The pppd backend against a stand-in pppd (this kernel has no /dev/ppp, so
// a real dial cannot run here) that holds it to pppd's rules for a caller
// who is not root, and a peers folder of the test's own. Debian's own pppd
// checks the same command lines in PppdRealTest.
#include "dialup/PppdService.h"
#include "dialup/VBRas.h"

#include "support/TestFolder.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace dialup;
using testsupport::TestFolder;

namespace {

const QByteArray kIsp = "/dev/ttyACM0 115200\n"
                        "connect \"/usr/sbin/chat -v -f /etc/chatscripts/isp -T 0311112222\"\n"
                        "noauth\ndefaultroute\n";

class PppdServiceTest : public ::testing::Test {
protected:
    TestFolder folder{false};
    PppdService::Paths paths;
    std::unique_ptr<PppdService> service;
    // Every pppd on the machine is listed as a link: a name of this process
    // keeps another test run's links out of this one's.
    const QString isp = QStringLiteral("isp-%1").arg(QCoreApplication::applicationPid());

    void SetUp() override {
        QDir(folder.folder()).mkpath(QStringLiteral("peers"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(PW_FAKE_PPPD), folder.path(QStringLiteral("pppd"))));
        QFile::setPermissions(folder.path(QStringLiteral("pppd")),
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        paths.peersDir = folder.path(QStringLiteral("peers"));
        paths.pppd = folder.path(QStringLiteral("pppd"));
        paths.secretsFile = folder.path(QStringLiteral("pap-secrets"));
        paths.runDir = folder.path(QStringLiteral("run")); // where the stand-in keeps pid files
        folder.write(QStringLiteral("peers/") + isp, kIsp);
        folder.write(QStringLiteral("peers/plain"),
                     "/dev/ttyS0\nconnect \"/usr/sbin/chat -f x\"\n");
        service = std::make_unique<PppdService>(paths);
        callerIs(0);
    }
    void TearDown() override {
        for (const qint64 pid : standIns(QString()))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    // Both pppd and the backend take the caller for that user.
    void callerIs(int uid) {
        folder.write(QStringLiteral("uid"), QByteArray::number(uid));
        service->setPrivileged(uid == 0);
    }
    QString log() const { return QString::fromUtf8(folder.read(QStringLiteral("pppd.log"))); }
    int runs() const { return log().count(QStringLiteral("ARGS ")); }
    void exitWith(int status) { folder.write(QStringLiteral("exit"), QByteArray::number(status)); }
    // Live stand-in processes of this test that dial entry ("" = any).
    QList<qint64> standIns(const QString& entry) const {
        QList<qint64> pids;
        for (const QString& dir : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(dir));
            QFile stat(QStringLiteral("/proc/%1/stat").arg(dir));
            if (dir.toLongLong() == 0 || !cmd.open(QIODevice::ReadOnly) ||
                !stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray st = stat.readAll();
            if (!st.contains("(pppd) ") || st.contains(") Z "))
                continue;
            const QByteArray c = cmd.readAll();
            if (c.contains(QFile::encodeName(paths.pppd) + '\0') &&
                (entry.isEmpty() || c.contains("\0call\0" + entry.toUtf8() + '\0')))
                pids << dir.toLongLong();
        }
        return pids;
    }
    // Stand-ins of entry that no dial of ours started: ours read their
    // credentials from a descriptor.
    QList<qint64> othersOf(const QString& entry) const {
        QList<qint64> pids;
        for (const qint64 pid : standIns(entry)) {
            QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (cmd.open(QIODevice::ReadOnly) && !cmd.readAll().contains("/dev/fd/"))
                pids << pid;
        }
        return pids;
    }
    bool waitUntilGone(qint64 pid) const {
        QElapsedTimer t;
        t.start();
        while (QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)) && t.elapsed() < 10000) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z "))
                break;
            QThread::msleep(20);
        }
        return !standIns(QString()).contains(pid);
    }
};

} // namespace

TEST_F(PppdServiceTest, TheEntriesAreThePeersFiles) {
    folder.write(QStringLiteral("peers/isp~"), "backup of an editor");
    folder.write(QStringLiteral("peers/.hidden"), "");
    QStringList names;
    EXPECT_EQ(service->enumEntries(QString(), &names), 0);
    EXPECT_EQ(names, (QStringList{isp, QStringLiteral("plain")}));
    EXPECT_EQ(service->enumEntries(folder.path(QStringLiteral("missing")), &names),
              kCannotLoadPhonebook);
    EXPECT_TRUE(names.isEmpty());
}

TEST_F(PppdServiceTest, ADipUsersDialPassesPppdsChecksWithTheCredentialsInAPipe) {
    callerIs(1000);
    VBRas ras(*service);
    ras.setEntry(isp);
    ras.setUserID(QStringLiteral("operator"));
    ras.setPassWord(QStringLiteral("s3cret \"q\" \\1"));
    ASSERT_EQ(ras.Dialup(), 0) << log();
    EXPECT_NE(ras.Connection(), 0);

    const QString l = log();
    EXPECT_TRUE(l.contains(QStringLiteral("ARGS call ") + isp + QStringLiteral(" file /dev/fd/")))
        << l;
    EXPECT_TRUE(l.contains(QRegularExpression(QStringLiteral("SOURCE /dev/fd/\\d+ pipe\n")))) << l;
    EXPECT_FALSE(l.section(QStringLiteral("SOURCE"), 0, 0).contains(QStringLiteral("s3cret")))
        << "the password is on the command line";
    EXPECT_TRUE(l.contains(QStringLiteral("user=operator\npassword=s3cret \"q\" \\1\n"))) << l;

    const QList<qint64> link = standIns(isp);
    ASSERT_EQ(link.size(), 1);
    EXPECT_EQ(ras.SeekEnumConns(isp, 0), -1);
    EXPECT_EQ(ras.HangUp(), 0);
    EXPECT_TRUE(waitUntilGone(link[0])) << "pppd was not told to end the link";
    EXPECT_EQ(ras.SeekEnumConns(isp, 0), 0);
    EXPECT_EQ(ras.HangUp(), kInvalidHandle);
}

TEST_F(PppdServiceTest, AHangUpSignalsOnlyThePppdOfItsOwnLink) {
    callerIs(1000);
    // A link of the same entry from pon, and a program that merely names it.
    ASSERT_EQ(QProcess::execute(paths.pppd, {QStringLiteral("call"), isp}), 0) << log();
    const QList<qint64> pon = standIns(isp);
    ASSERT_EQ(pon.size(), 1);
    qint64 decoy = 0;
    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("bash"),
                                        {QStringLiteral("-c"),
                                         QStringLiteral("sleep 30 >/dev/null 2>&1; true"),
                                         paths.pppd, QStringLiteral("call"), isp},
                                        QString(), &decoy));

    VBRas ras(*service);
    ras.setEntry(isp);
    ASSERT_EQ(ras.Dialup(), 0) << log();
    QList<qint64> ours = standIns(isp);
    ours.removeAll(pon[0]);
    ASSERT_EQ(ours.size(), 1);
    EXPECT_EQ(ras.HangUp(), 0);
    EXPECT_TRUE(waitUntilGone(ours[0]));
    EXPECT_EQ(standIns(isp), pon) << "pon's link was hung up too";

    // pon's link is listed; once its pppd has gone, its handle names nothing
    // and no other process is signalled in its place.
    VBRas other(*service);
    EXPECT_EQ(other.SeekEnumConns(isp, -1), -1);
    ::kill(static_cast<pid_t>(pon[0]), SIGKILL);
    EXPECT_TRUE(waitUntilGone(pon[0]));
    EXPECT_EQ(other.HangUp(), kNoConnection);
    EXPECT_EQ(::kill(static_cast<pid_t>(decoy), 0), 0) << "a process that is no pppd was signalled";
    ::kill(static_cast<pid_t>(decoy), SIGKILL);
}

// Another link of the same entry that comes up while our dial runs: pon's
// (pppd detaches at once) or another Pulsewatch folder's (updetach, as our
// dial runs it). Neither the hang-up of our link nor the hang-up of our dial
// that timed out ever ends it, and our own pppd always goes.
TEST_F(PppdServiceTest, ALinkThatCameUpDuringOurDialIsNeverHungUpByUs) {
    callerIs(1000);
    const QString pon = QStringLiteral("exec \"$0\" call \"$1\" >/dev/null");
    const QString otherCopy =
        QStringLiteral("exec env PW_PPPD_DELAY=0.2 \"$0\" call \"$1\" updetach >/dev/null");
    const struct {
        const char* what;
        QString other; // started 0.3 s into our dial
        bool ourDialTimesOut;
    } cases[] = {
        {"pon, our dial times out", pon, true},
        {"another folder's dial, ours times out", otherCopy, true},
        {"pon, our link comes up", pon, false},
        {"another folder's dial, ours comes up", otherCopy, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        folder.write(QStringLiteral("delay"), c.ourDialTimesOut ? "30" : "1");
        service->setDialLimitMs(c.ourDialTimesOut ? 1500 : 20000);
        ASSERT_TRUE(QProcess::startDetached(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("sleep 0.3; ") + c.other, paths.pppd, isp}));
        VBRas ras(*service);
        ras.setEntry(isp);
        if (c.ourDialTimesOut) {
            EXPECT_EQ(ras.Dialup(), kDialTimedOut) << log();
        } else {
            ASSERT_EQ(ras.Dialup(), 0) << log();
            EXPECT_EQ(ras.HangUp(), 0);
        }
        QElapsedTimer t;
        t.start();
        QList<qint64> others;
        while ((others = othersOf(isp)).size() != 1 && t.elapsed() < 5000)
            QThread::msleep(20);
        ASSERT_EQ(others.size(), 1) << "the other link was hung up";
        for (const qint64 pid : standIns(isp)) {
            if (pid != others[0]) {
                EXPECT_TRUE(waitUntilGone(pid)) << "our own pppd stayed";
            }
        }
        ::kill(static_cast<pid_t>(others[0]), SIGTERM);
        EXPECT_TRUE(waitUntilGone(others[0]));
    }
}

// The program's end during a dial: the dial returns at once, saying it was
// abandoned, its pppd is told to end, and nothing else is touched.
TEST_F(PppdServiceTest, TheProgramsEndCutsADialShortAndEndsItsPppd) {
    callerIs(1000);
    ASSERT_EQ(QProcess::execute(paths.pppd, {QStringLiteral("call"), isp}), 0) << log();
    const QList<qint64> pon = standIns(isp);
    ASSERT_EQ(pon.size(), 1);
    folder.write(QStringLiteral("delay"), "30");
    platform::Ending ending;
    service->setEnding(&ending);
    QElapsedTimer sinceEnd;
    QTimer::singleShot(300, [&] {
        ending.request();
        sinceEnd.start();
    });
    VBRas ras(*service);
    ras.setEntry(isp);
    EXPECT_EQ(ras.Dialup(), kDialAbandoned);
    EXPECT_LT(sinceEnd.elapsed(), 1000);
    EXPECT_EQ(ras.Connection(), 0);
    for (const qint64 pid : standIns(isp)) {
        if (pid != pon[0]) {
            EXPECT_TRUE(waitUntilGone(pid)) << "the abandoned dial's pppd went on";
        }
    }
    EXPECT_EQ(standIns(isp), pon);
    EXPECT_EQ(ras.ErrMsg(kDialAbandoned),
              QStringLiteral("プログラムの終了のため、ダイアルアップを中止しました。"));
}

TEST_F(PppdServiceTest, APhoneNumberReachesChatAsDataOrIsRefused) {
    const QString pwned = folder.path(QStringLiteral("pwned"));
    const QString shell = QStringLiteral("117 ; touch %1 ; echo \\1 $HOME `id` 'q'").arg(pwned);
    struct Case {
        const char* what;
        int uid;
        QString entry, phone;
        qint32 rc;
        QString chatNumber; // what chat gets after -T; none when pppd must not run
    } cases[] = {
        {"root, another number", 0, isp, QStringLiteral("0120999888"), 0,
         QStringLiteral("0120999888")},
        {"root, shell and backslashes", 0, isp, shell, 0, shell},
        {"dip user, no number", 1000, isp, QString(), 0, QStringLiteral("0311112222")},
        {"dip user, the entry's own number", 1000, isp, QStringLiteral("0311112222"), 0,
         QStringLiteral("0311112222")},
        {"dip user, another number", 1000, isp, QStringLiteral("0120999888"), kPhoneNotChangeable,
         QString()},
        {"root, an entry without a number", 0, QStringLiteral("plain"), QStringLiteral("117"),
         kPhoneNotChangeable, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        callerIs(c.uid);
        const int before = runs();
        VBRas ras(*service);
        ras.setEntry(c.entry);
        ras.setPHONE(c.phone);
        EXPECT_EQ(ras.Dialup(), c.rc) << log();
        if (c.chatNumber.isEmpty())
            EXPECT_EQ(runs(), before);
        else
            EXPECT_TRUE(log().endsWith(QStringLiteral("CHAT /usr/sbin/chat|-v|-f|/etc/chatscripts/"
                                                      "isp|-T|") +
                                       c.chatNumber + QStringLiteral("|\n")))
                << log();
        EXPECT_FALSE(QFile::remove(pwned)) << "the number ran as a shell command";
        ras.HangUp();
    }
    VBRas ras(*service);
    EXPECT_TRUE(ras.ErrMsg(kPhoneNotChangeable).contains(QStringLiteral("管理者")));
}

TEST_F(PppdServiceTest, NamesThatLeaveThePeersFolderAreNoEntries) {
    folder.write(QStringLiteral("outside"), kIsp);
    EntryRecord record;
    record.size = 1768;
    const std::pair<const char*, std::function<qint32(const QString&)>> operations[] = {
        {"dial",
         [&](const QString& n) {
             qint32 h = 0;
             return service->dial(QString(), DialParams{n, {}, {}, {}, {}, {}}, &h);
         }},
        {"read dial parameters",
         [&](const QString& n) {
             DialParams p{n, {}, {}, {}, {}, {}};
             return service->getEntryDialParams(&p);
         }},
        {"save dial parameters",
         [&](const QString& n) {
             return service->setEntryDialParams({n, {}, {}, QStringLiteral("u"), {}, {}});
         }},
        {"read properties",
         [&](const QString& n) { return service->getEntryProperties(n, &record); }},
        {"write properties",
         [&](const QString& n) { return service->setEntryProperties(n, record); }},
        {"delete", [&](const QString& n) { return service->deleteEntry(n); }},
    };
    for (const auto& [what, operation] : operations)
        for (const QString& name : {QStringLiteral("../outside"), QStringLiteral(".."),
                                    folder.path(QStringLiteral("outside")), QString()}) {
            EXPECT_EQ(operation(name), kEntryNotFound) << what << " " << name;
            EXPECT_EQ(folder.read(QStringLiteral("outside")), kIsp) << what << " " << name;
        }
    EXPECT_EQ(runs(), 0) << "pppd ran for a name that is no entry";
}

TEST_F(PppdServiceTest, FailuresBecomeResultCodesWithJapaneseTexts) {
    VBRas ras(*service);
    ras.setEntry(isp);
    exitWith(19);
    EXPECT_EQ(ras.Dialup(), kPppdExitBase + 19);
    EXPECT_EQ(ras.Connection(), 0);
    EXPECT_EQ(ras.ErrMsg(kPppdExitBase + 19),
              QStringLiteral("認証に失敗しました。ユーザー名とパスワードを確認してください。"));
    exitWith(4);
    EXPECT_EQ(ras.Dialup(), kPppdExitBase + 4);
    EXPECT_TRUE(ras.ErrMsg(kPppdExitBase + 4).contains(QStringLiteral("/dev/ppp")));
    EXPECT_EQ(ras.ErrMsg(kEntryNotFound), QStringLiteral("電話帳にこのエントリが見つかりません。"));
    ras.setEntry(QStringLiteral("missing"));
    EXPECT_EQ(ras.Dialup(), kEntryNotFound);

    paths.pppd = folder.path(QStringLiteral("no-pppd"));
    PppdService missing(paths);
    VBRas noPppd(missing);
    noPppd.setEntry(isp);
    EXPECT_EQ(noPppd.Dialup(), kCannotStartPppd);
    EXPECT_EQ(PppdService::Paths().pppd, QStringLiteral("/usr/sbin/pppd"))
        << "/usr/sbin is not on an ordinary user's PATH";
}

TEST_F(PppdServiceTest, ADialThatNeverReturnsIsEnded) {
    exitWith(0);
    folder.write(QStringLiteral("delay"), "30");
    service->setDialLimitMs(500);
    VBRas ras(*service);
    ras.setEntry(isp);
    QElapsedTimer t;
    t.start();
    EXPECT_NE(ras.Dialup(), 0);
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_TRUE(standIns(isp).isEmpty());
}

TEST_F(PppdServiceTest, RewritesKeepOwnerGroupModeSymlinkAndForeignBytes) {
    // The administrator's file, root:dip 0640 as Debian ships it, reached
    // through a symlink, with a CP932 comment and a CR LF line.
    const QByteArray comment = "# \x93\xfa\x96\x7b\x82\xcc\x89\xf1\x90\xfc\n";
    QDir(folder.folder()).mkpath(QStringLiteral("admin"));
    const QString target = folder.path(QStringLiteral("admin/isp"));
    folder.write(QStringLiteral("admin/isp"), comment + kIsp + "lock\r\n");
    QFile::remove(folder.path(QStringLiteral("peers/") + isp));
    ASSERT_TRUE(QFile::link(target, folder.path(QStringLiteral("peers/") + isp)));
    const group* dip = ::getgrnam("dip");
    const gid_t gid = ::geteuid() == 0 && dip ? dip->gr_gid : ::getegid();
    ASSERT_EQ(::chown(QFile::encodeName(target).constData(), ::geteuid(), gid), 0);
    ::chmod(QFile::encodeName(target).constData(), 0640);
    folder.write(QStringLiteral("pap-secrets"), "# \x93\xfa\x96\x7b\n\"admin\" * \"pw\"\n");
    ::chmod(QFile::encodeName(paths.secretsFile).constData(), 0600);

    const std::pair<const char*, std::function<qint32()>> rewrites[] = {
        {"saved dial parameters",
         [&] {
             VBRas ras(*service);
             ras.setEntry(isp);
             ras.setUserID(QStringLiteral("operator"));
             ras.setPassWord(QStringLiteral("pw2"));
             return ras.SetRasDialEntries();
         }},
        {"entry properties",
         [&] {
             VBRas ras(*service);
             ras.GetEntryProperties(isp);
             ras.szDeviceName = QStringLiteral("/dev/ttyUSB0");
             return ras.SetEntryProperties(isp);
         }},
    };
    QByteArray secrets;
    for (const auto& [what, rewrite] : rewrites)
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(what);
            ASSERT_EQ(rewrite(), 0);
            EXPECT_EQ(QFileInfo(folder.path(QStringLiteral("peers/") + isp)).symLinkTarget(),
                      target);
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
            EXPECT_EQ(st.st_gid, gid);
            EXPECT_EQ(st.st_mode & 07777, 0640u);
            const QByteArray bytes = folder.read(QStringLiteral("admin/isp"));
            EXPECT_TRUE(bytes.startsWith(comment)) << bytes.toStdString();
            EXPECT_TRUE(bytes.contains("\nlock\r\n"));
            ASSERT_EQ(::stat(QFile::encodeName(paths.secretsFile).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
            EXPECT_TRUE(folder.read(QStringLiteral("pap-secrets"))
                            .startsWith("# \x93\xfa\x96\x7b\n\"admin\" * \"pw\"\n"));
            if (pass == 1) {
                EXPECT_EQ(folder.read(QStringLiteral("pap-secrets")), secrets) << "it grows";
            }
            secrets = folder.read(QStringLiteral("pap-secrets"));
        }
}

TEST_F(PppdServiceTest, ASavedPasswordBelongsToOneEntryAndGoesWithIt) {
    // A name that ends the way the tag of another entry's line does.
    const QString other = QStringLiteral("b # pulsewatch:") + isp;
    folder.write(QStringLiteral("peers/") + other, kIsp);
    auto save = [&](const QString& entry, const QString& password) {
        VBRas ras(*service);
        ras.setEntry(entry);
        ras.setUserID(QStringLiteral("u"));
        ras.setPassWord(password);
        return ras.SetRasDialEntries();
    };
    auto saved = [&](const QString& entry) {
        VBRas ras(*service);
        ras.setEntry(entry);
        return ras.RasParamEntries() == 0 ? ras.PassWord() : QStringLiteral("(failed)");
    };
    ASSERT_EQ(save(other, QStringLiteral("pw \"b\" \\n")), 0);
    ASSERT_EQ(save(isp, QStringLiteral("pwA")), 0);
    ASSERT_EQ(save(isp, QStringLiteral("pwA2")), 0);
    EXPECT_EQ(saved(other), QStringLiteral("pw \"b\" \\n"));
    EXPECT_EQ(saved(isp), QStringLiteral("pwA2"));
    EXPECT_EQ(folder.read(QStringLiteral("pap-secrets")).count("pulsewatch:"), 2);

    VBRas ras(*service);
    EXPECT_EQ(ras.DeleteEntries(isp), 0);
    EXPECT_FALSE(folder.read(QStringLiteral("pap-secrets")).contains("pwA"));
    EXPECT_EQ(saved(other), QStringLiteral("pw \"b\" \\n"));
}

TEST_F(PppdServiceTest, EntryPropertiesAreTheOptionsPppdReads) {
    VBRas read(*service);
    ASSERT_EQ(read.GetEntryProperties(isp), 0);
    EXPECT_EQ(read.szDeviceName, QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(read.LocalPhoneNum, QStringLiteral("0311112222"));
    EXPECT_EQ(read.dwfOptions,
              VBRas::RemoteDefaultGateway | VBRas::IpHeaderCompression | VBRas::SwCompression);
    EXPECT_EQ(read.NetProtocols, VBRas::Ip);
    EXPECT_EQ(read.GetEntryProperties(QStringLiteral("missing")), kEntryNotFound);

    const QByteArray chat = "connect \"/usr/sbin/chat -v -f /etc/chatscripts/isp -T ";
    struct Case {
        const char* what;
        std::function<void(VBRas&)> change;
        qint32 rc;
        QByteArray file; // after the write
    } cases[] = {
        {"number", [](VBRas& r) { r.LocalPhoneNum = QStringLiteral("0120 99'8"); }, 0,
         QByteArray(kIsp).replace(chat + "0311112222", chat + "'0120 99'\\\\''8'")},
        {"device", [](VBRas& r) { r.szDeviceName = QStringLiteral("/dev/ttyUSB0"); }, 0,
         QByteArray(kIsp).replace("/dev/ttyACM0", "/dev/ttyUSB0")},
        {"no default route", [](VBRas& r) { r.dwfOptions &= ~VBRas::RemoteDefaultGateway; }, 0,
         QByteArray(kIsp).replace("defaultroute\n", "")},
        {"no header compression", [](VBRas& r) { r.dwfOptions &= ~VBRas::IpHeaderCompression; }, 0,
         kIsp + "novj\n"},
        {"name server", [](VBRas& r) { r.ipaddrDns = QStringLiteral("192.168.1.1"); },
         kNotSupported, kIsp},
        {"area code", [](VBRas& r) { r.szAreaCode = QStringLiteral("03"); }, kNotSupported, kIsp},
        {"network logon", [](VBRas& r) { r.dwfOptions |= VBRas::NLogOn; }, kNotSupported, kIsp},
        {"no device", [](VBRas& r) { r.szDeviceName.clear(); }, kNotSupported, kIsp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder.write(QStringLiteral("peers/") + isp, kIsp);
        VBRas ras(*service);
        ASSERT_EQ(ras.GetEntryProperties(isp), 0);
        c.change(ras);
        EXPECT_EQ(ras.SetEntryProperties(isp), c.rc);
        EXPECT_EQ(folder.read(QStringLiteral("peers/") + isp), c.file);
        VBRas again(*service);
        ASSERT_EQ(again.GetEntryProperties(isp), 0);
        if (c.rc == 0) {
            EXPECT_EQ(std::tie(again.LocalPhoneNum, again.szDeviceName, again.dwfOptions),
                      std::tie(ras.LocalPhoneNum, ras.szDeviceName, ras.dwfOptions));
        }
    }
    EXPECT_TRUE(read.ErrMsg(kNotSupported).contains(QStringLiteral("pppd")));
}

TEST_F(PppdServiceTest, CountriesAndDeletedEntries) {
    VBRas ras(*service);
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
