#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

/// Writes all of data to fd, going on after short writes and signals.
bool writeAll(int fd, const QByteArray& data);

/// Replaces the contents of the file at path with data. A symbolic link is
/// followed: the file it names gets the data and the link stays a link.
/// The data goes through a temporary file beside that file and a rename,
/// keeping the old file's mode (0600 for a new file), so a crash or a full
/// disk leaves either the old or the new contents. Where the folder takes no
/// new files but the file itself may be written, the file is rewritten in
/// place, its room reserved first so that a full disk leaves it untouched.
/// False when the data is not in the file; error then holds the errno.
bool replaceFile(const QString& path, const QByteArray& data, int* error = nullptr);

/// Why a file operation failed, in a few words for the operator.
QString failureReason(int error);

/// Renames the written and synced temp over target and makes the rename
/// durable; on failure temp is removed and error holds the errno. What
/// replaceFile ends with.
bool commitReplacement(const QByteArray& temp, const QByteArray& target, int* error = nullptr);

} // namespace platform
