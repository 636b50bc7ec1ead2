#include "logview/EventTime.h"

#include <algorithm>

namespace logview {
namespace {

// Days from 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back (the usual era arithmetic: exact for every year, no tables).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d) {
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

void civilFromDays(qint64 z, qint64* y, unsigned* m, unsigned* d) {
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<qint64>(yoe) + era * 400 + (*m <= 2);
}

} // namespace

quint64 packedTime(QStringView d) {
    quint64 v = 0;
    int digits = 0;
    for (QChar ch : d) {
        const char16_t c = ch.unicode();
        if (c >= u'0' && c <= u'9' && digits < 14) {
            v = v * 10 + static_cast<quint64>(c - u'0');
            ++digits;
        }
    }
    while (digits++ < 14)
        v *= 10;
    return v;
}

QString shownTime(quint64 v) {
    const int sec = v % 100, min = v / 100 % 100, hour = v / 10000 % 100;
    const int day = v / 1000000 % 100, month = v / 100000000 % 100;
    const int year = static_cast<int>(v / 10000000000ULL);
    return QStringLiteral("%1/%2/%3 %4:%5:%6")
        .arg(year, 4, 10, QLatin1Char('0'))
        .arg(month, 2, 10, QLatin1Char('0'))
        .arg(day, 2, 10, QLatin1Char('0'))
        .arg(hour)
        .arg(min, 2, 10, QLatin1Char('0'))
        .arg(sec, 2, 10, QLatin1Char('0'));
}

qint64 civilSeconds(quint64 v) {
    const qint64 sec = v % 100, min = v / 100 % 100, hour = v / 10000 % 100;
    // A stray month or day 0 still gives a number in order, never garbage.
    const unsigned day = std::clamp<unsigned>(v / 1000000 % 100, 1, 31);
    const unsigned month = std::clamp<unsigned>(v / 100000000 % 100, 1, 12);
    const qint64 year = static_cast<qint64>(v / 10000000000ULL);
    return daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + min * 60 + sec;
}

quint64 packedOf(qint64 s) {
    const qint64 days = s >= 0 ? s / kSecondsPerDay : (s - kSecondsPerDay + 1) / kSecondsPerDay;
    const qint64 rest = s - days * kSecondsPerDay;
    qint64 y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(days, &y, &m, &d);
    return static_cast<quint64>(y) * 10000000000ULL + m * 100000000ULL + d * 1000000ULL +
           static_cast<quint64>(rest / 3600 * 10000 + rest / 60 % 60 * 100 + rest % 60);
}

} // namespace logview
