#include "logview/EventChart.h"

#include "logview/EventTime.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace logview {
namespace {

constexpr int kMargin = 4;
constexpr int kTickGap = 12;   // px between two time labels at least
constexpr double kHoverPx = 6; // how near a point the pointer must be
constexpr int kStripPx = 4;    // the server's colour on top of its band
const QColor kWarning(255, 90, 0, 60);
const QColor kGrid(225, 225, 225);
const QColor kAxis(110, 110, 110);

// Steps of the time axis, seconds: whole minutes, hours, days, weeks.
constexpr qint64 kSteps[] = {60,         120,        300,        600,         900,
                             1800,       3600,       7200,       3 * 3600,    6 * 3600,
                             12 * 3600,  86400,      2 * 86400,  7 * 86400,   14 * 86400,
                             28 * 86400, 56 * 86400, 91 * 86400, 182 * 86400, 364 * 86400};

// 1, 2, 5 times a power of ten: the RTT axis's step.
qint32 niceStep(double atLeast) {
    qint64 step = 1;
    for (;;) {
        for (qint64 f : {1, 2, 5})
            if (step * f >= atLeast)
                return static_cast<qint32>(std::min<qint64>(step * f, 1 << 30));
        if (step > (1 << 29))
            return 1 << 30;
        step *= 10;
    }
}

QString clockText(qint64 s) {
    const quint64 p = packedOf(s);
    return QStringLiteral("%1:%2").arg(p / 10000 % 100).arg(p / 100 % 100, 2, 10, QLatin1Char('0'));
}

QString dayText(qint64 s) {
    return shownTime(packedOf(s)).section(QLatin1Char(' '), 0, 0);
}

// The widest text of a pattern in this font: "0" stands for any digit.
int widest(const QFontMetrics& fm, QString pattern) {
    QChar digit = u'0';
    for (char16_t d = u'1'; d <= u'9'; ++d)
        if (fm.horizontalAdvance(QChar(d)) > fm.horizontalAdvance(digit))
            digit = QChar(d);
    return fm.horizontalAdvance(pattern.replace(u'0', digit));
}

} // namespace

EventChart::EventChart(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor EventChart::colourOf(int index) {
    // Ten colours apart from each other and from the warning colour.
    static const QColor palette[] = {
        {31, 119, 180},  {44, 160, 44},   {148, 103, 189}, {23, 190, 207}, {140, 86, 75},
        {227, 119, 194}, {127, 127, 127}, {188, 189, 34},  {57, 59, 121},  {99, 121, 57}};
    const int n = static_cast<int>(std::size(palette));
    const QColor c = palette[index % n];
    return index < n ? c : c.darker(100 + 40 * (index / n));
}

void EventChart::setState(State state) {
    m_state = state;
    invalidate();
}

void EventChart::setData(ChartData data) {
    m_data = std::move(data);
    m_state = State::Ready;
    invalidate();
}

void EventChart::setServerShown(const QString& name, bool shown) {
    if (shown)
        m_hidden.remove(name);
    else
        m_hidden.insert(name);
    invalidate();
}

void EventChart::invalidate() {
    m_layout.reset();
    m_hover = -1;
    update();
}

QSize EventChart::sizeHint() const {
    return QSize(600, 260);
}

QSize EventChart::minimumSizeHint() const {
    const QFontMetrics fm = fontMetrics();
    return QSize(widest(fm, QStringLiteral("0000/00/00")) * 3, fm.height() * 6);
}

void EventChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    invalidate();
}

void EventChart::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        invalidate();
}

const EventChart::Layout& EventChart::layout() const {
    if (m_layout)
        return *m_layout;
    Layout& l = m_layout.emplace();
    l.lines.resize(m_data.servers.size());
    const QFontMetrics fm = fontMetrics();
    QString message;
    if (m_state == State::Idle)
        message = QStringLiteral("「GO!!!」で検索した期間の応答時間を表示します。");
    else if (m_state == State::Loading)
        message = QStringLiteral("読み込み中…");
    else if (m_state == State::Failed)
        message = QStringLiteral("グラフを読み込めませんでした。");
    else if (m_data.servers.empty())
        message = QStringLiteral("この期間の記録はありません。");
    if (!message.isEmpty()) {
        const int flags = Qt::AlignCenter | Qt::TextWordWrap;
        const QRect room = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
        l.labels.push_back({message, fm.boundingRect(room, flags, message), flags});
        return l;
    }
    qint32 maxRtt = 0;
    for (const ServerChart& s : m_data.servers)
        if (serverShown(s.name))
            maxRtt = std::max(maxRtt, s.maxRtt);
    layoutAxes(l, maxRtt);
    if (l.plot.width() < 2 || l.plot.height() < 2)
        return l;
    for (int s = 0; s < static_cast<int>(m_data.servers.size()); ++s)
        if (serverShown(m_data.servers[static_cast<size_t>(s)].name))
            layoutServer(l, s, l.yMax);
    return l;
}

