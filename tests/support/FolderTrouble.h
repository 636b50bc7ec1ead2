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
    /// The folder takes new files, but its files are read-only (mode 0444).
    ReadOnlyFiles,
    /// The folder is the user's, its files root's with mode 0666: anyone may
    /// write them, but a file that replaced them would be the user's.
    ForeignFiles,
};

/// Runs fn in a child process that sees folder in trouble, and returns what
/// fn returned. The folder's files are kept; the trouble ends with the
/// child. Root ignores file modes, so as root the cases of modes and owners
/// run as the user nobody (the folder, and for ReadOnlyFiles its files, are
/// handed to that user for the while); ForeignFiles needs root. nullopt,
/// with the reason in *skip, where this machine cannot make the trouble.
std::optional<QString> inTrouble(Trouble trouble, const QString& folder,
                                 const std::function<QString()>& fn, QString* skip);

} // namespace testsupport
