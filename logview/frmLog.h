#pragma once

#include "logview/ChartLoader.h"
#include "logview/EventListModel.h"
#include "logview/EventSearch.h"
#include "platform/Clock.h"
#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;
class QTreeView;

namespace logview {
class EventChart;
class FlowLayout;
} // namespace logview

/// The event log viewer: searches the event table by dates, kind and
/// server, lists the rows with errors in red and counts them, draws the
/// servers' RTT and down periods over the search's dates, and purges the
/// rows older than 60 days.
class frmLog : public QDialog {
    Q_OBJECT
public:
    frmLog(AppState& state, platform::WindowSystem& ui, const platform::Clock& clock,
           QWidget* parent = nullptr);
    ~frmLog() override;

    void Command1_Click(); // GO!!!
    void Command2_Click(); // LOG CLEAR
    /// The chart's "画像を保存": the chart and its legend as a PNG file.
    void saveChart();
    /// Shows chart data with its legend, the servers in the list's order.
    void setChartData(logview::ChartData data);
    void done(int result) override;

protected:
    void changeEvent(QEvent* event) override;

public:
    logview::EventListModel& model() { return m_model; }
    logview::EventChart& chart() { return *m_chart; }
    /// Says loaded() when the chart of the latest search is in.
    logview::ChartLoader& chartLoader() { return m_loader; }

private:
    /// Width a list cell needs to show text whole.
    int cellWidth(const QString& text) const;
    void fitColumns();
    void fitScreen();
    bool dateOf(QLineEdit* y, QLineEdit* m, QLineEdit* d, std::optional<QDate>* date);
    bool moreRows(int n);
    void showChart();
    void fillLegend();

    AppState& m_state;
    platform::WindowSystem& m_ui;
    const platform::Clock& m_clock;
    logview::EventListModel m_model;
    std::unique_ptr<logview::EventPages> m_pages;
    logview::ChartLoader m_loader;
    QLineEdit *Y1, *M1, *D1, *Y2, *M2, *D2;
    QComboBox *KBN, *SKBN, *STATION;
    QLabel *Label3, *Label5;
    QTreeView* List1;
    QTabWidget* m_tabs;
    QWidget* m_chartPanel;
    logview::EventChart* m_chart;
    QWidget* m_legend;
    logview::FlowLayout* m_legendLayout;
};
