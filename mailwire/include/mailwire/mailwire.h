#pragma once

// Mailwire: composes Japanese mail (ISO-2022-JP body, MIME encoded words in
// the header) and delivers it over a plain SMTP dialogue.
//
// Objects are made by mailwire_create from their programmatic identifier and
// released with mailwire_release. No method throws or returns a status:
// after SendMail / Send the caller reads ErrorMessage ("" means the server
// accepted the message) and may read Log for the details.
//
// What leaves the library is 7-bit: no NUL and no byte above 0x7F, and no
// line over 998 octets from the composer. Every wait for the server lets
// the calling thread's event loop run (or, with no event loop, blocks on
// the socket) and is bounded by TimeoutMs.

#include <QString>
#include <QtGlobal>

#if defined(MAILWIRE_BUILDING)
#define MAILWIRE_EXPORT __attribute__((visibility("default")))
#else
#define MAILWIRE_EXPORT
#endif

class _SmtpMailer;
class _Mailwire;

/// What mailwire_create hands out; ask it for the interface you need.
class MailwireObject {
public:
    virtual _SmtpMailer* querySmtpMailer() { return nullptr; }
    virtual _Mailwire* queryMailwire() { return nullptr; }

protected:
    virtual ~MailwireObject() = default;
    friend void mailwire_destroy(MailwireObject*);
};

/// The SMTP dialogue: one message to the envelope recipients.
class _Mailwire {
public:
    /// Envelope sender, without angle brackets (replaces the earlier one).
    virtual void SetReversePath(const QString& strNewReversePath) = 0;
    /// Adds an envelope recipient.
    virtual void SetForwardPath(const QString& strAddress) = 0;
    /// Appends message text; a CR LF is added when the text does not end in
    /// one. The text must be a complete 7-bit message.
    virtual void SetData(const QString& strSentense) = 0;
    /// Runs the whole dialogue; the outcome is in ErrorMessage. A line break
    /// in the client name or an address, or a NUL or 8-bit character in them
    /// or in the data, is refused before connecting. Sender, recipients and
    /// data stay: a second Send sends them again, with whatever was added.
    virtual void Send() = 0;
    virtual QString ServerName() const = 0;
    virtual void setServerName(const QString& name) = 0;
    virtual qint16 ServerPort() const = 0;
    virtual void setServerPort(qint16 port) = 0;
    /// The name sent with HELO.
    virtual QString ClientName() const = 0;
    virtual void setClientName(const QString& name) = 0;
    /// "" after a successful Send, otherwise what went wrong.
    virtual QString ErrorMessage() const = 0;
    /// Transcript of the last connection.
    virtual QString Log() const = 0;
    /// Empties the shared error log of this thread (not the transcript).
    virtual void LogClear() = 0;
    /// How long the server may take, in milliseconds (default 60000): to
    /// accept the connection, to take what is sent, and for each whole reply,
    /// however many lines it has (at most 1000). A wait that runs out, or a
    /// server that closes the connection, ends the dialogue as a transport
    /// failure.
    virtual int TimeoutMs() const = 0;
    /// Zero or less sets the default.
    virtual void setTimeoutMs(int ms) = 0;

    // Submission through a modern relay. With SecurityMode 0 and no
    // UserName the dialogue is the plain one (HELO, no EHLO). Otherwise it
    // opens with EHLO, turns to TLS as the mode asks (EHLO again after
    // STARTTLS), and logs in with AUTH PLAIN, or LOGIN where the server
    // offers only that, when a UserName is set. The server's certificate
    // must chain to a trusted CA and be made out to ServerName.
    // What can go wrong, besides 9001-9006 (the number is in ErrorMessage):
    //   9007 refused before connecting (an unknown mode, a CA file without
    //        a certificate, a NUL in the user name or password, ...)
    //   9009 the TLS handshake failed             "??? 9009 ..."
    //   9010 the server's certificate was refused "??? 9010 ..."
    //   9011 STARTTLS not offered or refused      "<code> SMTP Defined Error: 9011 ..."
    //   9012 the login was refused or impossible  "<code> SMTP Defined Error: 9012 ..."
    // Nothing of the message is sent when any of them happens; QUIT is still
    // sent after 9011 and 9012. The password shows in no log: the
    // transcript has "****" in its place.

