#pragma once

#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QDialog>
#include <QStringList>

class C_PING;
class QComboBox;
class QLineEdit;
class QListWidget;

/// The manual ping window: echoes one host with the operator's own
/// parameters and shows a line per request.
class frmPing : public QDialog {
    Q_OBJECT
public:
    frmPing(AppState& state, platform::WindowSystem& ui, QWidget* parent = nullptr);

    void Command1_Click();
    void cPING_Ping(qint32 lngCode, const QString& strCode, const QString& strHostName,
                    const QString& strIPAddress, qint32 lngBytes, qint32 lngRTT, qint32 lngTTL);
    void done(int result) override;

    /// The fields of PING.txt (code page 932, or UTF-8 when it is that, as
    /// the settings files are read): separated by commas or line
    /// ends, a field in double quotes may hold commas.
    static QStringList pingListFields(const QByteArray& content);

private:
    void GetText(QComboBox* obj1);

    AppState& m_state;
    platform::WindowSystem& m_ui;
    QComboBox* Text1;
    QLineEdit *Text2, *txtTimeOut, *txtPacket, *txtChrPkt, *txtTTL;
    QListWidget* List1;
    C_PING* m_probe = nullptr; // the echo in progress, while Command1_Click runs
};
