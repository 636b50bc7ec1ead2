#pragma once

#include "platform/MailLibrary.h"
#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

/// 送信サーバーの詳細: the alert mail's relay beyond its host (port,
/// encryption, login, CA file, sender address). OK checks the fields, saves
/// them into the
/// general settings file and reloads the settings; テスト送信 sends a test
/// mail with what the window holds, through the relay the configuration
/// dialog names, to its first recipient.
class frmSMTP : public QDialog {
    Q_OBJECT
public:
    /// server and to: what 緊急時SMTP-HOST and 緊急送信先Email hold now,
    /// saved or not.
    frmSMTP(AppState& state, platform::WindowSystem& ui, const QString& server, const QString& to,
            QWidget* parent = nullptr);

    void CASELECT_Click();
    void TESTSEND_Click();
    void OK_Click();

    /// The mail library the test mail goes through (the program folder's
    /// libmailwire.so unless set).
    void setLibraryPath(const QString& path) { m_libraryPath = path; }

private:
    /// The first refusal of the fields, shown with its field focused; false
    /// when one was shown.
    bool fieldsUsable();
    platform::MailRelay relay() const;

    AppState& m_state;
    platform::WindowSystem& m_ui;
    QString m_server;
    QString m_to;
    QString m_libraryPath;

    QLineEdit* EPORT;
    QComboBox* ESECURITY;
    QLineEdit* EUSER;
    QLineEdit* EPWD;
    QLineEdit* ECAFILE;
    QLineEdit* EFROM;
};
