#include "platform/SingleInstance.h"

#include "platform/FileIo.h"

#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

SingleInstance::SingleInstance(const QString& folder)
    : m_folder(folder), m_path(folder + QStringLiteral("Pulsewatch.lock")), m_lock(m_path) {
    // Never stale by age: a tray program runs for months. A lock whose
    // process is gone is still recognised and removed by QLockFile.
    m_lock.setStaleLockTime(0);
}

SingleInstance::Result SingleInstance::acquire() {
    m_error = 0;
    if (m_lock.isLocked() || m_lock.tryLock(0))
        return Result::Acquired;
    // Only a lock that names a running copy means a second copy; a full
    // disk, a folder without write permission or a dead copy's lock that
    // cannot be removed are failures of their own.
    if (m_lock.error() == QLockFile::LockFailedError && heldByLiveCopy())
        return Result::AlreadyRunning;
    m_error = folderWriteError();
    return Result::Failed;
}

void SingleInstance::release() {
    m_lock.unlock();
}

bool SingleInstance::heldByLiveCopy() {
    qint64 pid = 0;
    QString host, app;
    if (!m_lock.getLockInfo(&pid, &host, &app))
        return true; // unreadable: better refuse than run twice
    if (host != QSysInfo::machineHostName())
        return true; // a copy on another machine sharing the folder
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The errno that writing a small file into the folder meets, as the lock
// file's own write met it.
int SingleInstance::folderWriteError() const {
    const QByteArray probe = QFile::encodeName(m_path + QStringLiteral(".probe%1").arg(::getpid()));
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
