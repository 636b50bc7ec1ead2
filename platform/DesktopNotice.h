#pragma once

#include <QString>

#include <functional>

namespace platform {

/// Shows a notice through the desktop's notification service
/// (org.freedesktop.Notifications on the session bus), with the program's
/// icon; critical ones stay until the operator dismisses them. Returns at
/// once: nothing waits for the service, and onFailure is told, later, when
/// there is none or it refused.
void notifyDesktop(const QString& summary, const QString& body, bool critical,
                   const std::function<void(const QString& why)>& onFailure);

} // namespace platform
