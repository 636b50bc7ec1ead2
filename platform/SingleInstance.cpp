#include "platform/SingleInstance.h"

#include "platform/FileIo.h"

#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

SingleInstance::SingleInstance(const QString& folder) : m_folder(folder) {}

SingleInstance::~SingleInstance() {
    release();
}

SingleInstance::Result SingleInstance::acquire() {
    m_error = 0;
    if (m_folderFd >= 0 || (m_lockFile && m_lockFile->isLocked()))
        return Result::Acquired;
    // Close-on-exec: a program started from here (pppd, a system tool) must
    // not keep the folder locked after this copy ends.
    const int fd =
        ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_folderFd = fd;
        return Result::Acquired;
    }
    const int code = errno;
    ::close(fd);
    if (code == EWOULDBLOCK)
        return Result::AlreadyRunning;
    // NFS emulates flock() with byte-range locks, which a folder cannot take.
    return acquireLockFile();
}

void SingleInstance::release() {
    if (m_folderFd >= 0) {
        ::close(m_folderFd);
        m_folderFd = -1;
    }
    if (m_lockFile)
        m_lockFile->unlock();
}

SingleInstance::Result SingleInstance::acquireLockFile() {
    m_lockFile = std::make_unique<QLockFile>(m_folder + QStringLiteral("Pulsewatch.lock"));
    // Never stale by age: a tray program runs for months. A lock whose
    // process is gone is still recognised and removed by QLockFile.
    m_lockFile->setStaleLockTime(0);
    if (m_lockFile->tryLock(0))
        return Result::Acquired;
    // Only a lock that names a running copy means a second copy; a full
    // disk, a folder without write permission or a dead copy's lock that
    // cannot be removed are failures of their own.
    if (m_lockFile->error() == QLockFile::LockFailedError && heldByLiveCopy())
        return Result::AlreadyRunning;
    m_error = folderWriteError();
    return Result::Failed;
}

bool SingleInstance::heldByLiveCopy() {
    qint64 pid = 0;
    QString host, app;
    if (!m_lockFile->getLockInfo(&pid, &host, &app))
        return true; // unreadable: better refuse than run twice
    if (host != QSysInfo::machineHostName())
        return true; // a copy on another machine sharing the folder
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The errno that writing a small file into the folder meets, as the lock
// file's own write met it.
int SingleInstance::folderWriteError() const {
    const QByteArray probe =
        QFile::encodeName(m_folder + QStringLiteral("Pulsewatch.lock.probe%1").arg(::getpid()));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    const bool written = writeAll(fd, QByteArray(64, '\n')) && ::fsync(fd) == 0;
    const int error = written ? 0 : errno;
    ::close(fd);
    ::unlink(probe.constData());
    return error;
}

} // namespace platform
