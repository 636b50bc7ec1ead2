#include "platform/EventLoop.h"

#include <QCoreApplication>

namespace platform {

void yieldToEventLoop() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

} // namespace platform
