#include "settings/IniFile.h"

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

#include <QList>

#include <cerrno>

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

using platform::TextEncoding;

// A settings file as read: its lines and the encoding its text is in.
struct Profile {
    Lines lines;
    TextEncoding encoding = TextEncoding::Ansi;
    bool bom = false;
};

bool sameName(const QByteArray& fileBytes, const QString& name, TextEncoding encoding) {
    return platform::decodeText(fileBytes, encoding).compare(name, Qt::CaseInsensitive) == 0;
}

// Splits on LF; a CR before the LF and a UTF-8 byte-order mark at the very
// start belong to no entry.
Profile parse(QByteArray data) {
    Profile p;
    p.encoding = platform::encodingOf(data);
    p.bom = data.startsWith(kUtf8Bom);
    if (p.bom)
        data.remove(0, kUtf8Bom.size());
    p.lines = data.split('\n');
    if (!p.lines.isEmpty() && p.lines.last().isEmpty())
        p.lines.removeLast();
    for (QByteArray& line : p.lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return p;
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

Location locate(const Profile& profile, const QString& section, const QString& key) {
    const Lines& lines = profile.lines;
    Location at;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray name;
        if (sectionName(lines[i], &name)) {
            if (at.section >= 0)
                break; // only the first matching section counts
            if (sameName(name, section, profile.encoding))
                at.section = at.lastEntry = i;
            continue;
        }
        if (at.section < 0)
            continue;
        if (!trimmed(lines[i]).isEmpty())
            at.lastEntry = i;
        QByteArray k;
        if (at.key < 0 && keyAndValue(lines[i], &k, nullptr) && sameName(k, key, profile.encoding))
            at.key = i;
    }
    return at;
}

// The file's bytes; a missing file, or something that is no regular file
// (a FIFO would hold the program for good), reads as no file. False with
// errno in *error when it exists but cannot be read.
bool readFile(const QString& path, QByteArray* data, bool* exists, int* error = nullptr) {
    const platform::FileKind kind =
        platform::readRegularFile(path, kMaxProfileFileSize + 1, data, error);
    *exists = kind == platform::FileKind::Regular || kind == platform::FileKind::Unreadable;
    return kind != platform::FileKind::Unreadable;
}

bool quoted(const QByteArray& value) {
    return value.size() >= 2 && value.startsWith('"') && value.endsWith('"');
}

QByteArray oneLine(const QString& text, TextEncoding encoding) {
    QString t = text;
    t.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return platform::encodeText(t, encoding);
}

// A value the read would change (blanks at its ends are trimmed, one pair
// of surrounding quotes is dropped) goes in quotes, so it reads back as
// written.
QByteArray valueText(const QString& value, TextEncoding encoding) {
    const QByteArray v = oneLine(value, encoding);
    const bool changes = !v.isEmpty() && (isBlank(v.front()) || isBlank(v.back()) || quoted(v));
    return changes ? '"' + v + '"' : v;
}

} // namespace

QString readProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& def, int bufferSize) {
    QByteArray data;
    bool exists = false;
    if (!readFile(path, &data, &exists) || !exists)
        return def;
    const Profile profile = parse(data.left(kMaxProfileFileSize));
    const Location at = locate(profile, section, key);
    if (at.key < 0)
        return def;
    QByteArray k, value;
    keyAndValue(profile.lines[at.key], &k, &value);
    if (quoted(value))
        value = value.mid(1, value.size() - 2);

    const qsizetype room = std::max(bufferSize - 1, 0);
    if (profile.encoding == TextEncoding::Utf8) {
        // A buffer of characters: cut there, never inside a surrogate pair.
        QString text = QString::fromUtf8(value);
        if (text.size() > room)
            text.truncate(room > 0 && text[room - 1].isHighSurrogate() ? room - 1 : room);
        return text;
    }
    // Cut as a fixed buffer would, but never between the two bytes of a
    // double-byte character (lead bytes 81-9F and E0-FC).
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

platform::TextEncoding profileEncoding(const QString& path) {
    QByteArray data;
    bool exists = false;
    readFile(path, &data, &exists);
    return platform::encodingOf(data);
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
    Profile profile = parse(data);
    const TextEncoding enc = profile.encoding;
    Lines& lines = profile.lines;

    const QByteArray entry = oneLine(key, enc) + '=' + valueText(value, enc);
    const Location at = locate(profile, section, key);
    if (at.key >= 0) {
        lines[at.key] = entry;
    } else if (at.section >= 0) {
        lines.insert(at.lastEntry + 1, entry);
    } else {
        lines.append('[' + oneLine(section, enc) + ']');
        lines.append(entry);
    }

    QByteArray out = profile.bom ? kUtf8Bom : QByteArray();
    for (const QByteArray& line : lines)
        out += line + "\r\n";
    return platform::replaceFile(path, out, error);
}

} // namespace settings
