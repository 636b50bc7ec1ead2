#pragma once

#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

/// The server list editor: up to ten servers, each with a remark and a
/// check box that pauses its watching. Closing it writes the whole list to
/// the server list file and the server table.
class LIST : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxRows = AppState::kMaxServers;

    /// sCnt is the configuration dialog's count label, updated on closing.
    LIST(AppState& state, platform::WindowSystem& ui, QLabel* sCnt = nullptr,
         QWidget* parent = nullptr);

    /// The highlighted row becomes the one Edit and Delete act on; nullptr
    /// when no row is highlighted.
    void List1_ItemClick(QTreeWidgetItem* item);
    void Command1_Click(); // Add
    void Command2_Click(); // Edit
    void Command3_Click(); // Delete
    void Form_Unload();

    void done(int result) override;

private:
    void clearExchange();
    /// A row with its check box; ticked means watching is paused.
    void addRow(const QString& name, const QString& remark, bool paused);
    void showInput();

    AppState& m_state;
    platform::WindowSystem& m_ui;
    QPointer<QLabel> m_sCnt;
    QTreeWidget* m_list;
    bool m_unloaded = false;
};
