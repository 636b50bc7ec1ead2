// The log viewer over a big event table: 1,000,000 rows over 100 days for
// 10 servers (one row in 97 a failure), made here. Each round, one after
// another: a one-day search (about 10,000 rows) and the sqlite3 command-line
// tool running the viewer's statements for it (its first page and its
// count) and the day's whole select on the same file; an "ALL" search
// without dates (the time until its first rows are painted, until the
// counts, and the process's peak memory until its chart is in); reading the
// chart of one day and of 90 days, against sqlite3 selecting the same rows;
// and drawing both charts at 800x400 with QPainter, as the viewer does, and
// with Qt Charts from the same points. Medians over the rounds.
// Usage: bench_logview [ROWS [ROUNDS]]
#include "BenchUtil.h"
#include "logview/ChartData.h"
#include "logview/EventChart.h"
#include "logview/EventSearch.h"
#include "logview/EventTime.h"
#include "logview/frmLog.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTreeView>

#ifdef PW_BENCH_QT_CHARTS
#include <QtCharts>
#endif

#include <malloc.h>
#include <map>

namespace {

constexpr QSize kChartSize(800, 400);

class StillClock : public platform::Clock {
public:
    QDateTime now() const override { return QDateTime(QDate(2026, 12, 7), QTime(12, 0)); }
};

// A memory figure of this process from /proc ("VmRSS", "VmHWM"), in KiB.
long statusKiB(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(qstrlen(field)) + 1)
                .trimmed()
                .split(' ')
                .first()
                .toLong();
    return -1;
}

// Starts the peak ("VmHWM") again from what the process holds now, the
// heap that earlier measurements freed given back first.
void resetPeak() {
    malloc_trim(0);
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

double sqlite3Ms(const QString& path, const QString& sql) {
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    cli.start(QStringLiteral("sqlite3"), {path, sql});
    if (!cli.waitForFinished(120000) || cli.exitCode() != 0)
        return -1;
    return t.nsecsElapsed() / 1e6;
}

// A statement of the viewer with its values written in, for sqlite3.
QString literal(QString sql, const logview::SearchCriteria& c) {
    if (c.from)
        sql.replace(QStringLiteral(":from"),
                    QLatin1Char('\'') + logview::dayStart(*c.from) + u'\'');
    if (c.to)
        sql.replace(QStringLiteral(":to"), QLatin1Char('\'') + logview::dayEnd(*c.to) + u'\'');
    return sql + u';';
}

// Times the first paint of the list's rows after start().
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget* viewport, const QAbstractItemModel& model) : m_model(model) {
        viewport->installEventFilter(this);
    }
    void start() {
        m_ms = -1;
        m_t.start();
    }
    double ms() const { return m_ms; }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && m_ms < 0 && m_t.isValid() && m_model.rowCount() > 0)
            m_ms = m_t.nsecsElapsed() / 1e6;
        return false;
    }

private:
    const QAbstractItemModel& m_model;
    QElapsedTimer m_t;
    double m_ms = -1;
};

