#include "events/PendingRows.h"

#include "platform/FileIo.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace events {
namespace {

// A fixed header, so that the rows can be rewritten without moving it:
// "PWPENDING1 <payload bytes>", padded to kHeaderBytes with a final LF.
constexpr qint64 kHeaderBytes = 64;
const QByteArray kMagic = "PWPENDING1 ";
const QString kMadeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QByteArray escaped(const QString& text) {
    QByteArray out;
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescaped(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return QString::fromUtf8(out);
}

QByteArray header(qint64 payload) {
    QByteArray h = kMagic + QByteArray::number(payload);
    h += QByteArray(kHeaderBytes - 1 - h.size(), ' ');
    return h + '\n';
}

QByteArray lineOf(const WaitingRow& row) {
    return row.made.toString(kMadeFormat).toLatin1() + '\t' + QByteArray::number(row.error) + '\t' +
           escaped(row.serverName) + '\t' + escaped(row.message) + '\n';
}

// Makes room up to size bytes in fd where the file does not own it yet.
bool roomFor(int fd, qint64 size) {
    struct stat st {};
    return (::fstat(fd, &st) == 0 && st.st_size >= size) || ::posix_fallocate(fd, 0, size) == 0;
}

qint64 payloadIn(const QByteArray& head) {
    return head.startsWith(kMagic) ? head.mid(kMagic.size()).trimmed().toLongLong() : 0;
}

bool pwriteAll(int fd, const QByteArray& data, off_t at) {
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::pwrite(fd, data.constData() + done, data.size() - done, at + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

int openFile(const QString& path, int flags) {
    // Only a regular file of ours: a FIFO or a device there must not block
    // or swallow the rows.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool PendingRows::reserve() {
    const int fd = openFile(m_path, O_RDWR | O_CREAT);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && st.st_size < kHeaderBytes)
        ok = pwriteAll(fd, header(0), 0);
    if (ok && st.st_size < kReservedBytes)
        ok = ::posix_fallocate(fd, 0, kReservedBytes) == 0;
    ::close(fd);
    return ok;
}

QList<WaitingRow> PendingRows::read() const {
    QList<WaitingRow> rows;
    QFile f;
    const int fd = openFile(m_path, O_RDONLY);
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return rows;
    }
    const qint64 payload = payloadIn(f.read(kHeaderBytes));
    if (payload <= 0)
        return rows;
    // A payload cut short (the program killed while writing) gives the
    // rows that are whole.
    const QByteArray data = f.read(std::min<qint64>(payload, kReservedBytes * 4));
    for (const QByteArray& line : data.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 4)
            continue;
        WaitingRow row{QDateTime::fromString(QString::fromLatin1(fields[0]), kMadeFormat),
                       unescaped(fields[2]), unescaped(fields[3]),
                       static_cast<qint16>(fields[1].toInt())};
        if (row.made.isValid())
            rows << row;
    }
    return rows;
}

int PendingRows::write(const QList<WaitingRow>& rows) {
    const int fd = openFile(m_path, rows.isEmpty() ? O_WRONLY : O_WRONLY | O_CREAT);
    if (fd < 0)
        return rows.isEmpty() ? 0 : -1;
    QByteArray payload;
    int kept = 0;
    for (const WaitingRow& row : rows) {
        const QByteArray line = lineOf(row);
        // Past the room the file owns it may still grow, where the disk
        // allows; the oldest rows come first either way.
        if (!roomFor(fd, kHeaderBytes + payload.size() + line.size()))
            break;
        payload += line;
        ++kept;
    }
    // The rows first, then the header that counts them: a kill in between
    // leaves whole rows under the old count, never a count past them.
    const bool ok = pwriteAll(fd, payload, kHeaderBytes) && ::fdatasync(fd) == 0 &&
                    pwriteAll(fd, header(payload.size()), 0) && ::fdatasync(fd) == 0;
    ::close(fd);
    m_payload = ok ? payload.size() : -1;
    return ok ? kept : -1;
}

bool PendingRows::append(const WaitingRow& row) {
    const int fd = openFile(m_path, O_RDWR | O_CREAT);
    if (fd < 0)
        return false;
    if (m_payload < 0) {
        char head[kHeaderBytes];
        const ssize_t n = ::pread(fd, head, sizeof head, 0);
        m_payload = n > 0 ? std::max<qint64>(payloadIn(QByteArray(head, n)), 0) : 0;
    }
    const QByteArray line = lineOf(row);
    const qint64 end = kHeaderBytes + m_payload + line.size();
    const bool ok = roomFor(fd, end) && pwriteAll(fd, line, kHeaderBytes + m_payload) &&
                    pwriteAll(fd, header(m_payload + line.size()), 0);
    ::close(fd);
    if (ok)
        m_payload += line.size();
    else
        m_payload = -1;
    return ok;
}

} // namespace events
