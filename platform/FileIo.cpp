#include "platform/FileIo.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// The file a chain of symbolic links ends in; a dangling link names the file
// to create. Past the kernel's own limit of 40 links the last name is kept,
// and opening it then fails as it would for the kernel.
QByteArray followLinks(QByteArray path) {
    for (int i = 0; i < 40; ++i) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (n < 0)
            break;
        QByteArray next(target, n);
        path = next.startsWith('/') ? next : folderOf(path) + '/' + next;
    }
    return path;
}

bool fail(int* error, int code) {
    if (error)
        *error = code;
    return false;
}

void syncFolder(const QByteArray& file) {
    const int dfd = ::open(folderOf(file).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

bool replaceInPlace(const QByteArray& target, const QByteArray& data, int* error) {
    const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno);
    // Reserve the room first: a disk that is full fails here, before a byte
    // of the old contents is overwritten.
    const int reserved = ::posix_fallocate(fd, 0, std::max<off_t>(data.size(), 1));
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) {
        ::close(fd);
        return fail(error, reserved);
    }
    int code = 0;
    if (!writeAll(fd, data) || ::ftruncate(fd, data.size()) != 0 || ::fsync(fd) != 0)
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    return code == 0 || fail(error, code);
}

} // namespace

bool writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool replaceFile(const QString& path, const QByteArray& data, int* error) {
    const QByteArray target = followLinks(QFile::encodeName(path));
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists)
        mode = st.st_mode & 07777;

    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int code = errno;
        // A folder that takes no new files may still hold a file that the
        // operator may write.
        if (exists && (code == EACCES || code == EPERM))
            return replaceInPlace(target, data, error);
        return fail(error, code);
    }
    int code = 0;
    if (!writeAll(fd, data) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code != 0)
        ::unlink(temp.constData());
    else if (commitReplacement(temp, target, &code))
        return true;
    // A sticky folder lets only the owner replace a file, yet others may be
    // allowed to write it.
    if (exists && (code == EACCES || code == EPERM))
        return replaceInPlace(target, data, error);
    return fail(error, code);
}

QString failureReason(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("ディスクの空き容量がありません");
    case EACCES:
    case EPERM:
        return QStringLiteral("書き込みの権限がありません");
    case EROFS:
        return QStringLiteral("読み取り専用のファイルシステムです");
    case ENOENT:
        return QStringLiteral("フォルダーがありません");
    case EISDIR:
        return QStringLiteral("同じ名前のフォルダーがあります");
    case 0:
        return QStringLiteral("原因不明");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool commitReplacement(const QByteArray& temp, const QByteArray& target, int* error) {
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int code = errno;
        ::unlink(temp.constData());
        return fail(error, code);
    }
    // Make the rename itself durable before reporting success.
    syncFolder(target);
    return true;
}

} // namespace platform
