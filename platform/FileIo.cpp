#include "platform/FileIo.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
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
    // Never waits: only a regular file is rewritten.
    const int fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(error, EINVAL);
    }
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

QByteArray nameOf(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

// The name a save's copy of NAME has while it is being put in place:
// hidden, and unmistakably a save's.
QByteArray savingPrefix(const QByteArray& target) {
    const qsizetype slash = target.lastIndexOf('/');
    return target.left(slash + 1) + '.' + nameOf(target) + ".saving-";
}

constexpr char kRandomLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

QByteArray randomSuffix() {
    QByteArray s(6, '\0');
    for (char& c : s)
        c = kRandomLetters[QRandomGenerator::system()->bounded(int(sizeof kRandomLetters - 1))];
    return s;
}

// A file for the new contents, beside target. Nameless where the file
// system allows it (the name comes only at nameCopy), so that a kill
// during the write and the sync leaves nothing; *temp is then empty.
int createCopy(const QByteArray& target, QByteArray* temp) {
    temp->clear();
    const int fd = ::open(folderOf(target).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    *temp = savingPrefix(target) + "XXXXXX";
    return ::mkstemp(temp->data());
}

// Gives a nameless copy the name the rename takes.
bool nameCopy(int fd, const QByteArray& target, QByteArray* temp, int* error) {
    if (!temp->isEmpty())
        return true;
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 16; ++attempt) {
        *temp = savingPrefix(target) + randomSuffix();
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, temp->constData(), AT_SYMLINK_FOLLOW) ==
            0)
            return true;
        if (errno != EEXIST)
            break;
    }
    temp->clear();
    return fail(error, errno);
}

// Six letters and digits as mkstemp draws them: a capital after the first
// place and a small letter, which names people give their own copies
// ("backup", "BAK001", "Before") do not have.
bool looksDrawn(const QByteArray& suffix) {
    bool capital = false, small = false;
    for (qsizetype i = 0; i < suffix.size(); ++i) {
        const char c = suffix[i];
        if (!QByteArray(kRandomLetters).contains(c))
            return false;
        capital = capital || (i > 0 && c >= 'A' && c <= 'Z');
        small = small || (c >= 'a' && c <= 'z');
    }
    return suffix.size() == 6 && capital && small;
}

// Removes the copies that saves into target left: the named copy of a save
// killed between its naming and its rename, and with earlier also those
// of earlier versions. Only regular files of this user.
QStringList removeCopies(const QByteArray& target, bool earlier) {
    const QByteArray folder = folderOf(target);
    const QByteArray name = nameOf(target);
    const QByteArray saving = nameOf(savingPrefix(target));
    QStringList removed;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return removed;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray file(entry->d_name);
        const bool ours =
            (file.startsWith(saving) && file.size() == saving.size() + 6) ||
            (earlier && file.startsWith(name + '.') && looksDrawn(file.mid(name.size() + 1)));
        if (!ours)
            continue;
        const QByteArray full = folder + '/' + file;
        struct stat st {};
        if (::lstat(full.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && ::unlink(full.constData()) == 0)
            removed << QFile::decodeName(full);
    }
    ::closedir(dir);
    return removed;
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

int openRegularFile(const QString& path, FileKind* kind, int* error) {
    FileKind dummy;
    kind = kind ? kind : &dummy;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        *kind = errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Unreadable;
        if (error)
            *error = errno;
        return -1;
    }
    // Looked at before the open: opening a device can have effects of its own.
    if (!S_ISREG(st.st_mode)) {
        *kind = FileKind::NotRegular;
        return -1;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *kind = errno == ENOENT ? FileKind::Missing : FileKind::Unreadable;
        if (error)
            *error = errno;
        return -1;
    }
    // Something else may have taken the name between the look and the open.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *kind = FileKind::NotRegular;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *kind = FileKind::Regular;
    return fd;
}

FileKind readRegularFile(const QString& path, qint64 maxBytes, QByteArray* data, int* error) {
    data->clear();
    FileKind kind = FileKind::Missing;
    const int fd = openRegularFile(path, &kind, error);
    if (fd < 0)
        return kind;
    char buffer[65536];
    ssize_t n = 0;
    while (data->size() < maxBytes &&
           (n = ::read(fd, buffer, std::min<qint64>(sizeof buffer, maxBytes - data->size()))) !=
               0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        data->append(buffer, n);
    }
    if (n < 0) {
        kind = FileKind::Unreadable;
        if (error)
            *error = errno;
    }
    ::close(fd);
    return kind;
}

bool replaceFile(const QString& path, const QByteArray& data, int* error) {
    const QByteArray target = followLinks(QFile::encodeName(path));
    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0 && S_ISREG(st.st_mode);
    if (exists && ::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
        return fail(error, errno); // the file's own mode says no
    // Hard links share the contents: a rename would part them.
    if (exists && st.st_nlink > 1)
        return replaceInPlace(target, data, error);

    // Saves into a folder run one after another in its one copy of the
    // program, so a copy found now was left by a save that was killed.
    removeCopies(target, false);
    QByteArray temp;
    const int fd = createCopy(target, &temp);
    if (fd < 0) {
        const int code = errno;
        // A folder that takes no new files may still hold a file that the
        // operator may write.
        if (exists && (code == EACCES || code == EPERM))
            return replaceInPlace(target, data, error);
        return fail(error, code);
    }
    int code = 0;
    const mode_t mode = exists ? st.st_mode & 07777 : S_IRUSR | S_IWUSR;
    if (!writeAll(fd, data) || ::fchmod(fd, mode) != 0)
        code = errno;
    // Someone else's file stays theirs: only root may give it back, so a
    // copy that cannot keep the owner is dropped and the file written in
    // place instead.
    bool ownerKept = true;
    struct stat mine {};
    if (code == 0 && exists && ::fstat(fd, &mine) == 0 &&
        (mine.st_uid != st.st_uid || mine.st_gid != st.st_gid)) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0)
            ownerKept = false;
        else if (::fchmod(fd, mode) != 0) // a change of owner clears the set-id bits
            code = errno;
    }
    if (code == 0 && ownerKept && ::fsync(fd) != 0)
        code = errno;
    // Named and renamed at once: the only moment a kill leaves a copy.
    bool done = false;
    if (code == 0 && ownerKept && nameCopy(fd, target, &temp, &code))
        done = commitReplacement(temp, target, &code);
    else if (!temp.isEmpty())
        ::unlink(temp.constData());
    ::close(fd);
    if (done)
        return true;
    // A sticky folder lets only the owner replace a file, yet others may be
    // allowed to write it.
    if (!ownerKept || (exists && (code == EACCES || code == EPERM)))
        return replaceInPlace(target, data, error);
    return fail(error, code);
}

QStringList removeSaveLeftovers(const QString& path) {
    return removeCopies(followLinks(QFile::encodeName(path)), true);
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
