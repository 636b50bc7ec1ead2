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
    /// A reply with more lines than this is a broken peer, not a reply.
    static constexpr int kMaxReplyLines = 1000;

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

    /// Ends a Send before it connects; reason says what was refused.
    void refuse(const QString& reason);

    /// Why the envelope or the data cannot go out as they stand: a line
    /// break in an envelope value, or a NUL or 8-bit character anywhere
    /// ("" when they can).
    QString unsafeValue() const;

    /// Forgets the sender, the recipients and the data, for a new message.
    void clearMessage();

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
