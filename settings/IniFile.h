#pragma once

#include <QString>

// The profile-string layer under the settings files: one-line "KEY=value"
// entries under "[Section]" headers, text in code page 932, CR LF line ends.
// Section and key names match without regard to case; the first matching
// section and, inside it, the first matching key win, as on the desktop the
// files come from.
namespace settings {

/// Size of the buffer a read fits its value into, terminator included.
inline constexpr int kProfileBufferSize = 1024;

/// Files larger than this are not settings files; reads see only this much
/// and writes refuse to touch them, so nothing of such a file is lost.
inline constexpr qint64 kMaxProfileFileSize = 8 * 1024 * 1024;

/// The value of key in section of the file at path, or def when the file,
/// the section or the key is missing. A value longer than bufferSize - 1
/// code page 932 bytes is cut there, never inside a double-byte character.
QString readProfileString(const QString& path, const QString& section, const QString& key,
                          const QString& def, int bufferSize = kProfileBufferSize);

/// Writes key=value into section: an existing key is replaced in place, a new
/// one goes after the last entry of its section, a missing section is added
/// at the end, and a missing file is created (mode 0600: it may hold a
/// password). The file is replaced as a whole through a temporary file and a
/// rename, keeping its mode, so a crash or a full disk leaves either the old
/// or the new file (a symbolic link is followed to its file; a file in a
/// folder that takes no new files is rewritten in place). Line breaks inside
/// section, key or value would split the entry and are written as blanks.
/// Returns false when nothing was written, with the errno in *error.
bool writeProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value, int* error = nullptr);

} // namespace settings