void EventChart::layoutAxes(Layout& l, qint32 maxRtt) const {
    const QFontMetrics fm = fontMetrics();
    const int lh = fm.height();
    const QString title = QStringLiteral("RTT (ms)");
    l.labels.push_back({title, QRect(kMargin, kMargin, fm.horizontalAdvance(title) + 1, lh),
                        Qt::AlignLeft | Qt::AlignVCenter});
    // About four steps, fewer where the plot has no room for their labels.
    const int half = lh / 2 + 2;
    const int plotHeight = height() - 2 * kMargin - 3 * lh - 2 * half;
    qint32 step = niceStep(std::max(1.0, maxRtt / 4.0));
    const auto topOf = [&maxRtt](qint32 s) {
        return std::min<qint64>(qint64(s) * std::max<qint64>(1, (qint64(maxRtt) + s - 1) / s),
                                1 << 30);
    };
    while (step < (1 << 30) && plotHeight * double(step) / topOf(step) < lh + 2)
        step = niceStep(step + 1.0);
    const qint32 yMax = static_cast<qint32>(topOf(step));
    l.yMax = yMax;
    int yLabels = 0;
    for (qint64 v = 0; v <= yMax; v += step)
        yLabels = std::max(yLabels, fm.horizontalAdvance(QString::number(v)));
    const int clockWidth = widest(fm, QStringLiteral("00:00"));
    const int dayWidth = widest(fm, QStringLiteral("0000/00/00"));
    // The RTT labels stand centred on their lines, half a line above the
    // plot's top and below its bottom: clear of the title and time labels.
    l.plot =
        QRect(QPoint(kMargin + yLabels + 6, kMargin + lh + half),
              QPoint(width() - 1 - kMargin - dayWidth / 2, height() - 1 - kMargin - 2 * lh - half));
    if (l.plot.width() < 2 || l.plot.height() < 2)
        return;
    const QRect& p = l.plot;
    for (qint64 v = 0; v <= yMax; v += step) {
        const double y = p.bottom() - double(v) * p.height() / yMax;
        l.gridY.push_back(y);
        l.labels.push_back({QString::number(v),
                            QRect(kMargin, static_cast<int>(std::lround(y)) - lh / 2, yLabels, lh),
                            Qt::AlignRight | Qt::AlignVCenter});
    }

    // The finest step whose labels leave a gap; clock times under a day,
    // with the date below the first and at each new day where it fits.
    const qint64 span = m_data.to - m_data.from + 1;
    const double perSecond = double(p.width()) / span;
    qint64 stepX = kSteps[std::size(kSteps) - 1];
    for (qint64 s : kSteps)
        if (s * perSecond >= (s < 86400 ? clockWidth : dayWidth) + kTickGap) {
            stepX = s;
            break;
        }
    const bool clock = stepX < 86400;
    const int top = p.bottom() + half;
    QRect lastDay;
    qint64 lastDate = -1;
    const auto place = [&](const QString& text, double x, int y) {
        const int w = fm.horizontalAdvance(text) + 1;
        QRect r(static_cast<int>(std::lround(x)) - w / 2, y, w, lh);
        // Kept inside the widget: the last label may sit at the right edge.
        r.moveLeft(std::clamp(r.left(), 0, std::max(0, width() - w)));
        return r;
    };
    for (qint64 t = (m_data.from + stepX - 1) / stepX * stepX; t <= m_data.to; t += stepX) {
        const double x = p.left() + (t - m_data.from) * perSecond;
        l.ticksX.push_back(x);
        const QString text = clock ? clockText(t) : dayText(t);
        l.labels.push_back({text, place(text, x, top), Qt::AlignCenter});
        if (!clock)
            continue;
        const qint64 date = t / 86400;
        if (date == lastDate)
            continue;
        const QString day = dayText(t);
        const QRect r = place(day, x, top + lh);
        if (!lastDay.isNull() && r.left() <= lastDay.right() + kTickGap / 2)
            continue; // the next new day tries again
        l.labels.push_back({day, r, Qt::AlignCenter});
        lastDay = r;
        lastDate = date;
    }
}

void EventChart::layoutServer(Layout& l, int server, qint32 yMax) const {
    const ServerChart& s = m_data.servers[static_cast<size_t>(server)];
    const QRect& p = l.plot;
    const qint64 span = m_data.to - m_data.from + 1;
    const double perSecond = double(p.width()) / span;
    const auto xOf = [&](qint64 t) { return p.left() + (t - m_data.from) * perSecond; };
    const auto yOf = [&](qint32 rtt) { return p.bottom() - double(rtt) * p.height() / yMax; };

    // Bands first: neighbours that meet within a pixel become one.
    size_t firstBand = l.bands.size();
    for (const DownPeriod& d : s.down) {
        const double x1 = xOf(d.from);
        const double x2 = std::max(xOf(d.to), x1 + 2);
        if (l.bands.size() > firstBand && x1 <= l.bands.back().rect.right() + 1) {
            l.bands.back().rect.setRight(std::max(l.bands.back().rect.right(), x2));
            l.bands.back().to = std::max(l.bands.back().to, d.to);
        } else {
            l.bands.push_back(
                {QRectF(QPointF(x1, p.top()), QPointF(x2, p.bottom())), server, &d, d.to});
        }
    }

    // A failure in a column breaks the line there.
    std::vector<QPolygonF>& lines = l.lines[static_cast<size_t>(server)];
    QPolygonF line;
    for (const ServerChart::Column& column : s.columns(p.width())) {
        if (column.down && !line.isEmpty()) {
            lines.push_back(std::move(line));
            line.clear();
        }
        if (!column.low)
            continue;
        const ChartPoint* first = column.low->time <= column.high->time ? column.low : column.high;
        const ChartPoint* second = first == column.low ? column.high : column.low;
        for (const ChartPoint* pt : {first, second}) {
            if (pt == second && second == first)
                break;
            const QPointF at(xOf(pt->time), yOf(pt->rtt));
            line << at;
            l.marks.push_back({at, server, pt});
        }
    }
    if (!line.isEmpty())
        lines.push_back(std::move(line));
}

