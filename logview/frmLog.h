#pragma once

#include "logview/EventListModel.h"
#include "platform/Clock.h"
#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeView;

/// The event log viewer: searches the event table by dates, kind and
/// server, lists the rows with errors in red and counts them, and purges
/// the rows older than 60 days.
class frmLog : public QDialog {
    Q_OBJECT
public:
    frmLog(AppState& state, platform::WindowSystem& ui, const platform::Clock& clock,
           QWidget* parent = nullptr);

    void Command1_Click(); // GO!!!
    void Command2_Click(); // LOG CLEAR
    void done(int result) override;

    logview::EventListModel& model() { return m_model; }

private:
    /// Width a list cell needs to show text whole.
    int cellWidth(const QString& text) const;
    void fitColumns();
    bool dateOf(QLineEdit* y, QLineEdit* m, QLineEdit* d, std::optional<QDate>* date);

    AppState& m_state;
    platform::WindowSystem& m_ui;
    const platform::Clock& m_clock;
    logview::EventListModel m_model;
    QLineEdit *Y1, *M1, *D1, *Y2, *M2, *D2;
    QComboBox *KBN, *SKBN;
    QLabel *Label3, *Label5;
    QTreeView* List1;
};
