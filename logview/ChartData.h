#pragma once

#include "logview/EventSearch.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <vector>

namespace logview {

/// The RTT in ms of an answered echo, read from its outcome line
/// ("Reply from ADDR:HOST: Bytes = n RTT = n ms TTL = n"); nullopt for a
/// line of any other form.
std::optional<qint32> rttOfOutcome(QStringView line);

/// One row of the chart: its time (civil seconds), RTT and outcome line.
struct ChartPoint {
    qint64 time = 0;
    qint32 rtt = 0;
    QString message;
};

/// A time a server was found down: from its first failed row to the row
/// that found it answering again (or to its last failed row), with the
/// first failure's outcome line.
struct DownPeriod {
    qint64 from = 0, to = 0;
    QString message;
};

/// One server over the chart's range, cut into slices of equal time: each
/// slice keeps its lowest and highest RTT and whether a failure fell in it,
/// so however many rows the range holds, drawing costs the same.
struct ServerChart {
    struct Slice {
        ChartPoint low, high;
        bool answered = false;
        bool down = false;
    };
    /// A pixel column: its lowest and highest point, and whether a failure
    /// fell in it.
    struct Column {
        qint64 index = 0;
        const ChartPoint* low = nullptr; ///< null when nothing answered
        const ChartPoint* high = nullptr;
        bool down = false;
    };
    QString name;
    std::vector<Slice> slices;
    std::vector<DownPeriod> down;
    qint32 maxRtt = 0;

    /// The slices merged into width columns, in order; a column where
    /// nothing answered or failed is left out. What a chart of that width
    /// draws: at most two points per column.
    std::vector<Column> columns(int width) const;
};

struct ChartData {
    qint64 from = 0, to = 0; ///< the range drawn, civil seconds, both included
    std::vector<ServerChart> servers;
    qint64 rows = 0;

    /// Puts the servers named in order first, in that order, the others
    /// after them by name: the legend follows the server list.
    void orderServers(const QStringList& order);
};

/// Builds the chart from rows given in time order.
class ChartBuilder {
public:
    /// Slices per server: a few per pixel column of any screen's chart.
    static constexpr int kSlices = 2048;

    ChartBuilder(qint64 from, qint64 to);
    /// A row of the event table; rows of the modem port and the dial-up
    /// are no server's echo and stay out of the chart.
    void add(qint64 time, const QString& server, const QString& message, qint16 error);
    ChartData finish();

private:
    ServerChart& serverOf(const QString& name);

    ChartData m_data;
    QHash<QString, size_t> m_index;
    std::vector<int> m_openDown; // per server: its down period still open, or -1
    size_t m_last = 0;           // consecutive rows often share a server
};

struct ChartLoad {
    bool ok = false;
    bool cancelled = false;
    QString failure;
    ChartData data;
};

/// Reads the rows of the criteria's dates (kind and server aside) and
/// builds their chart; an open end of the range is the first or last row.
/// Gives up soon after cancel becomes true.
ChartLoad loadChart(const events::EventStore& store, const SearchCriteria& c,
                    const std::atomic<bool>* cancel = nullptr);

} // namespace logview
