#pragma once

#include <QDeadlineTimer>

#include <atomic>
#include <functional>

namespace platform {

/// The program's end as every wait sees it. Set once, when the program is
/// told to end (終了, a quit signal, the end of the session). Leaving the
/// event loop is not enough: a wait inside a cycle (a dial, the modem's
/// hold, a relay's reply) must see the end itself, hang up what it opened
/// and start nothing more.
class Ending {
public:
    void request() { m_requested.store(true); }
    bool requested() const { return m_requested.load(); }

private:
    std::atomic<bool> m_requested{false};
};

enum class WaitResult { Ready, TimedOut, Ended };

/// Runs the event loop until ready() holds, the deadline passes or the end
/// is requested, whichever comes first (ready is checked first, so work
/// that finished is never reported as abandoned). An empty ready waits for
/// the deadline alone. The loop sleeps until an event or the next short
/// slice, so a wait costs no CPU; on a thread without an event loop it
/// sleeps in short slices instead.
WaitResult waitFor(const Ending& ending, const QDeadlineTimer& deadline,
                   const std::function<bool()>& ready = {});

} // namespace platform
