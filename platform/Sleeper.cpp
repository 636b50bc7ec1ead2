#include "platform/Sleeper.h"

#include <QThread>

namespace platform {

void ThreadSleeper::sleepMs(int ms) {
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

} // namespace platform
