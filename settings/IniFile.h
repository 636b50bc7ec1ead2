#pragma once

#include "platform/AnsiText.h"

#include <QString>

// The profile-string layer under the settings files: one-line "KEY=value"
// entries under "[Section]" headers, CR LF line ends. Text is in code page
// 932, or in UTF-8 in a file that is UTF-8 already (written so by an editor,
// with or without a byte-order mark); a file keeps its encoding when it is
// written. Section and key names match without regard to case; the first
// matching section and, inside it, the first matching key win, as on the
// desktop the files come from. Anything at the path that is not a regular
// file (a FIFO) reads as a missing file and is never waited on.
namespace settings {

/// Size of the buffer a read fits its value into, terminator included.
inline constexpr int kProfileBufferSize = 1024;

/// Files larger than this are not settings files; reads see only this much
/// and writes refuse to touch them, so nothing of such a file is lost.
inline constexpr qint64 kMaxProfileFileSize = 8 * 1024 * 1024;

/// The value of key in section of the file at path, or def when the file,
/// the section or the key is missing. Blanks around the value are dropped,
/// then one pair of double quotes around all of it. A value longer than
/// bufferSize - 1 code page 932 bytes (characters in a UTF-8 file) is cut
/// there, never inside a character.
QString readProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& def, int bufferSize = kProfileBufferSize);

/// The encoding the file at path keeps its text in, and a write uses: code
/// page 932 for a file that is missing or holds ASCII only.
platform::TextEncoding profileEncoding(const QString& path);

/// Writes key=value into section: an existing key is replaced in place, a new
/// one goes after the last entry of its section, a missing section is added
/// at the end, and a missing file is created (mode 0600: it may hold a
/// password). The file is replaced as platform::replaceFile does it, keeping
/// its mode and owner, so a crash or a full disk leaves either the old or
/// the new file; a file the caller may not write is left alone (EACCES).
/// Line breaks inside section, key or value would split the entry and are
/// written as blanks; a value with blanks at its ends or in quotes of its
/// own is written in quotes, so that it reads back as it was. Returns false
/// when nothing was written, with the errno in *error.
bool writeProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value, int* error = nullptr);

} // namespace settings
