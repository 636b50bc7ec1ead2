#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

/// Writes all of data to fd, going on after short writes and signals.
bool writeAll(int fd, const QByteArray& data);

/// What stands at a path that is to be read as a file.
enum class FileKind {
    Regular,    ///< a regular file, opened
    Missing,    ///< nothing there
    NotRegular, ///< a FIFO, a socket, a device or a folder: taken as missing
    Unreadable, ///< a regular file that could not be opened or read
};

/// Opens path for reading without ever waiting: a FIFO or a device where a
/// file is expected would hold a blocking open or read for good. Symbolic
/// links are followed. The descriptor (close-on-exec, blocking again for the
/// reads that follow) of a regular file; otherwise -1, with *kind saying
/// what is there and *error the errno of an Unreadable one.
int openRegularFile(const QString& path, FileKind* kind = nullptr, int* error = nullptr);

/// Reads at most maxBytes of the regular file at path into *data, opened as
/// openRegularFile does. Regular when it was read, with the errno of an
/// Unreadable one in *error.
FileKind readRegularFile(const QString& path, qint64 maxBytes, QByteArray* data,
                         int* error = nullptr);

/// Replaces the contents of the file at path with data. A symbolic link is
/// followed: the file it names gets the data and the link stays a link.
/// The data goes into a nameless file beside that file, named only for the
/// rename that puts it in place, so a crash, a kill or a full disk leaves
/// either the old or the new contents and, but for a kill between those two
/// steps, nothing else; the next save, or removeSaveLeftovers, clears what
/// such a kill left (one copy of the program saves into a folder, one save
/// after another, so no copy found then is in use). The old file's
/// mode, owner and group are kept; a file the caller may not write is not
/// replaced (EACCES). Where the folder takes no new files, the owner cannot
/// be kept or the file has further hard links, the file is rewritten in
/// place, its room reserved first so that a full disk leaves it untouched.
/// Something at path that is not a regular file (a FIFO) is replaced as if
/// nothing were there. False when the data is not in the file; error then
/// holds the errno.
bool replaceFile(const QString& path, const QByteArray& data, int* error = nullptr);

/// Removes what saves into the file at path left beside it when they were
/// cut short: the named copy of a save killed just before its rename, and
/// the copies that earlier versions wrote under a name for the whole save
/// ("NAME." and six letters and digits drawn at random, recognised by a
/// capital after the first place and a small letter, so that copies named
/// by hand such as "NAME.backup" or "NAME.BAK001" stay). Only regular files
/// of this user are removed. The names removed.
QStringList removeSaveLeftovers(const QString& path);

/// Why a file operation failed, in a few words for the operator.
QString failureReason(int error);

/// Renames the written and synced temp over target and makes the rename
/// durable; on failure temp is removed and error holds the errno. What
/// replaceFile ends with.
bool commitReplacement(const QByteArray& temp, const QByteArray& target, int* error = nullptr);

} // namespace platform
