#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

/// Writes all of data to fd, going on after short writes and signals.
bool writeAll(int fd, const QByteArray& data);

/// Replaces the file at path with data through a temporary file and a
/// rename, keeping the old file's mode (0600 for a new file), so a crash or
/// a full disk leaves either the old or the new file. False when nothing was
/// replaced.
bool replaceFile(const QString& path, const QByteArray& data);

/// Renames the written and synced temp over target and makes the rename
/// durable; on failure temp is removed. What replaceFile ends with.
bool commitReplacement(const QByteArray& temp, const QByteArray& target);

} // namespace platform
