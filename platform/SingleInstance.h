#pragma once

#include <QLockFile>
#include <QString>

namespace platform {

/// One running copy per program folder: a lock file beside the settings.
/// A lock left by a copy that crashed names a process that no longer runs
/// and is taken over.
class SingleInstance {
public:
    explicit SingleInstance(const QString& folder);
    /// True when this copy is the only one; false when another one runs.
    bool acquire();
    void release();
    QString lockPath() const { return m_path; }

private:
    QString m_path;
    QLockFile m_lock;
};

} // namespace platform
