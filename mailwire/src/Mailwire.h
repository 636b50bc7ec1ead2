#pragma once

#include "mailwire/mailwire.h"
#include "winTcpClient.h"

#include <QStringList>

namespace mailwire {

/// The SMTP dialogue (HELO, MAIL FROM, RCPT TO, DATA, QUIT) for one message.
class Mailwire : public _Mailwire, public MailwireObject {
public:
    // Numbers of the dialogue's own errors.
    static constexpr int kTransportError = 9000;
    static constexpr int kRefusedText = 9007;

    Mailwire();

    _Mailwire* queryMailwire() override { return this; }

    void SetReversePath(const QString& strNewReversePath) override;
    void SetForwardPath(const QString& strAddress) override;
    void SetData(const QString& strSentense) override;
    void Send() override;
    QString ServerName() const override { return m_serverName; }
    void setServerName(const QString& name) override { m_serverName = name; }
    qint16 ServerPort() const override { return m_serverPort; }
    void setServerPort(qint16 port) override { m_serverPort = port; }
    QString ClientName() const override { return m_clientName; }
    void setClientName(const QString& name) override { m_clientName = name; }
    QString ErrorMessage() const override { return m_errorMessage; }
    QString Log() const override { return m_tcp.Log(); }
    void LogClear() override;
    int TimeoutMs() const override { return m_tcp.timeoutMs(); }
    void setTimeoutMs(int ms) override { m_tcp.setTimeoutMs(ms); }

    /// Ends a Send before it connects: what names the refused value.
    void refuse(const QString& what);

    /// The first envelope value with a line break in it, named for the
    /// operator ("" when there is none).
    QString unsafeEnvelopeValue() const;

private:
    // The private steps record a transport failure in the error status and
    // leave the reply code as it was.
    void ConnectServer(QString& code);
    void SendCommand(const QString& command, QString& code);
    void SendDataBlock(QString& code);
    void DisconnectServer();
    bool readReply(QString& code);
    void SetErrorStatus(qint16 status, qint32 number, const QString& description);
    void ClearErrorStatus();
    void copyTransportError();
    bool dialogue(int fromStep, QString& code, int& number, QString& description);

    QString m_serverName;
    qint16 m_serverPort = 25;
    QString m_clientName;
    winTcpClient m_tcp;
    QString m_reversePath;
    QStringList m_forwardPaths;
    QString m_data;
    QString m_errorMessage;
    qint16 m_errorStatus = 0;
    qint32 m_errorNumber = 0;
    QString m_errorDescription;
};

/// True when text holds a CR or an LF.
bool hasLineBreak(const QString& text);

} // namespace mailwire
