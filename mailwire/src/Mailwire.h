#pragma once

#include "mailwire/mailwire.h"
#include "winTcpClient.h"

#include <QStringList>

namespace mailwire {

/// The SMTP dialogue (HELO, MAIL FROM, RCPT TO, DATA, QUIT) for one message;
/// EHLO, STARTTLS and AUTH where a relay asks for them.
class Mailwire : public _Mailwire, public MailwireObject {
public:
    // Numbers of the dialogue's own errors.
    static constexpr int kTransportError = 9000;
    static constexpr int kRefusedText = 9007;
    static constexpr int kStartTlsMissing = 9011;
    static constexpr int kLoginRefused = 9012;
    /// A reply with more lines than this is a broken peer, not a reply.
    static constexpr int kMaxReplyLines = 1000;
    /// Nor is one with more characters than this, however many lines.
    static constexpr qsizetype kMaxReplyBytes = 4 * 1024 * 1024;

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
    qint16 SecurityMode() const override { return m_securityMode; }
    void setSecurityMode(qint16 mode) override { m_securityMode = mode; }
    QString UserName() const override { return m_userName; }
    void setUserName(const QString& name) override { m_userName = name; }
    void setPassword(const QString& password) override { m_password = password; }
    QString CaFile() const override { return m_caFile; }
    void setCaFile(const QString& path) override { m_caFile = path; }
    int Outcome() const override { return m_outcome; }
    int TotalTimeoutMs() const override { return m_totalMs; }
    void setTotalTimeoutMs(int ms) override { m_totalMs = ms > 0 ? ms : 0; }
    void setEndHook(MailwireEndHook hook, void* context) override;
    bool LoginInClear() const override { return m_loginInClear; }
    void setLoginInClear(bool allowed) override { m_loginInClear = allowed; }

    /// Ends a Send before it connects; reason says what was refused.
    void refuse(const QString& reason, MailwireOutcome outcome = kMailwireDataError);

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
    void SendCommand(const QString& command, QString& code, QStringList* lines = nullptr,
                     const QString& shown = QString());
    void SendDataBlock(QString& code);
    void DisconnectServer();
    bool readReply(QString& code, QStringList* lines);
    // The opening of an extended dialogue: EHLO, STARTTLS, EHLO, AUTH.
    struct Failure;
    bool greetExtended(QString& code, Failure& failure);
    bool authenticate(const QStringList& ehlo, QString& code, Failure& failure);
    // Why the relay settings cannot be used ("" when they can); loads the
    // CA file into the transport.
    QString unusableRelaySettings(MailwireOutcome* outcome);
    void SetErrorStatus(qint16 status, qint32 number, const QString& description);
    void ClearErrorStatus();
    void copyTransportError();
    bool dialogue(int fromStep, QString& code, Failure& failure);
    // The server's words in the last reply, when it refused something.
    QString serverSaid(const QString& code) const;

    QString m_serverName;
    qint16 m_serverPort = 25;
    QString m_clientName;
    qint16 m_securityMode = 0;
    QString m_userName;
    QString m_password;
    QString m_caFile;
    winTcpClient m_tcp;
    QString m_reversePath;
    QStringList m_forwardPaths;
    QString m_data;
    QString m_errorMessage;
    qint16 m_errorStatus = 0;
    qint32 m_errorNumber = 0;
    QString m_errorDescription;
    int m_outcome = kMailwireSent;
    int m_totalMs = 0;
    MailwireEndHook m_endHook = nullptr;
    void* m_endContext = nullptr;
    bool m_loginInClear = false;
    bool m_dotSent = false;  // the message went out, its final dot too
    bool m_accepted = false; // the final dot got 250
    QStringList m_lastReply; // the lines of the last reply read
    QString m_helo;          // what HELO/EHLO says on this connection
};

/// True when text holds a CR or an LF.
bool hasLineBreak(const QString& text);

} // namespace mailwire
