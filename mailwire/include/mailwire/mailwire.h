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
// the socket in slices of at most 100 ms), is bounded by TimeoutMs and by
// TotalTimeoutMs, and ends when the end hook says so. Nothing is printed:
// what went wrong is in ErrorMessage, Outcome and Log.

#include <QString>
#include <QtGlobal>

#if defined(MAILWIRE_BUILDING)
#define MAILWIRE_EXPORT __attribute__((visibility("default")))
#else
#define MAILWIRE_EXPORT
#endif

class _SmtpMailer;
class _Mailwire;

/// What the last Send (or SendMail) came to, as the exit codes of
/// sysexits.h that mail tools give for the same situation, so a script can
/// tell "try again later" from "fix the settings".
enum MailwireOutcome : int {
    /// The server accepted the message after its final dot, whatever QUIT
    /// then got (ErrorMessage may still tell of a failed goodbye).
    kMailwireSent = 0,
    /// Settings that cannot work: an unknown security mode, a NUL in the
    /// login.
    kMailwireUsage = 64,
    /// Refused for good (a 5xx reply) to the sender, a recipient or DATA, or
    /// a message that cannot go out as it stands (a line break in a header
    /// value, an 8-bit character in the envelope or the data).
    kMailwireDataError = 65,
    /// The CA file holds no certificate.
    kMailwireNoInput = 66,
    /// The server's name cannot be looked up.
    kMailwireNoHost = 68,
    /// Refused for now (a 4xx reply) to the sender, a recipient or DATA;
    /// any refusal of the message after its data; STARTTLS or a login
    /// mechanism not offered; a certificate refused; a login in clear to a
    /// server not on this machine refused (see LoginInClear).
    kMailwireUnavailable = 69,
    /// The server stopped answering on an open connection (a time-out, the
    /// end of TotalTimeoutMs included), or the network failed under it.
    kMailwireIoError = 74,
    /// No connection: refused, unreachable, not made in time; or the send
    /// was ended by the end hook.
    kMailwireTempFail = 75,
    /// The server broke the dialogue: a greeting other than 220, HELO or
    /// EHLO refused, the connection closed in the middle, a line or reply
    /// too long, STARTTLS refused, a failed TLS handshake.
    kMailwireProtocol = 76,
    /// The login was refused.
    kMailwireNoPermission = 77,
};

/// Asked during every wait of a send (at least every 100 ms, and after each
/// event the wait lets the host handle); returning true ends the send at
/// once: nothing more is sent, the connection is cut, Send returns with
/// ErrorMessage "??? 9013 Ended by the program while ..." and Outcome
/// kMailwireTempFail (kMailwireSent when the message was accepted already).
/// Called on the thread that sends, with the context it was set with.
using MailwireEndHook = bool (*)(void* context);

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
    /// The name sent with HELO (and EHLO). "" (the default) means this
    /// machine's fully qualified name, found without DNS (the host name, or
    /// its line of /etc/hosts), else the address literal of the connection's
    /// local end ("[192.0.2.1]"). A dotted address goes out as an address
    /// literal (RFC 5321 section 4.1.3).
    virtual QString ClientName() const = 0;
    virtual void setClientName(const QString& name) = 0;
    /// "" after a successful Send, otherwise what went wrong. A refusal
    /// gives the reply code, "SMTP Defined Error: " and the number, then the
    /// server's own words: "553 SMTP Defined Error: 9003 (server said: 553
    /// 5.1.0 Sender address syntax error)". A transport failure names the
    /// step it happened in ("... while waiting for the reply to RCPT TO").
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
    //   9013 ended by the end hook                "??? 9013 Ended by the program ..."
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

    /// What the last Send came to (see MailwireOutcome).
    virtual int Outcome() const = 0;
    /// A bound on the whole Send, in milliseconds: looking the server up,
    /// connecting, TLS, the login, every reply, QUIT and closing. When it
    /// runs out the send ends at once as a time-out ("??? 10060 The send
    /// took its whole bound of N ms; ..."; Outcome kMailwireIoError, or
    /// kMailwireTempFail before a connection stood). Zero or less (the
    /// default) sets no bound beyond TimeoutMs per wait.
    virtual int TotalTimeoutMs() const = 0;
    virtual void setTotalTimeoutMs(int ms) = 0;
    /// The end hook of every later Send (see MailwireEndHook); a null hook
    /// (the default) never ends one.
    virtual void setEndHook(MailwireEndHook hook, void* context) = 0;
    /// A login (UserName) over plain SMTP (SecurityMode 0) sends the
    /// password in clear: it goes only to a server on this machine (a
    /// loopback address) unless this is true. Any other server is refused
    /// before connecting ("+++ 9007 ...", Outcome kMailwireUnavailable).
    /// Default false.
    virtual bool LoginInClear() const = 0;
    virtual void setLoginInClear(bool allowed) = 0;

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
    /// Composes and sends; the outcome is in ErrorMessage and Outcome. A
    /// line break in an address, the display name, the subject or the client
    /// name is refused before connecting. The display name goes out so that
    /// readers see one address with that name: as it is when it is plain
    /// words, as a quoted string when it holds ASCII specials (",", "(",
    /// ...), as encoded words (each at most 75 characters) when it holds
    /// anything else. ¥ and ‾ go out in JIS-Roman (RFC 1468). A character
    /// that code page 932 cannot hold goes out as "?", one ISO-2022-JP has no
    /// place for (the user-defined area) as 〓; each such character leaves
    /// one line naming it in the log. Lines over 998 octets are broken. The
    /// message carries Date and a Message-ID of its own (its domain from the
    /// sender address, else this machine's name). The recipients, subject
    /// and text stay: a second SendMail sends the same message again (with
    /// whatever was added since); Clear starts a new one.
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
    /// See _Mailwire::Outcome and the members after it.
    virtual int Outcome() const = 0;
    virtual int TotalTimeoutMs() const = 0;
    virtual void setTotalTimeoutMs(int ms) = 0;
    virtual void setEndHook(MailwireEndHook hook, void* context) = 0;
    virtual bool LoginInClear() const = 0;
    virtual void setLoginInClear(bool allowed) = 0;
    /// This machine's name as the mail gives it (the default client name and
    /// Message-ID domain): its fully qualified name, found without DNS, else
    /// the host name as the kernel has it.
    virtual QString MachineName() const = 0;

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
