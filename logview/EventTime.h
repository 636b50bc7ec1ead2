#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

namespace logview {

/// A moment of the event table as YYYYMMDDhhmmss in one number: AddDate is
/// the desktop's local time as text ("2026-12-07 09:00:00"), and a server
/// database's timestamp reads as "2026-12-07T09:00:00.000"; the digits are
/// what counts. Anything else keeps the digits it has.
quint64 packedTime(QStringView addDate);

/// The form the viewer shows a moment in: 2026/12/07 9:00:00.
QString shownTime(quint64 packed);

/// The same moment as seconds counted on the local calendar and clock from
/// 1970-01-01 0:00:00, with no time zone in between: what the chart places
/// its points by. A summer-time change leaves no gap or fold here, just as
/// the table's own times have none.
qint64 civilSeconds(quint64 packed);
quint64 packedOf(qint64 civilSeconds);

constexpr qint64 kSecondsPerDay = 86400;

} // namespace logview