double qpainterMs(const logview::ChartData& data) {
    logview::ChartData copy = data;
    logview::EventChart chart;
    chart.resize(kChartSize);
    QImage image(kChartSize, QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer t;
    t.start();
    chart.setData(std::move(copy));
    chart.render(&image);
    return t.nsecsElapsed() / 1e6;
}

#ifdef PW_BENCH_QT_CHARTS
// The same chart with Qt Charts: a line series per server through the same
// column points, an area series per server for its down periods, date and
// value axes; built, laid out and rendered.
double qtChartsMs(const logview::ChartData& data) {
    QImage image(kChartSize, QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer t;
    t.start();
    auto* chart = new QChart;
    auto* x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("yyyy/MM/dd H:mm"));
    const auto when = [](qint64 s) {
        const quint64 p = logview::packedOf(s);
        return QDateTime::fromString(QString::number(p), QStringLiteral("yyyyMMddHHmmss"));
    };
    x->setRange(when(data.from), when(data.to));
    auto* y = new QValueAxis;
    qint32 maxRtt = 1;
    for (const auto& s : data.servers)
        maxRtt = std::max(maxRtt, s.maxRtt);
    y->setRange(0, maxRtt);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    const double msPerSecond = 1000.0;
    const qint64 epoch = when(data.from).toMSecsSinceEpoch();
    const auto xOf = [&](qint64 s) { return epoch + (s - data.from) * msPerSecond; };
    const int plotWidth = kChartSize.width() - 80;
    int index = 0;
    for (const logview::ServerChart& s : data.servers) {
        auto* line = new QLineSeries;
        QList<QPointF> points;
        for (const auto& c : s.columns(plotWidth))
            if (c.low) {
                points << QPointF(xOf(c.low->time), c.low->rtt);
                if (c.high != c.low)
                    points << QPointF(xOf(c.high->time), c.high->rtt);
            }
        line->replace(points);
        line->setName(s.name);
        line->setColor(logview::EventChart::colourOf(index++));
        chart->addSeries(line);
        line->attachAxis(x);
        line->attachAxis(y);
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        for (const logview::DownPeriod& d : s.down) {
            *upper << QPointF(xOf(d.from), 0) << QPointF(xOf(d.from), maxRtt)
                   << QPointF(xOf(d.to), maxRtt) << QPointF(xOf(d.to), 0);
            *lower << QPointF(xOf(d.from), 0) << QPointF(xOf(d.to), 0);
        }
        auto* bands = new QAreaSeries(upper, lower);
        bands->setColor(QColor(255, 90, 0, 60));
        chart->addSeries(bands);
        bands->attachAxis(x);
        bands->attachAxis(y);
    }
    QChartView view(chart);
    view.resize(kChartSize);
    view.show();
    QCoreApplication::processEvents(); // the chart lays itself out on events
    QPainter painter(&image);
    view.render(&painter);
    painter.end();
    return t.nsecsElapsed() / 1e6;
}
#endif

bool waitForChart(frmLog& w) {
    QSignalSpy loaded(&w.chartLoader(), &logview::ChartLoader::loaded);
    return w.chart().state() != logview::EventChart::State::Loading || loaded.wait(120000);
}

void setDates(frmLog& w, const QString& y, const QString& m, const QString& d) {
    for (const char* names : {"Y1M1D1", "Y2M2D2"}) {
        const QByteArray n(names);
        w.findChild<QLineEdit*>(QLatin1String(n.mid(0, 2)))->setText(y);
        w.findChild<QLineEdit*>(QLatin1String(n.mid(2, 2)))->setText(m);
        w.findChild<QLineEdit*>(QLatin1String(n.mid(4, 2)))->setText(d);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::max(1000, atoi(argv[1])) : 1000000;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    QTextStream out(stdout);
    QTemporaryDir dir;
    AppState state(dir.path());
    state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
    if (!QFile::copy(QStringLiteral(PW_EMPTY_DB), state.DatabasePath)) {
        out << "cannot copy " << PW_EMPTY_DB << "\n";
        return 1;
    }
    QFile::setPermissions(state.DatabasePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    state.SERVER_CNT = 10;
    for (int s = 1; s <= 10; ++s)
        state.Servers[s].Name = QStringLiteral("server%1.example.jp").arg(s);

    // 100 days from 2026-08-30 (1788048000 is its midnight in seconds).
    QElapsedTimer t;
    t.start();
    const QString fill =
        QStringLiteral(
            "PRAGMA journal_mode=OFF; WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n "
            "WHERE i<%1) INSERT INTO Pulsewatch(AddDate,ServerName,Message,Error) SELECT "
            "strftime('%Y-%m-%d %H:%M:%S',1788048000+i*8640000/%2,'unixepoch'), "
            "'server'||(i%10+1)||'.example.jp', CASE WHEN i%97=0 THEN "
            "'Reply from 10.0.0.'||(i%10+1)||': server'||(i%10+1)||'.example.jp: ICMP Request "
            "Timeout' ELSE 'Reply from 10.0.0.'||(i%10+1)||':server'||(i%10+1)||'.example.jp: "
            "Bytes = 32 RTT = '||(1+(i*7919)%37)||' ms TTL = 64' END, CASE WHEN i%97=0 THEN -1 "
            "ELSE 1 END FROM n;")
            .arg(total - 1)
            .arg(total);
    if (sqlite3Ms(state.DatabasePath, fill) < 0) {
        out << "sqlite3 could not fill the table\n";
        return 1;
    }
    out << "made " << total << " rows in " << t.elapsed() << " ms\n";

    logview::SearchCriteria oneDay;
    oneDay.from = oneDay.to = QDate(2026, 10, 15);
    logview::SearchCriteria ninetyDays;
    ninetyDays.from = QDate(2026, 9, 8);
    ninetyDays.to = QDate(2026, 12, 6);
    const QString chartSelect = QStringLiteral(
        "SELECT AddDate,ServerName,Message,Error FROM Pulsewatch%1 ORDER BY AddDate,ID");
    const QString dayStatements =
        literal(logview::pageStatement(oneDay, false, logview::EventListModel::kPageRows), oneDay) +
        literal(QStringLiteral("SELECT COUNT(*),SUM(CASE WHEN Error=1 THEN 1 ELSE 0 END) FROM "
                               "Pulsewatch") +
                    logview::whereClause(oneDay),
                oneDay);

    platform::QtWindowSystem ui;
    StillClock clock;
    std::map<QString, std::vector<double>> ms;
    std::vector<double> peakMiB, before;
    qint64 dayRows = 0, ninetyRows = 0;
    QString dayCounts, allCounts;
    for (int r = 0; r < rounds; ++r) {
        {
            frmLog w(state, ui, clock);
            w.show();
            if (!QTest::qWaitForWindowExposed(&w))
                out << "the viewer was not shown\n";
            auto* list = w.findChild<QTreeView*>(QStringLiteral("List1"));
            FirstPaint paint(list->viewport(), w.model());

            setDates(w, QStringLiteral("2026"), QStringLiteral("10"), QStringLiteral("15"));
            t.restart();
            w.Command1_Click();
            ms["day search"].push_back(t.nsecsElapsed() / 1e6);
            waitForChart(w);
            ms["day search, chart in"].push_back(t.nsecsElapsed() / 1e6);
            dayCounts = w.findChild<QLabel*>(QStringLiteral("Label3"))->text() + u'/' +
                        w.findChild<QLabel*>(QStringLiteral("Label5"))->text();
            ms["sqlite3 day statements"].push_back(sqlite3Ms(state.DatabasePath, dayStatements));
            ms["sqlite3 day select"].push_back(
                sqlite3Ms(state.DatabasePath,
                          literal(chartSelect.arg(logview::whereClause(oneDay)), oneDay)));

            for (const char* field : {"Y1", "Y2"})
                w.findChild<QLineEdit*>(QLatin1String(field))->clear();
            resetPeak();
            before.push_back(statusKiB("VmRSS") / 1024.0);
            paint.start();
            t.restart();
            w.Command1_Click();
            ms["ALL counted"].push_back(t.nsecsElapsed() / 1e6);
            ms["ALL first rows painted"].push_back(paint.ms());
            waitForChart(w);
            ms["ALL chart in"].push_back(t.nsecsElapsed() / 1e6);
            peakMiB.push_back(statusKiB("VmHWM") / 1024.0);
            allCounts = w.findChild<QLabel*>(QStringLiteral("Label3"))->text() + u'/' +
                        w.findChild<QLabel*>(QStringLiteral("Label5"))->text();
        }

        t.restart();
        const logview::ChartLoad day =
            logview::loadChart(events::EventStore{state.DatabasePath, QString(), QString()}, oneDay);
        ms["chart read, day"].push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        const logview::ChartLoad ninety =
            logview::loadChart(events::EventStore{state.DatabasePath, QString(), QString()}, ninetyDays);
        ms["chart read, 90 days"].push_back(t.nsecsElapsed() / 1e6);
        ms["sqlite3 90-day select"].push_back(
            sqlite3Ms(state.DatabasePath,
                      literal(chartSelect.arg(logview::whereClause(ninetyDays)), ninetyDays)));
        dayRows = day.data.rows;
        ninetyRows = ninety.data.rows;

        ms["draw day, QPainter"].push_back(qpainterMs(day.data));
        ms["draw 90 days, QPainter"].push_back(qpainterMs(ninety.data));
#ifdef PW_BENCH_QT_CHARTS
        ms["draw day, Qt Charts"].push_back(qtChartsMs(day.data));
        ms["draw 90 days, Qt Charts"].push_back(qtChartsMs(ninety.data));
#endif
    }
    const auto show = [&](const char* name) {
        out << QString::fromLatin1(name).leftJustified(28) << " median "
            << QString::number(median(ms[QString::fromLatin1(name)]), 'f', 1) << " ms\n";
    };
    out << "rounds: " << rounds << "\n";
    out << "one day: " << dayRows << " chart rows, counts " << dayCounts << "\n";
    for (const char* n :
         {"day search", "sqlite3 day statements", "sqlite3 day select", "day search, chart in"})
        show(n);
    out << "ratio day search / sqlite3 same statements: "
        << QString::number(median(ms["day search"]) / median(ms["sqlite3 day statements"]), 'f', 2)
        << "\n";
    out << "ALL: counts " << allCounts << "\n";
    for (const char* n : {"ALL first rows painted", "ALL counted", "ALL chart in"})
        show(n);
    out << "peak memory for the ALL search, its chart included: median "
        << QString::number(median(peakMiB), 'f', 1) << " MiB (resident before it "
        << QString::number(median(before), 'f', 1) << " MiB)\n";
    out << "90 days: " << ninetyRows << " chart rows\n";
    for (const char* n : {"chart read, day", "chart read, 90 days", "sqlite3 90-day select",
                          "draw day, QPainter", "draw 90 days, QPainter"})
        show(n);
#ifdef PW_BENCH_QT_CHARTS
    show("draw day, Qt Charts");
    show("draw 90 days, Qt Charts");
#else
    out << "(built without Qt Charts: no comparison)\n";
#endif
    return 0;
}
