#ifndef MAILWIRE_MAILWIRE_C_H
#define MAILWIRE_MAILWIRE_C_H

/*
 * Mailwire from C (and from anything that can call C: Python's ctypes,
 * other languages' foreign-function interfaces).
 *
 * A handle is opened from a programmatic identifier and closed with
 * mailwire_close:
 *   "VBMailwire.SmtpMailer"  the composer: sender, To/Cc/Bcc, subject and
 *                            body in, a Japanese mail (ISO-2022-JP) out
 *   "VBMailwire.Mailwire"    the bare SMTP dialogue: envelope and
 *                            ready-made 7-bit message text
 * Every function is named "mailwire_" + the member's name in the C++
 * interface of mailwire/mailwire.h; setters of properties begin with a
 * lower-case "set" (mailwire_setServerName), methods keep theirs
 * (mailwire_SetTo).
 *
 * Text: every argument and every returned text is UTF-8. Line ends handed
 * to mailwire_SetSentense and mailwire_SetData may be LF, CR or CR LF; they
 * are sent as CR LF.
 *
 * Returned text is owned by the handle: it stays valid until the same
 * function is called again on that handle, or the handle is closed. Copy
 * it to keep it longer; never free it.
 *
 * Results: functions that return int give MAILWIRE_OK (0) or one of the
 * negative MAILWIRE_E_* codes; mailwire_SendMail and mailwire_Send give
 * MAILWIRE_NOT_SENT when the server did not accept the mail, and
 * mailwire_ErrorMessage says why, mailwire_Outcome what kind of failure it
 * was (MAILWIRE_EX_*). Functions that return text give NULL on
 * a fault of the call (a null handle, a member the handle's class does not
 * have, another thread). No function raises an error or aborts.
 *
 * Threads: a handle belongs to the thread that opened it; calls from
 * another thread are refused with MAILWIRE_E_THREAD (or NULL). Different
 * handles may be used on different threads at the same time.
 *
 * The library needs no application object of the host: a plain C program,
 * a script or a Qt program can use it alike, and it prints nothing. Sending
 * blocks the calling thread until the dialogue ends; each wait for the
 * server is bounded by TimeoutMs, the whole send by TotalTimeoutMs, and the
 * end hook can end it at any wait.
 *
 * Compatibility: functions are only ever added to this interface (new
 * members are appended, as new functions); the ones here keep their names,
 * arguments and meaning for the life of the library's major version.
 */

