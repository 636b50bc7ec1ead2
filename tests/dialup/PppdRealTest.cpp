// Debian's own pppd, run as an ordinary user in group dip (and as root) on
// the command lines and options the backend builds, in a mount namespace
// whose /etc/ppp is the test's own: the system's files are never touched.
// Without PPP in the kernel pppd ends with status 4 once it is past its
// option checks; 2 is an option it refused.
#include "dialup/RemoteAccessService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPppd = QStringLiteral("/usr/sbin/pppd");
// The device is any character device that passes pppd's check; the connect
// command fails at once (no such chat script) should a kernel with PPP ever
// get this far.
const QByteArray kEntry = "/dev/null 115200\n"
                          "connect \"/usr/sbin/chat -v -f /nonexistent/pw -T 0311112222\"\n"
                          "user \"admin\"\nnoauth\nnoipdefault\ndefaultroute\nmaxfail 1\n";

QString unavailable() {
    if (::geteuid() != 0)
        return QStringLiteral("needs root for a mount namespace and another user");
    if (!QFileInfo(kPppd).isExecutable())
        return QStringLiteral("Debian's pppd is not installed (package ppp)");
    for (const char* tool : {"unshare", "setpriv"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return QStringLiteral("%1 (util-linux) is missing").arg(QLatin1String(tool));
    if (!::getgrnam("dip"))
        return QStringLiteral("there is no group dip");
    if (QProcess::execute(QStringLiteral("unshare"),
                          {QStringLiteral("-m"), QStringLiteral("true")}))
        return QStringLiteral("no mount namespace can be made here");
    return QString();
}

bool write(const QString& path, const QByteArray& data, mode_t mode, gid_t gid = 0) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size() &&
           f.flush() && ::chown(QFile::encodeName(path).constData(), 0, gid) == 0 &&
           ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

class PppdRealTest : public ::testing::Test {
protected:
    QTemporaryDir dir; // reachable by nobody
    gid_t dip = 0;
    // Whether this kernel could run a link at all; here it cannot.
    const bool kernelHasPpp = [] {
        const int fd = ::open("/dev/ppp", O_RDWR); // never O_CREAT: /dev is the system's
        return fd >= 0 && ::close(fd) == 0;
    }();

    void SetUp() override {
        const QString reason = unavailable();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        dip = ::getgrnam("dip")->gr_gid;
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        // /etc/ppp as Debian installs it: peers root:dip 2750, entries
        // root:dip 0640, secrets root 0600.
        QDir(dir.path()).mkpath(QStringLiteral("etc/peers"));
        const QByteArray peers = QFile::encodeName(dir.filePath(QStringLiteral("etc/peers")));
        ASSERT_EQ(::chown(peers.constData(), 0, dip), 0);
        ASSERT_EQ(::chmod(peers.constData(), 02750), 0);
        ASSERT_TRUE(write(dir.filePath(QStringLiteral("etc/peers/isp")), kEntry, 0640, dip));
        ASSERT_TRUE(write(dir.filePath(QStringLiteral("etc/options")), "", 0644));
        ASSERT_TRUE(write(dir.filePath(QStringLiteral("etc/pap-secrets")), "", 0600));
        const QString cli = dir.filePath(QStringLiteral("dialup_cli"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(DIALUP_CLI), cli));
        ::chmod(QFile::encodeName(cli).constData(), 0755);
    }

    // Runs command with the test's /etc/ppp, as nobody in group dip with an
    // ordinary user's PATH, or as root.
    std::pair<int, QString> run(bool asRoot, const QStringList& command) const {
        QStringList args{QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                         QStringLiteral("mount --bind \"$0\" /etc/ppp && exec \"$@\""),
                         dir.filePath(QStringLiteral("etc"))};
        if (!asRoot)
            args << QStringLiteral("setpriv") << QStringLiteral("--reuid=65534")
                 << QStringLiteral("--regid=65534") << QStringLiteral("--groups=%1").arg(dip);
        args << QStringLiteral("env") << QStringLiteral("-i")
             << QStringLiteral("PATH=/usr/local/bin:/usr/bin:/bin") << command;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("unshare"), args);
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
        }
        return {p.exitCode(), QString::fromLocal8Bit(p.readAll())};
    }
    QString dial(bool asRoot, const QString& user, const QString& phone) const {
        return run(asRoot, {dir.filePath(QStringLiteral("dialup_cli")), QStringLiteral("dial"),
                            QStringLiteral("isp"), user, QStringLiteral("s3cret"), phone})
            .second;
    }
    static QString result(qint32 rc) { return QStringLiteral("result\t%1\n").arg(rc); }
};

} // namespace

