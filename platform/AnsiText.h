#pragma once

#include <QByteArray>
#include <QString>

// The settings files, the text log and the mail library's conversions keep
// text in code page 932, the ANSI code page of a Japanese desktop. glibc's
// "CP932" is that code page (0x5C is a backslash, NEC and IBM extensions
// included); "SHIFT_JIS" is not, so it is never used.
namespace platform {

/// Text to code page 932 bytes. A character that code page 932 cannot hold
/// becomes "?", as the desktop's own conversion does.
QByteArray toAnsi(const QString& text);

/// Code page 932 bytes to text. A byte sequence that is not valid code page
/// 932 becomes U+FFFD, one per offending byte; nothing else is lost.
QString fromAnsi(const QByteArray& bytes);

/// True when every character of text has a code page 932 form.
bool isAnsiRepresentable(const QString& text);

/// How a text file the operator may have written holds its text.
enum class TextEncoding {
    Ansi, ///< code page 932, what the desktop these files come from writes
    Utf8, ///< UTF-8, what Debian's editors write
};

/// The encoding of a file's bytes: UTF-8 when they start with its
/// byte-order mark, or when they hold non-ASCII bytes that are valid UTF-8
/// throughout (code page 932 text with kanji in it almost never is);
/// otherwise code page 932, which a new file gets too.
TextEncoding encodingOf(const QByteArray& bytes);

/// bytes (without a byte-order mark) as text in that encoding; a sequence
/// the encoding does not allow becomes U+FFFD.
QString decodeText(const QByteArray& bytes, TextEncoding encoding);

/// The text of a whole file: in the encoding encodingOf finds, without its
/// byte-order mark.
QString decodeTextFile(const QByteArray& bytes);

/// text as bytes in that encoding; in code page 932 as toAnsi gives them.
QByteArray encodeText(const QString& text, TextEncoding encoding);

} // namespace platform
