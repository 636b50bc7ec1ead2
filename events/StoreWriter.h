#pragma once

#include "events/EventStore.h"
#include "events/PendingRows.h"

#include <QList>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace events {

/// Writes the rows that wait for a shared database on a thread of its own,
/// so that the cycle, its alarms and the tray never wait for the server:
/// the cycle hands its rows over and goes on. Rows are taken in order and
/// written, with the times they were made and the station's name, in one
/// transaction; when the server cannot be reached they stay where they
/// wait and are tried again every kRetryMs, or as soon as more rows come.
class StoreWriter {
public:
    static constexpr int kRetryMs = 10000;
    static constexpr int kBatchRows = 500;

    struct Hooks {
        /// The oldest rows that wait (up to kBatchRows).
        std::function<QList<WaitingRow>()> take;
        /// The rows up to and with this sequence number are in the store.
        std::function<void(quint64 seq)> written;
        /// The store could not be used; false → true once per outage.
        std::function<void(bool failing, const QString& why)> state;
    };

    StoreWriter(EventStore store, Hooks hooks);
    /// Stops the thread; a write under way ends first (its waits are bounded).
    ~StoreWriter();

    const EventStore& store() const { return m_store; }

    /// More rows wait.
    void wake();

private:
    void run();

    EventStore m_store;
    Hooks m_hooks;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_pending = false;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace events
