#include "support/FolderTrouble.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

constexpr uid_t kNobody = 65534;

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

// Hands the folder (and, with files, everything in it) to uid.
void chownTree(const QString& folder, uid_t uid, bool files = true) {
    [[maybe_unused]] int r = ::lchown(native(folder).constData(), uid, uid);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (files && it.hasNext())
        r = ::lchown(native(it.next()).constData(), uid, uid);
}

// Sets the mode of every file in the folder.
bool chmodFiles(const QString& folder, mode_t mode) {
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (::chmod(native(QDir(folder).filePath(name)).constData(), mode) != 0)
            return false;
    return true;
}

bool becomeNobody() {
    return ::geteuid() != 0 ||
           (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0);
}

// Fills the file system that holds folder until a one-byte write fails.
bool fill(const QByteArray& folder) {
    const int fd = ::open((folder + "/.filler").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    static const char block[65536] = {};
    for (size_t size : {sizeof block, size_t{4096}, size_t{1}})
        while (::write(fd, block, size) > 0) {
        }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

// The child's exit status when it could not make the trouble.
constexpr int kCannot = 3;

// Child side: make the trouble, then run fn. The text goes out through fd.
int child(Trouble trouble, const QString& folder, const std::function<QString()>& fn, int fd) {
    const QByteArray dir = native(folder);
    if (trouble == Trouble::FullDisk) {
        // The folder's files, to put back on the new file system.
        struct File {
            QByteArray name, bytes;
            mode_t mode;
        };
        QList<File> files;
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
            QFile f(QDir(folder).filePath(name));
            struct stat st {};
            if (f.open(QIODevice::ReadOnly) && ::stat(native(f.fileName()).constData(), &st) == 0)
                files.append({native(f.fileName()), f.readAll(), st.st_mode & 07777});
        }
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir.constData(), "tmpfs", 0, "size=256k,mode=0755") != 0)
            return kCannot;
        for (const File& f : files) {
            const int fd = ::open(f.name.constData(), O_WRONLY | O_CREAT | O_TRUNC, f.mode);
            const bool copied =
                fd >= 0 && ::write(fd, f.bytes.constData(), f.bytes.size()) == f.bytes.size();
            if (fd >= 0)
                ::close(fd);
            if (!copied || ::chmod(f.name.constData(), f.mode) != 0)
                return kCannot;
        }
        if (!fill(dir))
            return kCannot;
    } else if (trouble == Trouble::ReadOnlyFolder) {
        if (!becomeNobody() || ::chmod(dir.constData(), 0555) != 0)
            return kCannot;
    } else {
        const bool readOnly = trouble == Trouble::ReadOnlyFiles;
        if (!chmodFiles(folder, readOnly ? 0444 : 0666) || !becomeNobody())
            return kCannot;
    }
    const QByteArray out = fn().toUtf8();
    return write(fd, out.constData(), out.size()) == out.size() ? 0 : 1;
}

} // namespace

std::optional<QString> inTrouble(Trouble trouble, const QString& folder,
                                 const std::function<QString()>& fn, QString* skip) {
    const bool root = ::geteuid() == 0;
    if ((trouble == Trouble::FullDisk || trouble == Trouble::ForeignFiles) && !root) {
        *skip = trouble == Trouble::FullDisk
                    ? QStringLiteral("a full file system of its own needs root (mount)")
                    : QStringLiteral("files of another owner need root (chown)");
        return std::nullopt;
    }
    if (trouble != Trouble::FullDisk && root)
        chownTree(folder, kNobody, trouble != Trouble::ForeignFiles);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        *skip = QStringLiteral("no pipe");
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::_exit(child(trouble, folder, fn, pipeFds[1]));
    }
    ::close(pipeFds[1]);
    QByteArray out;
    char buffer[4096];
    ssize_t n = 0;
    while (pid > 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        out.append(buffer, n);
    }
    ::close(pipeFds[0]);
    int status = -1;
    if (pid > 0)
        ::waitpid(pid, &status, 0);
    ::chmod(native(folder).constData(), 0700);
    if (root)
        chownTree(folder, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannot) {
        *skip = trouble == Trouble::FullDisk
                    ? QStringLiteral("this machine cannot mount a private tmpfs")
                    : QStringLiteral("the folder could not be given its modes and owners");
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("<the child process ended with status %1>").arg(status);
    return QString::fromUtf8(out);
}

} // namespace testsupport
