#pragma once

#include <QDateTime>

namespace platform {

/// The wall clock, behind an interface so tests can fix the time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override;
};

/// Date and time in the general form of a Japanese desktop: 2026/12/07 9:05:03.
QString generalDate(const QDateTime& t);

} // namespace platform
