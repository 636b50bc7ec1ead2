#include "platform/Ending.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {
namespace {
// Longest sleep between two looks at ready() and the end: events wake the
// loop earlier, this only bounds how late a change without an event is seen.
constexpr qint64 kSliceMs = 20;
} // namespace

WaitResult waitFor(const Ending& ending, const QDeadlineTimer& deadline,
                   const std::function<bool()>& ready) {
    for (;;) {
        if (ready && ready())
            return WaitResult::Ready;
        if (ending.requested())
            return WaitResult::Ended;
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return WaitResult::TimedOut;
        const qint64 slice = left < 0 ? kSliceMs : std::min(left, kSliceMs);
        if (QCoreApplication::instance() && QAbstractEventDispatcher::instance()) {
            QTimer wake;
            wake.setSingleShot(true);
            wake.start(static_cast<int>(slice));
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<qint64>(slice, 5)));
        }
    }
}

} // namespace platform
