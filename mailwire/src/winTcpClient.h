#pragma once

#include "ReplyReader.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QTcpSocket>

#include <functional>
#include <memory>

class QSslSocket;

namespace mailwire {

/// The library's transport: blocking calls over an asynchronous TCP socket.
/// Every wait lets the event loop run (the host program's windows and
/// timers go on; without an event loop it blocks on the socket in slices of
/// at most 100 ms), is bounded by the time-out and by the total deadline,
/// ends when the caller's end hook says so, and ends at once when the peer
/// closes the connection; each ending is a transport failure (ErrorStatus 1)
/// that the caller sees after the call.
class winTcpClient {
public:
    static constexpr int kDefaultTimeoutMs = 60000;

    // Error numbers of the transport, in the family operators know from
    // other mail tools.
    static constexpr int kTimedOut = 10060;
    static constexpr int kConnectionRefused = 10061;
    static constexpr int kNetworkUnreachable = 10051;
    static constexpr int kHostUnreachable = 10065;
    static constexpr int kConnectionReset = 10054;
    static constexpr int kHostNotFound = 11001;
    static constexpr int kLineTooLong = 10040;
    // TLS failures: the handshake itself, and a server certificate that is
    // not trusted or not made out to the server's name.
    static constexpr int kTlsFailed = 9009;
    static constexpr int kCertificateRefused = 9010;
    /// The caller's end hook said so.
    static constexpr int kEnded = 9013;
    /// No address of the server may be connected to (see setLoopbackOnly).
    static constexpr int kAddressRefused = 9007;

    /// When the connection turns to TLS: never (a plain TCP socket, as it
    /// always was), when StartTls is called, or from the first byte.
    enum class Tls { Never, Later, Now };

    winTcpClient();
    ~winTcpClient();

    /// Loads Qt's TLS backend (once per process) before anything of TLS is
    /// used; false when there is none.
    static bool prepareTls();

    /// Looks the name up (without Qt's lookup, off this thread) and connects
    /// to its addresses in turn until one takes the connection; with
    /// Tls::Now, returns once the handshake is done (or has failed).
    void Connect(const QString& strServerName, qint16 intServerPort, Tls tls = Tls::Never);
    /// Turns the open connection (made with Tls::Later) into TLS and waits
    /// for the handshake. Whatever the server sent before is dropped: in
    /// clear text, it may have been put there by anyone on the way.
    void StartTls();
    /// CA certificates the server's certificate must chain to; empty (the
    /// default) means the system's CA store. The server's name is checked
    /// against the certificate either way.
    void setTrust(const QList<QSslCertificate>& caCertificates) { m_trust = caCertificates; }
    void DisConnect();
    void Send(const QString& text);
    /// Sends text but writes shown into the transcript (for a secret).
    void Send(const QString& text, const QString& shown);
    /// Like Send, but leaves the text queued (up to 64 KiB) for the next Send
    /// to take along: the lines of a message get no reply of their own, and
    /// one write for all of them spares the server a wake-up per line.
    void SendMore(const QString& text);
    void GetResponseOneLine(QString& line);
    /// The same wait, ended by deadline rather than by the time-out.
    void GetResponseOneLine(QString& line, const QDeadlineTimer& deadline);

    QString Log() const { return m_log; }
    qint16 ErrorStatus() const { return m_errorStatus; }
    qint32 ErrorNumber() const { return m_errorNumber; }
    QString ErrorDescription() const { return m_errorDescription; }

    /// Zero or less means kDefaultTimeoutMs.
    void setTimeoutMs(int ms);
    int timeoutMs() const { return m_timeoutMs; }

    /// A bound on everything until the next call, connection and closing
    /// included; totalMs only names it in the error. Forever: no bound.
    void setTotalDeadline(const QDeadlineTimer& deadline, int totalMs);
    /// Asked at every pass of every wait; true ends the wait (kEnded).
    void setEndHook(std::function<bool()> ended) { m_ended = std::move(ended); }
    /// Only loopback addresses are connected to; others end the connect
    /// with kAddressRefused and why + the address.
    void setLoopbackOnly(bool only, const QString& why = QString());

    /// What is being sent and what is awaited, for the error texts
    /// ("MAIL FROM", "the reply to MAIL FROM").
    void setStep(const QString& sending, const QString& awaiting);

    /// True once a connection stood since the last Connect.
    bool connected() const { return m_connected; }
    /// The local end of the connection (null when there is none).
    QHostAddress localAddress() const;

    /// Records a transport failure found by the caller (status 1, as the
    /// socket's own failures); an earlier failure stays.
    void fail(qint32 number, const QString& description);

    /// Called with bytes sent and bytes still queued while a send goes out.
    std::function<void(qint32 bytesSent, qint32 bytesRemaining)> SendProgress;

private:
    void SetErrorStatus(qint16 status, qint32 number, const QString& description);
    void ClearErrorStatus();
    void ClearLog() { m_log.clear(); }
    void write(const QString& text, const QString& shown, bool now);
    void onError(QAbstractSocket::SocketError error);
    // A fresh socket of the kind the connection needs, with its signals.
    void makeSocket(bool tls);
    void configureTls();
    void waitEncrypted();
    // Moves what the socket holds into the reader, as far as the reader
    // takes it; an unfinished line beyond the cap is a failure.
    void pull();
    QList<QHostAddress> lookUp(const QString& name, const QDeadlineTimer& deadline);
    // A TCP connection to address, made here rather than by Qt; its socket
    // descriptor, or -1 with the failure recorded in *number/*description.
    int connectTo(const QHostAddress& address, quint16 port, const QDeadlineTimer& deadline,
                  qint32* number, QString* description);
    // Waits until done() holds, an error is set, the end hook says so, the
    // peer has closed, or the deadline (or the total deadline) passes. True
    // when done() holds.
    bool waitFor(const std::function<bool()>& done, const QString& what,
                 const QDeadlineTimer& deadline);
    // The failure of a wait that could not go on ("" when it can).
    bool stopped(const QString& what, const QDeadlineTimer& deadline);
    // One pass of a wait: lets the socket's events happen.
    void pass(const QDeadlineTimer& deadline);

    std::unique_ptr<QTcpSocket> m_socket;
    QSslSocket* m_ssl = nullptr; // m_socket, when it is one that can speak TLS
    QList<QSslCertificate> m_trust;
    QList<QSslError> m_sslErrors;
    bool m_handshaking = false;
    bool m_connected = false;
    ReplyReader m_reader;
    QString m_log;
    qint16 m_errorStatus = 0;
    qint32 m_errorNumber = 0;
    QString m_errorDescription;
    int m_timeoutMs = kDefaultTimeoutMs;
    QDeadlineTimer m_total = QDeadlineTimer(QDeadlineTimer::Forever);
    int m_totalMs = 0;
    std::function<bool()> m_ended;
    bool m_loopbackOnly = false;
    QString m_loopbackWhy;
    QString m_sending = QStringLiteral("the command");
    QString m_awaiting = QStringLiteral("a reply line");
};

} // namespace mailwire
