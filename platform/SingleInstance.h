#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace platform {

/// One running copy per program folder: a lock on the folder itself, so the
/// check needs neither room nor write permission there (after a reboot on a
/// full disk the watch must still start). The kernel lets the lock go when
/// the copy ends in any way, a crash included. Where the file system keeps
/// no such locks (some network file systems), a lock file in the folder
/// stands in, and a lock file left by a crash is taken over.
class SingleInstance {
public:
    enum class Result {
        Acquired,       // this copy is the only one
        AlreadyRunning, // another copy holds the lock
        Failed,         // no lock could be made in the folder: see error()
    };

    explicit SingleInstance(const QString& folder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result acquire();
    void release();
    QString folder() const { return m_folder; }
    /// Why the lock could not be made (an errno), after Failed.
    int error() const { return m_error; }

private:
    Result acquireLockFile();
    bool heldByLiveCopy();
    int folderWriteError() const;

    QString m_folder;
    int m_folderFd = -1;
    std::unique_ptr<QLockFile> m_lockFile;
    int m_error = 0;
};

} // namespace platform