void EventChart::paintEvent(QPaintEvent*) {
    const Layout& l = layout();
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QRect& p = l.plot;
    if (!l.gridY.empty()) {
        painter.setPen(kGrid);
        for (double y : l.gridY)
            painter.drawLine(QPointF(p.left(), y), QPointF(p.right(), y));
        for (const Band& b : l.bands) {
            painter.fillRect(b.rect, kWarning);
            painter.fillRect(QRectF(b.rect.left(), b.rect.top(), b.rect.width(), kStripPx),
                             colourOf(b.server));
        }
        painter.setPen(kAxis);
        painter.drawRect(p);
        for (double x : l.ticksX)
            painter.drawLine(QPointF(x, p.bottom()), QPointF(x, p.bottom() + 3));
        // Hairlines without antialiasing: a wide antialiased zigzag of a
        // thousand points takes the raster engine seconds, this a few ms.
        painter.setClipRect(p.adjusted(0, -1, 1, 1));
        for (size_t s = 0; s < l.lines.size(); ++s) {
            const QColor colour = colourOf(static_cast<int>(s));
            painter.setPen(QPen(colour, 0));
            for (const QPolygonF& line : l.lines[s]) {
                if (line.size() == 1)
                    painter.fillRect(QRectF(line[0] - QPointF(1, 1), QSizeF(3, 3)), colour);
                else
                    painter.drawPolyline(line);
            }
        }
        if (m_hover >= 0 && m_hover < static_cast<int>(l.marks.size())) {
            const Mark& m = l.marks[static_cast<size_t>(m_hover)];
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(colourOf(m.server), 2));
            painter.drawEllipse(m.at, 4, 4);
            painter.setRenderHint(QPainter::Antialiasing, false);
        }
        painter.setClipping(false);
    }
    painter.setPen(palette().color(QPalette::Text));
    for (const Label& label : l.labels)
        painter.drawText(label.rect, label.flags, label.text);
}

int EventChart::nearestMark(const QPoint& pos) const {
    const Layout& l = layout();
    int nearest = -1;
    double best = kHoverPx * kHoverPx;
    for (size_t i = 0; i < l.marks.size(); ++i) {
        const QPointF d = l.marks[i].at - QPointF(pos);
        const double d2 = d.x() * d.x() + d.y() * d.y();
        if (d2 <= best) {
            best = d2;
            nearest = static_cast<int>(i);
        }
    }
    return nearest;
}

QString EventChart::rowAt(const QPoint& pos) const {
    const Layout& l = layout();
    const int nearest = nearestMark(pos);
    const auto serverName = [this](int s) { return m_data.servers[static_cast<size_t>(s)].name; };
    if (nearest >= 0) {
        const Mark& m = l.marks[static_cast<size_t>(nearest)];
        return shownTime(packedOf(m.point->time)) + QStringLiteral("  ") + serverName(m.server) +
               QLatin1Char('\n') + m.point->message;
    }
    for (auto b = l.bands.rbegin(); b != l.bands.rend(); ++b)
        if (b->rect.adjusted(-1, 0, 1, 0).contains(QPointF(pos)))
            return shownTime(packedOf(b->first->from)) + QStringLiteral(" ～ ") +
                   shownTime(packedOf(b->to)) + QStringLiteral("  ") + serverName(b->server) +
                   QLatin1Char('\n') + b->first->message;
    return QString();
}

QStringList EventChart::cutLabels() const {
    const Layout& l = layout();
    QStringList cut;
    for (size_t i = 0; i < l.labels.size(); ++i) {
        const Label& a = l.labels[i];
        if (!rect().contains(a.rect))
            cut << a.text + QStringLiteral(": outside the chart");
        for (size_t j = i + 1; j < l.labels.size(); ++j)
            if (a.rect.intersects(l.labels[j].rect))
                cut << a.text + QStringLiteral(": on top of ") + l.labels[j].text;
    }
    return cut;
}

void EventChart::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const QString row = rowAt(pos);
    const int hover = nearestMark(pos);
    if (hover != m_hover) {
        m_hover = hover;
        update();
    }
    if (row.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), row, this);
}

void EventChart::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (m_hover >= 0) {
        m_hover = -1;
        update();
    }
}

} // namespace logview
