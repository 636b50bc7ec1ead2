#pragma once

#include <QIcon>
#include <QString>

namespace platform {

/// An icon rendered from one of the program's SVG resources at the sizes a
/// tray and a window frame ask for.
QIcon svgIcon(const QString& resource);

inline const QString kRunningIcon = QStringLiteral(":/pulsewatch/pulsewatch-running.svg");
inline const QString kPausedIcon = QStringLiteral(":/pulsewatch/pulsewatch-paused.svg");

} // namespace platform
