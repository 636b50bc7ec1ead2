#include "logview/ChartLoader.h"

#include <QThread>

namespace logview {

ChartLoader::ChartLoader(QObject* parent) : QObject(parent) {}

ChartLoader::~ChartLoader() {
    cancel();
}

void ChartLoader::cancel() {
    ++m_generation;
    if (!m_thread)
        return;
    // The load looks at the flag every thousand rows or so: the wait is a
    // few milliseconds.
    m_cancel->store(true);
    m_thread->wait();
    m_thread.reset();
}

void ChartLoader::start(const events::EventStore& store, const SearchCriteria& c) {
    cancel();
    const quint64 generation = m_generation;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_thread.reset(QThread::create([this, store, c, generation, flag = m_cancel] {
        auto load = std::make_shared<ChartLoad>(loadChart(store, c, flag.get()));
        if (load->cancelled)
            return;
        // Delivered on the loader's own thread; a loader that is gone by then
        // takes the event with it.
        QMetaObject::invokeMethod(
            this,
            [this, generation, load] {
                if (generation != m_generation)
                    return;
                if (m_thread) {
                    m_thread->wait();
                    m_thread.reset();
                }
                m_result = std::move(*load);
                emit loaded();
            },
            Qt::QueuedConnection);
    }));
    m_thread->start();
}

} // namespace logview
