#pragma once

#include <QByteArray>

namespace platform {

/// Writes all of data to fd, going on after short writes and signals.
bool writeAll(int fd, const QByteArray& data);

} // namespace platform
