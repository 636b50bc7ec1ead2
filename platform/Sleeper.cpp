#include "platform/Sleeper.h"

namespace platform {

bool EventLoopSleeper::sleepMs(int ms) {
    return waitFor(m_ending, QDeadlineTimer(ms > 0 ? ms : 0)) != WaitResult::Ended;
}

} // namespace platform
