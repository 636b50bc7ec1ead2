#pragma once

#include "Mailwire.h"
#include "ServiceLog.h"
#include "mailwire/mailwire.h"

#include <QDateTime>
#include <QStringList>

namespace mailwire {

/// The composer: header fields as ISO-2022-JP encoded words where needed,
/// the body in JIS, handed to its own Mailwire for delivery.
class SmtpMailer : public _SmtpMailer, public MailwireObject {
public:
    /// Logged once for each character that went out as something else ("?",
    /// "." or 〓).
    static constexpr int kNotSentAsItself = 9008;

    SmtpMailer();

    _SmtpMailer* querySmtpMailer() override { return this; }

    void SetTo(const QString& strAddress) override { m_to.append(strAddress); }
    void SetCc(const QString& strAddress) override { m_cc.append(strAddress); }
    void SetBcc(const QString& strAddress) override { m_bcc.append(strAddress); }
    void SetSubject(const QString& strSubject) override { m_subject = strSubject; }
    void SetSentense(const QString& strSentense) override;
    void Clear() override;
    void SendMail() override;
    QString Log() const override;
    QString ServerName() const override { return m_smtp.ServerName(); }
    void setServerName(const QString& name) override { m_smtp.setServerName(name); }
    qint16 ServerPort() const override { return m_smtp.ServerPort(); }
    void setServerPort(qint16 port) override { m_smtp.setServerPort(port); }
    QString ClientName() const override { return m_smtp.ClientName(); }
    void setClientName(const QString& name) override { m_smtp.setClientName(name); }
    QString ClientMailAddress() const override { return m_clientMailAddress; }
    void setClientMailAddress(const QString& a) override { m_clientMailAddress = a; }
    QString ClientRealName() const override { return m_clientRealName; }
    void setClientRealName(const QString& n) override { m_clientRealName = n; }
    QString ErrorMessage() const override { return m_smtp.ErrorMessage(); }
    void LogClear() override { mailwire::LogClear(); }
    int TimeoutMs() const override { return m_smtp.TimeoutMs(); }
    void setTimeoutMs(int ms) override { m_smtp.setTimeoutMs(ms); }
    qint16 SecurityMode() const override { return m_smtp.SecurityMode(); }
    void setSecurityMode(qint16 mode) override { m_smtp.setSecurityMode(mode); }
    QString UserName() const override { return m_smtp.UserName(); }
    void setUserName(const QString& name) override { m_smtp.setUserName(name); }
    void setPassword(const QString& password) override { m_smtp.setPassword(password); }
    QString CaFile() const override { return m_smtp.CaFile(); }
    void setCaFile(const QString& path) override { m_smtp.setCaFile(path); }
    int Outcome() const override { return m_smtp.Outcome(); }
    int TotalTimeoutMs() const override { return m_smtp.TotalTimeoutMs(); }
    void setTotalTimeoutMs(int ms) override { m_smtp.setTotalTimeoutMs(ms); }
    void setEndHook(MailwireEndHook hook, void* context) override {
        m_smtp.setEndHook(hook, context);
    }
    bool LoginInClear() const override { return m_smtp.LoginInClear(); }
    void setLoginInClear(bool allowed) override { m_smtp.setLoginInClear(allowed); }
    QString MachineName() const override;

    /// Builds the whole message from what the caller set; now is the Date
    /// field's time; the Message-ID is made on the first call after Clear.
    void ComposeMessage(const QDateTime& now);
    /// The same with a given Message-ID ("<...@...>").
    void ComposeMessage(const QDateTime& now, const QString& messageId);
    /// The message ComposeMessage built last.
    QString message() const { return m_message; }

private:
    QString unsafeHeaderValue() const;
    void logCharactersNotSentAsThemselves(const QString& text);

    Mailwire m_smtp;
    QString m_clientMailAddress;
    QString m_clientRealName;
    QStringList m_to;
    QStringList m_cc;
    QStringList m_bcc;
    QString m_subject;
    QString m_body;
    QString m_message;
    QString m_messageId;
};

/// Half-width katakana to full-width, one character at a time; other single
/// 8-bit characters to "."; true when the text holds Japanese.
bool NormalizeKana(QString& text);

/// The items joined with ", ".
QString GetMultiAddressString(const QStringList& list);

/// An RFC 5322 date: "Mon, 07 Dec 2026 10:15:30 +0900", English names
/// whatever the locale.
QString rfc5322Date(const QDateTime& t);

/// A Message-ID unique to this message: time, 64 random bits, and the
/// sender's domain (else this machine's name).
QString newMessageId(const QDateTime& now, const QString& sender);

} // namespace mailwire
