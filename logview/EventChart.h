#pragma once

#include "logview/ChartData.h"

#include <QSet>
#include <QWidget>

#include <optional>

namespace logview {

/// The chart of a search: one line per server of its echoes' RTT over
/// time, and its down periods as bands in a warning colour across the
/// plot, topped by a strip in the server's colour. Drawn from the slices
/// of the chart data merged to the plot's pixel columns (at most two
/// points per column and server, and every down period), so a quarter of
/// a year draws as fast as a day.
class EventChart : public QWidget {
    Q_OBJECT
public:
    enum class State { Idle, Loading, Ready, Failed };

    explicit EventChart(QWidget* parent = nullptr);

    void setState(State state);
    /// Shows data; servers hidden before stay hidden.
    void setData(ChartData data);
    State state() const { return m_state; }
    const ChartData& data() const { return m_data; }

    /// The colour of the index-th server of the data.
    static QColor colourOf(int index);
    void setServerShown(const QString& name, bool shown);
    bool serverShown(const QString& name) const { return !m_hidden.contains(name); }

    /// What hovering at pos shows: the row of the nearest point (time,
    /// server, outcome line), or the down period under it; "" for nothing.
    QString rowAt(const QPoint& pos) const;

    /// Texts the chart draws that do not fit: outside the widget or on top
    /// of one another, as "text: why". Empty when every one fits.
    QStringList cutLabels() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Label {
        QString text;
        QRect rect;
        int flags;
    };
    struct Mark {
        QPointF at;
        int server;
        const ChartPoint* point;
    };
    struct Band {
        QRectF rect;
        int server;
        const DownPeriod* first;
        qint64 to;
    };
    struct Layout {
        QRect plot;
        qint32 yMax = 1;
        std::vector<Label> labels;
        std::vector<double> gridY;
        std::vector<double> ticksX;
        std::vector<std::vector<QPolygonF>> lines; // per server of the data
        std::vector<Mark> marks;
        std::vector<Band> bands;
    };

    const Layout& layout() const;
    int nearestMark(const QPoint& pos) const; // -1 when none is near enough
    void layoutAxes(Layout& l, qint32 maxRtt) const;
    void layoutServer(Layout& l, int server, qint32 yMax) const;
    void invalidate();

    State m_state = State::Idle;
    ChartData m_data;
    QSet<QString> m_hidden;
    int m_hover = -1; // index into the layout's marks
    mutable std::optional<Layout> m_layout;
};

} // namespace logview
