#include "dialup/OptionFile.h"

#include "platform/FileIo.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace dialup {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The escape sequence whose first character after the backslash is at i;
// returns the index after it.
qsizetype unescape(const QByteArray& s, qsizetype i, QByteArray* out) {
    static const char kNamed[] = "a\ab\bf\fn\nr\rs t\t";
    const char c = s[i];
    for (const char* p = kNamed; *p; p += 2)
        if (*p == c) {
            *out += p[1];
            return i + 1;
        }
    int value = 0;
    if (isOctal(c)) {
        for (int n = 0; n < 3 && i < s.size() && isOctal(s[i]); ++n, ++i)
            value = value * 8 + (s[i] - '0');
        *out += static_cast<char>(value);
        return i;
    }
    if (c == 'x') {
        ++i;
        for (int n = 0; n < 2 && i < s.size() && hexValue(s[i]) >= 0; ++n, ++i)
            value = value * 16 + hexValue(s[i]);
        *out += static_cast<char>(value);
        return i;
    }
    *out += c;
    return i + 1;
}

} // namespace

QList<OptionWord> optionWords(const QList<QByteArray>& lines) {
    QList<OptionWord> words;
    for (qsizetype l = 0; l < lines.size(); ++l) {
        const QByteArray& s = lines[l];
        qsizetype i = 0;
        while (i < s.size() && s[i] != '#') {
            if (isBlank(s[i])) {
                ++i;
                continue;
            }
            OptionWord w;
            w.line = l;
            w.begin = i;
            char quote = 0;
            while (i < s.size()) {
                const char c = s[i];
                if (c == '\\') {
                    if (++i < s.size())
                        i = unescape(s, i, &w.text);
                } else if (quote) {
                    if (c != quote)
                        w.text += c;
                    quote = c == quote ? 0 : quote;
                    ++i;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                    ++i;
                } else if (isBlank(c) || c == '#') {
                    break;
                } else {
                    w.text += c;
                    ++i;
                }
            }
            w.end = i;
            words << w;
        }
    }
    return words;
}

QByteArray optionWord(const QByteArray& value) {
    QByteArray w = "\"";
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"')
            w += '\\';
        if (u < 0x20 || u == 0x7f) // three digits, so a digit after it stays itself
            w += '\\' + QByteArray::number(u, 8).rightJustified(3, '0');
        else
            w += c;
    }
    return w + '"';
}

QList<ShellWord> shellWords(const QByteArray& command) {
    QList<ShellWord> words;
    qsizetype i = 0;
    const qsizetype n = command.size();
    while (i < n) {
        if (isBlank(command[i])) {
            ++i;
            continue;
        }
        ShellWord w;
        w.begin = i;
        while (i < n && !isBlank(command[i])) {
            const char c = command[i++];
            if (c == '\'') {
                while (i < n && command[i] != '\'')
                    w.text += command[i++];
                ++i;
            } else if (c == '"') {
                while (i < n && command[i] != '"') {
                    if (command[i] == '\\' && i + 1 < n &&
                        QByteArray("$`\"\\").contains(command[i + 1]))
                        ++i;
                    w.text += command[i++];
                }
                ++i;
            } else if (c == '\\' && i < n) {
                w.text += command[i++];
            } else {
                w.text += c;
            }
        }
        w.end = std::min(i, n);
        words << w;
    }
    return words;
}

QByteArray shellQuoted(const QByteArray& value) {
    QByteArray q = value;
    return '\'' + q.replace('\'', "'\\''") + '\'';
}

bool OptionFile::load(const QString& path) {
    m_path = path;
    lines.clear();
    m_finalNewline = true;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = f.read(4 * 1024 * 1024);
    if (data.isEmpty())
        return true;
    lines = data.split('\n');
    m_finalNewline = data.endsWith('\n');
    if (m_finalNewline)
        lines.removeLast();
    return true;
}

void OptionFile::append(const QByteArray& line) {
    lines << line;
    m_finalNewline = true;
}

bool OptionFile::save() const {
    QByteArray data = lines.join('\n');
    if (!lines.isEmpty() && m_finalNewline)
        data += '\n';
    // A symlinked entry is the administrator's arrangement: write the file it
    // names, never a copy in the link's place.
    const QFileInfo resolved(QFileInfo(m_path).canonicalFilePath().isEmpty()
                                 ? m_path
                                 : QFileInfo(m_path).canonicalFilePath());
    const QByteArray target = QFile::encodeName(resolved.absoluteFilePath());
    struct stat st {};
    const bool existed = ::stat(target.constData(), &st) == 0;
    // Hidden, so the peers folder never lists it as an entry.
    QByteArray temp = QFile::encodeName(resolved.absolutePath() + QStringLiteral("/.") +
                                        resolved.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    // Debian ships the peers files root:dip 0640: a copy owned by whoever
    // saved it would lock every dip user out of dialing.
    bool ok = !existed || ::fchown(fd, st.st_uid, st.st_gid) == 0;
    ok = ok && ::fchmod(fd, existed ? (st.st_mode & 07777) : 0600) == 0;
    ok = ok && platform::writeAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        return platform::commitReplacement(temp, target);
    ::unlink(temp.constData());
    return false;
}

} // namespace dialup
