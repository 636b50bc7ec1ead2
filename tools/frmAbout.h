#pragma once

#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>
#include <QStringList>

/// The version box: title and version, links to the project's page and
/// feedback address, and a button that starts a system-information tool.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    /// Where the picture's link goes.
    static const QString kWebAddress;

    frmAbout(AppState& state, platform::WindowSystem& ui, const QString& version,
             QWidget* parent = nullptr);

    void cmdOK_Click();
    void cmdSysInfo_Click();
    void Image1_Click();
    void Label4_Click();
    void done(int result) override;

    /// The system-information programs tried, first found on PATH wins.
    static QStringList systemInfoPrograms();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    AppState& m_state;
    platform::WindowSystem& m_ui;
};
