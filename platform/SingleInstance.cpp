#include "platform/SingleInstance.h"

namespace platform {

SingleInstance::SingleInstance(const QString& folder)
    : m_path(folder + QStringLiteral("Pulsewatch.lock")), m_lock(m_path) {
    // Never stale by age: a tray program runs for months. A lock whose
    // process is gone is still recognised and removed by QLockFile.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::acquire() {
    return m_lock.isLocked() || m_lock.tryLock(0);
}

void SingleInstance::release() {
    m_lock.unlock();
}

} // namespace platform
