#pragma once

#include <QString>

namespace platform {

/// Why no window can be shown ("" when a display is there): a Qt widgets
/// program would otherwise abort with a long message of its own.
QString missingDisplayReason();

} // namespace platform