    /// 0 plain SMTP; 1 STARTTLS, required (the mail is refused, never sent
    /// in clear, when the server does not offer it); 2 TLS from the first
    /// byte (a submission port such as 465). Default 0.
    virtual qint16 SecurityMode() const = 0;
    virtual void setSecurityMode(qint16 mode) = 0;
    /// The login for SMTP AUTH; "" (the default) logs in with nothing.
    virtual QString UserName() const = 0;
    virtual void setUserName(const QString& name) = 0;
    /// The password of UserName. Write-only: the library never hands it back.
    virtual void setPassword(const QString& password) = 0;
    /// A PEM file of the CA certificates a private relay's certificate
    /// chains to, in place of the system's CA store; "" (the default) means
    /// the system's store.
    virtual QString CaFile() const = 0;
    virtual void setCaFile(const QString& path) = 0;

protected:
    virtual ~_Mailwire() = default;
};

/// The composer: builds a Japanese-capable message and sends it.
class _SmtpMailer {
public:
    virtual void SetTo(const QString& strAddress) = 0;
    virtual void SetCc(const QString& strAddress) = 0;
    /// Blind copies get the mail through the envelope only; the message
    /// itself never names them.
    virtual void SetBcc(const QString& strAddress) = 0;
    virtual void SetSubject(const QString& strSubject) = 0;
    /// Appends body text; a CR LF is added when the text does not end in one.
    virtual void SetSentense(const QString& strSentense) = 0;
    /// Empties the recipient lists, the subject and the body.
    virtual void Clear() = 0;
    /// Composes and sends; the outcome is in ErrorMessage. A line break in
    /// an address, the display name, the subject or the client name is
    /// refused before connecting. A character ISO-2022-JP has no place for
    /// (the user-defined area) goes out as 〓 with a line in the log naming
    /// it; lines over 998 octets are broken. The recipients, subject and text
    /// stay: a second SendMail sends the same message again (with whatever
    /// was added since); Clear starts a new one.
    virtual void SendMail() = 0;
    /// The shared error log + CR LF + the transcript of the last connection.
    virtual QString Log() const = 0;
    virtual QString ServerName() const = 0;
    virtual void setServerName(const QString& name) = 0;
    virtual qint16 ServerPort() const = 0;
    virtual void setServerPort(qint16 port) = 0;
    virtual QString ClientName() const = 0;
    virtual void setClientName(const QString& name) = 0;
    virtual QString ClientMailAddress() const = 0;
    virtual void setClientMailAddress(const QString& address) = 0;
    virtual QString ClientRealName() const = 0;
    virtual void setClientRealName(const QString& name) = 0;
    virtual QString ErrorMessage() const = 0;
    virtual void LogClear() = 0;
    /// See _Mailwire::TimeoutMs.
    virtual int TimeoutMs() const = 0;
    virtual void setTimeoutMs(int ms) = 0;
    /// See _Mailwire::SecurityMode and the members after it.
    virtual qint16 SecurityMode() const = 0;
    virtual void setSecurityMode(qint16 mode) = 0;
    virtual QString UserName() const = 0;
    virtual void setUserName(const QString& name) = 0;
    virtual void setPassword(const QString& password) = 0;
    virtual QString CaFile() const = 0;
    virtual void setCaFile(const QString& path) = 0;

protected:
    virtual ~_SmtpMailer() = default;
};

extern "C" {

/// Makes an object from its programmatic identifier: "VBMailwire.SmtpMailer"
/// or "VBMailwire.Mailwire". Null for an identifier the library does not
/// know. Release it with mailwire_release: a program that loads the library
/// at run time resolves both entry points, and checks both, before making
/// an object.
MAILWIRE_EXPORT MailwireObject* mailwire_create(const char* progId);

/// Releases an object made by mailwire_create; null is ignored.
MAILWIRE_EXPORT void mailwire_release(MailwireObject* object);
}

/// Names of the two exported entry points, for run-time loading.
inline constexpr const char* kMailwireCreateSymbol = "mailwire_create";
inline constexpr const char* kMailwireReleaseSymbol = "mailwire_release";
using MailwireCreateFn = MailwireObject* (*)(const char*);
using MailwireReleaseFn = void (*)(MailwireObject*);
