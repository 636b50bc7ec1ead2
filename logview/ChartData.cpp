#include "logview/ChartData.h"

#include "logview/EventTime.h"

#include <algorithm>
#include <limits>

namespace logview {
namespace {

constexpr int kCancelCheckRows = 1024;

bool isServer(const QString& name) {
    return name != QLatin1String("COM") && name != QLatin1String("DIAL UP");
}

qint64 secondsOf(const QVariant& addDate) {
    return civilSeconds(packedTime(addDate.toString()));
}

} // namespace

std::optional<qint32> rttOfOutcome(QStringView line) {
    // The answered form only: "Reply from ADDR:HOST: Bytes = n RTT = n ms
    // TTL = n". Host names hold no blanks, so the last " RTT = " is the one,
    // and the byte count stands right before it.
    static const QString rttTag = QStringLiteral(" RTT = ");
    static const QString bytesTag = QStringLiteral(": Bytes = ");
    if (!line.startsWith(QLatin1String("Reply from ")))
        return std::nullopt;
    const qsizetype at = line.lastIndexOf(rttTag);
    if (at < 0)
        return std::nullopt;
    qsizetype bytes = at;
    while (bytes > 0 && line[bytes - 1] >= u'0' && line[bytes - 1] <= u'9')
        --bytes;
    if (bytes == at || !line.first(bytes).endsWith(bytesTag))
        return std::nullopt;
    qsizetype i = at + rttTag.size();
    qint64 value = 0;
    const qsizetype first = i;
    while (i < line.size() && line[i] >= u'0' && line[i] <= u'9' && i - first < 10)
        value = value * 10 + (line[i++].unicode() - u'0');
    if (i == first || value > std::numeric_limits<qint32>::max() ||
        !line.mid(i).startsWith(QLatin1String(" ms TTL = ")))
        return std::nullopt;
    return static_cast<qint32>(value);
}

std::vector<ServerChart::Column> ServerChart::columns(int width) const {
    std::vector<Column> out;
    const qint64 count = static_cast<qint64>(slices.size());
    for (qint64 i = 0; i < count; ++i) {
        const Slice& slice = slices[static_cast<size_t>(i)];
        if (!slice.answered && !slice.down)
            continue;
        const qint64 column = i * width / count;
        if (out.empty() || out.back().index != column)
            out.push_back({column, nullptr, nullptr, false});
        Column& c = out.back();
        c.down = c.down || slice.down;
        if (slice.answered) {
            if (!c.low || slice.low.rtt < c.low->rtt)
                c.low = &slice.low;
            if (!c.high || slice.high.rtt > c.high->rtt)
                c.high = &slice.high;
        }
    }
    return out;
}

void ChartData::orderServers(const QStringList& order) {
    const auto rank = [&order](const ServerChart& s) {
        const qsizetype i = order.indexOf(s.name);
        return i < 0 ? order.size() : i;
    };
    std::stable_sort(servers.begin(), servers.end(),
                     [&rank](const ServerChart& a, const ServerChart& b) {
                         const qsizetype ra = rank(a), rb = rank(b);
                         return ra != rb ? ra < rb : a.name < b.name;
                     });
}

ChartBuilder::ChartBuilder(qint64 from, qint64 to) {
    m_data.from = from;
    m_data.to = std::max(from, to);
}

ServerChart& ChartBuilder::serverOf(const QString& name) {
    if (m_last < m_data.servers.size() && m_data.servers[m_last].name == name)
        return m_data.servers[m_last];
    auto found = m_index.constFind(name);
    if (found == m_index.constEnd()) {
        found = m_index.insert(name, m_data.servers.size());
        ServerChart s;
        s.name = name;
        s.slices.resize(kSlices);
        m_data.servers.push_back(std::move(s));
        m_openDown.push_back(-1);
    }
    m_last = *found;
    return m_data.servers[m_last];
}

void ChartBuilder::add(qint64 time, const QString& server, const QString& message, qint16 error) {
    if (!isServer(server))
        return;
    ++m_data.rows;
    ServerChart& s = serverOf(server);
    int& open = m_openDown[m_last];
    const qint64 span = m_data.to - m_data.from + 1;
    const qint64 at = std::clamp<qint64>(time, m_data.from, m_data.to) - m_data.from;
    ServerChart::Slice& slice = s.slices[static_cast<size_t>(at * kSlices / span)];
    if (error != 1) {
        slice.down = true;
        if (open < 0) {
            s.down.push_back({time, time, message});
            open = static_cast<int>(s.down.size() - 1);
        } else {
            s.down[static_cast<size_t>(open)].to = time;
        }
        return;
    }
    if (open >= 0) {
        s.down[static_cast<size_t>(open)].to = time; // found answering again
        open = -1;
    }
    const std::optional<qint32> rtt = rttOfOutcome(message);
    if (!rtt)
        return;
    if (!slice.answered) {
        slice.low = slice.high = {time, *rtt, message};
        slice.answered = true;
    } else if (*rtt < slice.low.rtt) {
        slice.low = {time, *rtt, message};
    } else if (*rtt > slice.high.rtt) {
        slice.high = {time, *rtt, message};
    }
    s.maxRtt = std::max(s.maxRtt, *rtt);
}

ChartData ChartBuilder::finish() {
    m_index.clear();
    m_openDown.clear();
    return std::move(m_data);
}

ChartLoad loadChart(const events::EventStore& store, const SearchCriteria& c,
                    const std::atomic<bool>* cancel) {
    ChartLoad r;
    const SearchCriteria dates = c.datesOnly();
    ViewerStatement s(store);
    QSqlQuery& q = s.query();
    qint64 from = dates.from ? civilSeconds(packedTime(dayStart(*dates.from))) : 0;
    qint64 to = dates.to ? civilSeconds(packedTime(dayEnd(*dates.to))) : from;
    if (!dates.from || !dates.to) {
        // An open end is the first or the last row: both come from the index.
        if (!s.prepare(QStringLiteral("SELECT MIN(AddDate),MAX(AddDate) FROM Pulsewatch") +
                           whereClause(dates),
                       dates) ||
            !s.exec() || !s.next()) {
            r.failure = s.ok() ? QStringLiteral("no range") : s.failure();
            return r;
        }
        if (q.value(0).isNull()) {
            r.ok = true; // no rows: an empty chart
            r.data = ChartBuilder(from, to).finish();
            return r;
        }
        if (!dates.from)
            from = secondsOf(q.value(0));
        if (!dates.to)
            to = secondsOf(q.value(1));
    }
    ChartBuilder chart(from, to);
    s.prepare(QStringLiteral("SELECT AddDate,ServerName,Message,Error FROM Pulsewatch") +
                  whereClause(dates) + QStringLiteral(" ORDER BY AddDate,ID"),
              dates);
    s.exec();
    for (qint64 n = 0; s.next(); ++n) {
        if (cancel && n % kCancelCheckRows == 0 && cancel->load(std::memory_order_relaxed)) {
            r.cancelled = true;
            return r;
        }
        chart.add(secondsOf(q.value(0)), q.value(1).toString(), q.value(2).toString(),
                  static_cast<qint16>(q.value(3).toInt()));
    }
    if (!s.ok()) {
        r.failure = s.failure();
        return r;
    }
    r.ok = true;
    r.data = chart.finish();
    return r;
}

} // namespace logview