#ifdef __cplusplus
extern "C" {
#endif

#if defined(MAILWIRE_BUILDING)
#define MAILWIRE_C_API __attribute__((visibility("default")))
#else
#define MAILWIRE_C_API
#endif

/** An open SmtpMailer or Mailwire object. */
typedef struct mailwire_handle mailwire_handle;

enum {
    MAILWIRE_OK = 0,
    /** SendMail / Send: the mail was not accepted; see mailwire_ErrorMessage. */
    MAILWIRE_NOT_SENT = 1,
    /** The handle is NULL. */
    MAILWIRE_E_HANDLE = -1,
    /** The handle's class has no such member (SetTo on a Mailwire, ...). */
    MAILWIRE_E_MEMBER = -2,
    /** A NULL text, a text that is not UTF-8, or a number out of range. */
    MAILWIRE_E_ARGUMENT = -3,
    /** Called from a thread other than the one that opened the handle. */
    MAILWIRE_E_THREAD = -4,
    /** The library ran out of memory or failed inside. */
    MAILWIRE_E_INTERNAL = -5
};

/** The library's version, "major.minor.patch". */
MAILWIRE_C_API const char* mailwire_version(void);

/**
 * Opens an object by its programmatic identifier ("VBMailwire.SmtpMailer"
 * or "VBMailwire.Mailwire"). NULL for an unknown identifier or when memory
 * runs out. Defaults: ServerName "domain.name", ServerPort 25, ClientName
 * "" (this machine's name), TimeoutMs 60000, TotalTimeoutMs 0 (none),
 * everything else empty.
 */
MAILWIRE_C_API mailwire_handle* mailwire_open(const char* prog_id);

/** Closes a handle and frees everything it owns; NULL is ignored. */
MAILWIRE_C_API void mailwire_close(mailwire_handle* handle);

/* ---- Both classes ---------------------------------------------------- */

/** SMTP server: host name or address. */
MAILWIRE_C_API const char* mailwire_ServerName(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setServerName(mailwire_handle* handle, const char* name);
/** SMTP server port, 1 to 65535. */
MAILWIRE_C_API int mailwire_ServerPort(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setServerPort(mailwire_handle* handle, int port);
/**
 * The name sent with HELO (and EHLO). "" (the default) means this machine's
 * fully qualified name, found without DNS, else the address literal of the
 * connection's local end ("[192.0.2.1]"); a dotted address is sent as an
 * address literal.
 */
MAILWIRE_C_API const char* mailwire_ClientName(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setClientName(mailwire_handle* handle, const char* name);
/**
 * How long any one wait for the server may take, in milliseconds; 0 or
 * less sets the default. A wait that runs out ends the send as a transport
 * failure.
 */
MAILWIRE_C_API int mailwire_TimeoutMs(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setTimeoutMs(mailwire_handle* handle, int ms);
/**
 * "" after an accepted mail, otherwise what went wrong: a refusal as
 * "<code> SMTP Defined Error: <number>" and the server's own words
 * ("(server said: 553 5.1.0 Sender address syntax error)"), a transport
 * failure with the step it happened in. After a message the server
 * accepted, it may still tell of a failed QUIT (mailwire_Outcome is then
 * MAILWIRE_EX_OK).
 */
MAILWIRE_C_API const char* mailwire_ErrorMessage(mailwire_handle* handle);

/*
 * What the last send came to, as the exit codes of sysexits.h that mail
 * tools (msmtp) give for the same server, so a script can tell "try again
 * later" from "fix the settings":
 */
enum {
    /** The server accepted the message after its final dot, whatever QUIT got. */
    MAILWIRE_EX_OK = 0,
    /** Settings that cannot work (an unknown security mode, a NUL in the login). */
    MAILWIRE_EX_USAGE = 64,
    /** Sender, a recipient or DATA refused for good (5xx); a message that cannot go out. */
    MAILWIRE_EX_DATAERR = 65,
    /** The CA file holds no certificate. */
    MAILWIRE_EX_NOINPUT = 66,
    /** The server's name cannot be looked up. */
    MAILWIRE_EX_NOHOST = 68,
    /** Refused for now (4xx), or after the data; STARTTLS or a login not offered;
     * a certificate refused; a login in clear to another machine refused. */
    MAILWIRE_EX_UNAVAILABLE = 69,
    /** The server stopped answering on an open connection (a time-out). */
    MAILWIRE_EX_IOERR = 74,
    /** No connection (refused, unreachable, not made in time), or ended by the end hook. */
    MAILWIRE_EX_TEMPFAIL = 75,
    /** The server broke the dialogue: no 220 greeting, HELO refused, closed midway, TLS failed. */
    MAILWIRE_EX_PROTOCOL = 76,
    /** The login was refused. */
    MAILWIRE_EX_NOPERM = 77
};
/** One of MAILWIRE_EX_*, for the last mailwire_SendMail or mailwire_Send. */
MAILWIRE_C_API int mailwire_Outcome(mailwire_handle* handle);

/**
 * A bound on the whole send in milliseconds (lookup, connection, TLS,
 * login, every reply, QUIT); 0 or less (the default) for none. When it runs
 * out the send ends at once as a time-out ("??? 10060 The send took its
 * whole bound ...").
 */
MAILWIRE_C_API int mailwire_TotalTimeoutMs(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setTotalTimeoutMs(mailwire_handle* handle, int ms);

/**
 * Asked during every wait of a send, at least every 100 ms, on the thread
 * that sends: a non-zero answer ends the send at once (nothing more is
 * sent, the connection is cut; ErrorMessage "??? 9013 Ended by the program
 * while ...", Outcome MAILWIRE_EX_TEMPFAIL). A signal handler that sets a
 * flag the hook reads is enough. NULL (the default) removes the hook.
 */
typedef int (*mailwire_end_hook)(void* context);
MAILWIRE_C_API int mailwire_setEndHook(mailwire_handle* handle, mailwire_end_hook hook,
                                       void* context);
/**
 * SmtpMailer: the thread's error log, a line break, then the transcript of
 * the last connection. Mailwire: the transcript alone. Sent lines begin
 * with "< ", received ones with "> ", transport errors with "? "; lines end
 * in CR LF.
 */
MAILWIRE_C_API const char* mailwire_Log(mailwire_handle* handle);
/** Empties the error log of the calling thread (not the transcript). */
MAILWIRE_C_API int mailwire_LogClear(mailwire_handle* handle);

/*
 * Submission through a modern relay (both classes). With security mode
 * MAILWIRE_SECURITY_NONE and no user name the dialogue is plain SMTP, as
 * it always was. Otherwise EHLO, TLS as the mode asks, and AUTH PLAIN (or
 * LOGIN) when a user name is set; the server's certificate must chain to
 * the system's CA store, or to the CA file, and name the server. Failures
 * show in mailwire_ErrorMessage with their numbers: 9009 TLS handshake,
 * 9010 certificate refused, 9011 no STARTTLS, 9012 login refused; nothing
 * of the mail is sent then. The password never shows in mailwire_Log.
 */
enum {
    /** Plain SMTP (the default). */
    MAILWIRE_SECURITY_NONE = 0,
    /** STARTTLS, required: without it the mail is refused, not sent in clear. */
    MAILWIRE_SECURITY_STARTTLS = 1,
    /** TLS from the first byte (a submission port such as 465). */
    MAILWIRE_SECURITY_TLS = 2
};
/** One of MAILWIRE_SECURITY_*; anything else is MAILWIRE_E_ARGUMENT. */
MAILWIRE_C_API int mailwire_SecurityMode(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setSecurityMode(mailwire_handle* handle, int mode);
/** The login for SMTP AUTH; "" (the default) means no login. */
MAILWIRE_C_API const char* mailwire_UserName(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setUserName(mailwire_handle* handle, const char* name);
/** The password of that login. Write-only: no function hands it back. */
MAILWIRE_C_API int mailwire_setPassword(mailwire_handle* handle, const char* password);
/**
 * With MAILWIRE_SECURITY_NONE a login sends the password in clear: it goes
 * only to a loopback address unless this is non-zero; any other server is
 * refused before connecting ("+++ 9007 ...", MAILWIRE_EX_UNAVAILABLE).
 * Default 0.
 */
MAILWIRE_C_API int mailwire_LoginInClear(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setLoginInClear(mailwire_handle* handle, int allowed);
/** A PEM file of CA certificates used instead of the system's store; "" for the store. */
MAILWIRE_C_API const char* mailwire_CaFile(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setCaFile(mailwire_handle* handle, const char* path);

/* ---- SmtpMailer ------------------------------------------------------ */

/** Sender address: the envelope sender and the address in From. */
MAILWIRE_C_API const char* mailwire_ClientMailAddress(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setClientMailAddress(mailwire_handle* handle, const char* address);
/** Sender's display name in From (may be Japanese). */
MAILWIRE_C_API const char* mailwire_ClientRealName(mailwire_handle* handle);
MAILWIRE_C_API int mailwire_setClientRealName(mailwire_handle* handle, const char* name);
/** Add one recipient each; call again for more. */
MAILWIRE_C_API int mailwire_SetTo(mailwire_handle* handle, const char* address);
MAILWIRE_C_API int mailwire_SetCc(mailwire_handle* handle, const char* address);
/** Blind copies get the mail through the envelope only; the header never names them. */
MAILWIRE_C_API int mailwire_SetBcc(mailwire_handle* handle, const char* address);
/** Replaces the subject (may be Japanese). */
MAILWIRE_C_API int mailwire_SetSubject(mailwire_handle* handle, const char* subject);
/** Appends body text; a line end is added when the text does not end in one. */
MAILWIRE_C_API int mailwire_SetSentense(mailwire_handle* handle, const char* text);
/** Empties the recipient lists, the subject and the body. */
MAILWIRE_C_API int mailwire_Clear(mailwire_handle* handle);
/**
 * Composes the mail and sends it: MAILWIRE_OK when the server accepted it,
 * MAILWIRE_NOT_SENT otherwise. A line break in an address, the display
 * name, the subject or the client name is refused before connecting. The
 * display name is quoted or encoded so that readers see one address with
 * that name; the message has a Message-ID of its own. A character that
 * cannot go out as itself leaves a line naming it in mailwire_Log. The
 * handle can send again after any failure.
 */
MAILWIRE_C_API int mailwire_SendMail(mailwire_handle* handle);

/* ---- Mailwire -------------------------------------------------------- */

/** Envelope sender, without angle brackets (replaces the earlier one). */
MAILWIRE_C_API int mailwire_SetReversePath(mailwire_handle* handle, const char* address);
/** Adds an envelope recipient. */
MAILWIRE_C_API int mailwire_SetForwardPath(mailwire_handle* handle, const char* address);
/** Appends message text (header and body, 7-bit); a line end is added when missing. */
MAILWIRE_C_API int mailwire_SetData(mailwire_handle* handle, const char* text);
/** Runs the SMTP dialogue: MAILWIRE_OK when the server accepted the message. */
MAILWIRE_C_API int mailwire_Send(mailwire_handle* handle);

#ifdef __cplusplus
}
#endif

#endif
