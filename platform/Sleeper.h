#pragma once

namespace platform {

/// A wait that blocks the calling thread (the modem's hold of the line, the
/// pause after a hang-up), behind an interface so tests record it instead.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(int ms) = 0;
};

class ThreadSleeper : public Sleeper {
public:
    void sleepMs(int ms) override;
};

} // namespace platform