TEST_F(PppdRealTest, TheBackendsDialGetsPastPppdsOptionChecks) {
    const qint32 pastChecks = dialup::kPppdExitBase + 4;
    const qint32 refused = dialup::kPppdExitBase + 2;
    struct Case {
        const char* what;
        bool asRoot;
        QString user, phone;
    } cases[] = {
        {"dip user", false, QStringLiteral("operator"), QString()},
        {"dip user, the entry's own number", false, QStringLiteral("operator"),
         QStringLiteral("0311112222")},
        {"root, another number with shell characters", true, QString(),
         QStringLiteral("117 ; touch /tmp/x \\1 'q'")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString out = dial(c.asRoot, c.user, c.phone);
        EXPECT_FALSE(out.contains(result(refused))) << out.toStdString();
        if (!kernelHasPpp) {
            EXPECT_TRUE(out.contains(result(pastChecks))) << out.toStdString();
        }
    }
    EXPECT_TRUE(dial(false, QString(), QStringLiteral("0120999888"))
                    .contains(result(dialup::kPhoneNotChangeable)));

    // An entry the dip user may read but not write stays as it was.
    const QString out =
        run(false, {dir.filePath(QStringLiteral("dialup_cli")), QStringLiteral("set-number"),
                    QStringLiteral("isp"), QStringLiteral("0120999888")})
            .second;
    EXPECT_TRUE(out.contains(result(dialup::kAccessDenied))) << out.toStdString();
    QFile entry(dir.filePath(QStringLiteral("etc/peers/isp")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_EQ(entry.readAll(), kEntry);
}

TEST_F(PppdRealTest, TheStandInRefusesWhatPppdRefuses) {
    // The stand-in of the other dialup tests, beside a copy of the entry; it
    // ends with pppd's status here, so it leaves no daemon.
    const QString standIn = dir.filePath(QStringLiteral("standin/pppd"));
    QDir(dir.path()).mkpath(QStringLiteral("standin/peers"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PW_FAKE_PPPD), standIn));
    ::chmod(QFile::encodeName(standIn).constData(), 0755);
    ASSERT_TRUE(write(dir.filePath(QStringLiteral("standin/peers/isp")), kEntry, 0640));
    ASSERT_TRUE(write(dir.filePath(QStringLiteral("standin/exit")), "4", 0644));
    const QString file = dir.filePath(QStringLiteral("options"));

    struct Case {
        const char* what;
        bool asRoot;
        QStringList args;
        QByteArray options; // of the file F
        bool refused;
    } cases[] = {
        {"linkname on the command line", false, {"call", "isp", "linkname", "x"}, "", true},
        {"linkname from root", true, {"call", "isp", "linkname", "x"}, "", false},
        {"noauth from a file", false, {"call", "isp", "file", "F"}, "noauth", true},
        {"nolock from a file", false, {"call", "isp", "file", "F"}, "nolock", true},
        {"connect over the entry's",
         false,
         {"call", "isp", "file", "F"},
         "connect /bin/true",
         true},
        {"connect over the entry's from root",
         true,
         {"call", "isp", "file", "F"},
         "connect /bin/true",
         false},
        {"credentials from a file",
         false,
         {"call", "isp", "file", "F", "updetach"},
         "user \"u\"\npassword \"p \\\"w\\\"\"",
         false},
        {"a peers file outside the folder", false, {"call", "../isp"}, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write(file, c.options, 0644));
        QStringList args = c.args;
        args.replaceInStrings(QRegularExpression(QStringLiteral("^F$")), file);
        const auto [real, realOut] = run(c.asRoot, QStringList{kPppd} + args);
        EXPECT_EQ(real == 2, c.refused) << "pppd: " << real << " " << realOut.toStdString();
        if (!kernelHasPpp) {
            EXPECT_EQ(real, c.refused ? 2 : 4) << realOut.toStdString();
        }

        ASSERT_TRUE(
            write(dir.filePath(QStringLiteral("standin/uid")), c.asRoot ? "0" : "65534", 0644));
        QProcess p;
        p.start(standIn, args);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), c.refused ? 2 : 4) << p.readAllStandardError().toStdString();
    }
}
