#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace testsupport {

/// What a test can do to the folder that code under test writes into.
enum class Trouble {
    /// The folder takes no new files (mode 0555); its files stay writable.
    ReadOnlyFolder,
    /// The folder lies on a full file system (a private tmpfs, root only).
    FullDisk,
};

/// Runs fn in a child process that sees folder in trouble, and returns what
/// fn returned. The folder's files are kept; the trouble ends with the
/// child. Root ignores file modes, so as root the read-only case runs as the
/// user nobody (the folder is handed to that user for the while). nullopt,
/// with the reason in *skip, where this machine cannot make the trouble.
std::optional<QString> inTrouble(Trouble trouble, const QString& folder,
                                 const std::function<QString()>& fn, QString* skip);

} // namespace testsupport
