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

} // namespace platform
