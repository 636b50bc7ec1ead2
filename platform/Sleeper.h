#pragma once

#include "platform/Ending.h"

namespace platform {

/// A pause of the alarm step (the modem's hold of the line, the pause after
/// a hang-up), behind an interface so tests record it instead.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    /// Waits ms milliseconds; false when the program's end cut the pause
    /// short (the caller then starts nothing new).
    virtual bool sleepMs(int ms) = 0;
};

/// Pauses with the event loop running, so the tray, the timer and a quit
/// signal are handled meanwhile, and ends the pause at the program's end.
class EventLoopSleeper : public Sleeper {
public:
    explicit EventLoopSleeper(const Ending& ending) : m_ending(ending) {}
    bool sleepMs(int ms) override;

private:
    const Ending& m_ending;
};

} // namespace platform
