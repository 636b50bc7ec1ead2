#include "dialup/PppdLinks.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

namespace dialup {
namespace {

QByteArray readProc(qint64 pid, const char* file) {
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    return f.open(QIODevice::ReadOnly) ? f.read(64 * 1024) : QByteArray();
}

QString entryOf(const QList<QByteArray>& argv) {
    for (qsizetype i = 1; i + 1 < argv.size(); ++i)
        if (argv[i] == "call")
            return QString::fromUtf8(argv[i + 1]);
    for (qsizetype i = 1; i + 1 < argv.size(); ++i)
        if (argv[i] == "file" && !argv[i + 1].startsWith("/dev/fd/") &&
            !argv[i + 1].startsWith("/proc/"))
            return QFileInfo(QString::fromUtf8(argv[i + 1])).fileName();
    return QString();
}

} // namespace

PppdLink pppdAt(qint64 pid) {
    const QByteArray stat = readProc(pid, "stat");
    const qsizetype open = stat.indexOf('('), close = stat.lastIndexOf(')');
    if (open < 0 || close < open || stat.mid(open + 1, close - open - 1) != "pppd")
        return {};
    // After the name: state (field 3) ... start time (field 22).
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X")
        return {};
    QList<QByteArray> argv = readProc(pid, "cmdline").split('\0');
    return {pid, fields[19].toULongLong(), entryOf(argv)};
}

QList<PppdLink> runningPppd() {
    QList<PppdLink> links;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = name.toLongLong(&isPid);
        if (!isPid)
            continue;
        const PppdLink link = pppdAt(pid);
        if (link.pid != 0 && !link.entry.isEmpty())
            links << link;
    }
    return links;
}

int signalPppd(const PppdLink& link, int sig) {
    // Held by a pidfd, the process cannot be swapped for another between the
    // check and the signal.
    const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(link.pid), 0);
    const PppdLink now = pppdAt(link.pid);
    int rc = ESRCH;
    if (now.pid != 0 && now.started == link.started && now.entry == link.entry) {
        const long sent =
            fd >= 0 ? ::syscall(SYS_pidfd_send_signal, static_cast<int>(fd), sig, nullptr, 0)
                    : ::kill(static_cast<pid_t>(link.pid), sig);
        rc = sent == 0 ? 0 : errno;
    }
    if (fd >= 0)
        ::close(static_cast<int>(fd));
    return rc;
}

} // namespace dialup
