#pragma once

#include <QLockFile>
#include <QString>

namespace platform {

/// One running copy per program folder: a lock file beside the settings.
/// A lock left by a copy that crashed names a process that no longer runs
/// and is taken over.
class SingleInstance {
public:
    enum class Result {
        Acquired,       // this copy is the only one
        AlreadyRunning, // another copy holds the lock
        Failed,         // no lock could be made in the folder: see error()
    };

    explicit SingleInstance(const QString& folder);
    Result acquire();
    void release();
    QString folder() const { return m_folder; }
    QString lockPath() const { return m_path; }
    /// Why the lock could not be made (an errno), after Failed.
    int error() const { return m_error; }

private:
    bool heldByLiveCopy();
    int folderWriteError() const;

    QString m_folder;
    QString m_path;
    QLockFile m_lock;
    int m_error = 0;
};

} // namespace platform
