#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace platform {

/// The Japanese serif face of the alarm list and the ping window, from the
/// fonts a Linux desktop has (the Windows face ＭＳ 明朝 is not one of them).
QFont minchoFont();

/// Makes the program's built-in resources (":/pulsewatch/...") readable.
void ensureResources();

/// An icon rendered from one of the program's SVG resources at the sizes a
/// tray and a window frame ask for.
QIcon svgIcon(const QString& resource);

/// A picture rendered from an SVG resource at exactly width x height.
QPixmap svgPixmap(const QString& resource, int width, int height);

inline const QString kRunningIcon = QStringLiteral(":/pulsewatch/pulsewatch-running.svg");
inline const QString kPausedIcon = QStringLiteral(":/pulsewatch/pulsewatch-paused.svg");
inline const QString kAlarmPicture = QStringLiteral(":/pulsewatch/emergency-alarm.svg");

} // namespace platform
