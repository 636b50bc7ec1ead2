#include "settings/IniFile.h"

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settings {
namespace {

using Lines = QList<QByteArray>;

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray trimmed(const QByteArray& b) {
    qsizetype from = 0;
    qsizetype to = b.size();
    while (from < to && isBlank(b[from]))
        ++from;
    while (to > from && isBlank(b[to - 1]))
        --to;
    return b.mid(from, to - from);
}

bool sameName(const QByteArray& fileBytes, const QString& name) {
    return platform::fromAnsi(fileBytes).compare(name, Qt::CaseInsensitive) == 0;
}

// Splits on LF; a CR before the LF and a UTF-8 byte-order mark at the very
// start belong to no entry.
Lines splitLines(QByteArray data) {
    if (data.startsWith(kUtf8Bom))
        data.remove(0, kUtf8Bom.size());
    Lines lines = data.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

bool sectionName(const QByteArray& line, QByteArray* name) {
    const QByteArray t = trimmed(line);
    if (!t.startsWith('['))
        return false;
    const qsizetype close = t.indexOf(']');
    *name = trimmed(t.mid(1, close < 0 ? -1 : close - 1));
    return true;
}

bool keyAndValue(const QByteArray& line, QByteArray* key, QByteArray* value) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return false;
    *key = trimmed(line.left(eq));
    if (value)
        *value = trimmed(line.mid(eq + 1));
    return true;
}

struct Location {
    qsizetype section = -1;   // index of the section header
    qsizetype key = -1;       // index of the matching entry
    qsizetype lastEntry = -1; // index of the section's last non-blank line
};

Location locate(const Lines& lines, const QString& section, const QString& key) {
    Location at;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray name;
        if (sectionName(lines[i], &name)) {
            if (at.section >= 0)
                break; // only the first matching section counts
            if (sameName(name, section))
                at.section = at.lastEntry = i;
            continue;
        }
        if (at.section < 0)
            continue;
        if (!trimmed(lines[i]).isEmpty())
            at.lastEntry = i;
        QByteArray k;
        if (at.key < 0 && keyAndValue(lines[i], &k, nullptr) && sameName(k, key))
            at.key = i;
    }
    return at;
}

// The file's bytes; a missing file is no error. False with errno in *error
// when it exists but cannot be read.
bool readFile(const QString& path, QByteArray* data, bool* exists, int* error = nullptr) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    *exists = fd >= 0 || errno != ENOENT;
    if (fd < 0) {
        if (error)
            *error = errno;
        return !*exists;
    }
    char buffer[65536];
    ssize_t n = 0;
    while (data->size() <= kMaxProfileFileSize && (n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        data->append(buffer, n);
    }
    if (n < 0 && error)
        *error = errno;
    ::close(fd);
    return n >= 0;
}

QByteArray oneLine(const QString& text) {
    QString t = text;
    t.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return platform::toAnsi(t);
}

} // namespace

QString readProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& def, int bufferSize) {
    QByteArray data;
    bool exists = false;
    if (!readFile(path, &data, &exists) || !exists)
        return def;
    const Lines lines = splitLines(data.left(kMaxProfileFileSize));
    const Location at = locate(lines, section, key);
    if (at.key < 0)
        return def;
    QByteArray k, value;
    keyAndValue(lines[at.key], &k, &value);

    // Cut as a fixed buffer would, but never between the two bytes of a
    // double-byte character (lead bytes 81-9F and E0-FC).
    const qsizetype room = std::max(bufferSize - 1, 0);
    if (value.size() > room) {
        qsizetype end = 0;
        for (qsizetype i = 0; i < room;) {
            const auto c = static_cast<unsigned char>(value[i]);
            const qsizetype width = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
            if (i + width > room)
                break;
            i += width;
            end = i;
        }
        value.truncate(end);
    }
    return platform::fromAnsi(value);
}

bool writeProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value, int* error) {
    QByteArray data;
    bool exists = false;
    if (!readFile(path, &data, &exists, error))
        return false;
    if (data.size() > kMaxProfileFileSize) {
        if (error)
            *error = EFBIG;
        return false;
    }
    const bool bom = data.startsWith(kUtf8Bom);
    Lines lines = splitLines(data);

    const QByteArray entry = oneLine(key) + '=' + oneLine(value);
    const Location at = locate(lines, section, key);
    if (at.key >= 0) {
        lines[at.key] = entry;
    } else if (at.section >= 0) {
        lines.insert(at.lastEntry + 1, entry);
    } else {
        lines.append('[' + oneLine(section) + ']');
        lines.append(entry);
    }

    QByteArray out = bom ? kUtf8Bom : QByteArray();
    for (const QByteArray& line : lines)
        out += line + "\r\n";
    return platform::replaceFile(path, out, error);
}

} // namespace settings
