#pragma once

#include "dialup/RemoteAccessService.h"
#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

/// The configuration dialog: every general setting, the server count and
/// the way to the server list editor. It is left only through OK, which
/// checks the fields in a fixed order, writes both files and reloads them.
class Config : public QDialog {
    Q_OBJECT
public:
    /// The event store as the dialog shows and tries it: what the operator
    /// may see of EVENT_DB (no password), and a connection test that gives
    /// "" or what failed. The program hands in the event recording's own.
    struct StoreProbe {
        std::function<QString(const QString& uri)> shown;
        std::function<QString(const QString& uri)> test;
    };

    Config(AppState& state, platform::WindowSystem& ui, dialup::RemoteAccessService& ras,
           QWidget* parent = nullptr);

    void LAN_Click();
    void MSELECT_Click();
    void Command1_Click();
    /// Opens 送信サーバーの詳細, which saves its own keys.
    void SMTPDETAIL_Click();
    /// Opens 通知の詳細, which saves its own keys.
    void NOTICEDETAIL_Click();
    /// Tries the event store and says what came of it.
    void STORETEST_Click();
    void setStoreProbe(StoreProbe probe);
    void OK_Click();

    /// No way out for the operator but OK: Escape and the window manager's
    /// close do nothing. close() from the program unloads the window.
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load(dialup::RemoteAccessService& ras);
    bool refuse(const QString& message, QWidget* focus);

    AppState& m_state;
    platform::WindowSystem& m_ui;
    QString m_chosenFile; // the chooser's FileName while this window is open

    QLabel* S_CNT;
    QComboBox* RASENT;
    QLineEdit* RASUSER;
    QLineEdit* RASPWD;
    QCheckBox* LAN;
    QLineEdit* ESERVER;
    QLineEdit* EMAIL;
    QLineEdit* EMAIL2;
    QLineEdit* TEL[7]; // 1..6
    QLineEdit* Com;
    QLineEdit* Setting;
    QLineEdit* EMARGE;
    QLineEdit* MIN;
    QLineEdit* RETRY;
    QLabel* STORE;
    QPushButton* STORETEST;
    StoreProbe m_store;
};
