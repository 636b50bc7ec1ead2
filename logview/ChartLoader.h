#pragma once

#include "logview/ChartData.h"

#include <QObject>

#include <atomic>
#include <memory>

class QThread;

namespace logview {

/// Loads a search's chart on a thread of its own: reading a quarter of a
/// million rows takes long enough that the window would stop answering.
/// A new search or the end of the loader cancels the load in progress.
class ChartLoader : public QObject {
    Q_OBJECT
public:
    explicit ChartLoader(QObject* parent = nullptr);
    ~ChartLoader() override;

    void start(const events::EventStore& store, const SearchCriteria& c);
    /// Stops the load in progress; its result is never delivered.
    void cancel();
    bool busy() const { return m_thread != nullptr; }

    /// The latest load's outcome, valid from loaded() on.
    const ChartLoad& result() const { return m_result; }
    ChartLoad takeResult() { return std::move(m_result); }

signals:
    void loaded();

private:
    std::unique_ptr<QThread> m_thread;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    quint64 m_generation = 0;
    ChartLoad m_result;
};

} // namespace logview
