#pragma once

#include "platform/Ending.h"
#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;

/// 通知の詳細: the notices beside the alarm mail — the recovery notice,
/// a chat webhook and the desktop's notifications. OK checks the fields,
/// saves them into the general settings file and reloads the settings;
/// テスト送信 sends a test notice through each one set up in the window and
/// says what came of it.
class frmNotice : public QDialog {
    Q_OBJECT
public:
    frmNotice(AppState& state, platform::WindowSystem& ui, QWidget* parent = nullptr);

    void CASELECT_Click();
    void TESTSEND_Click();
    void OK_Click();

    /// How long the test waits for the webhook and for the desktop.
    static constexpr int kTestWaitMs = 10000;

private:
    bool fieldsUsable();

    AppState& m_state;
    platform::WindowSystem& m_ui;

    QCheckBox* RECOVERY;
    QLineEdit* WEBHOOKURL;
    QComboBox* WEBHOOKFORMAT;
    QLineEdit* WEBHOOKCA;
    QCheckBox* DESKTOP;
};
