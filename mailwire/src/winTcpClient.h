#pragma once

#include "ReplyReader.h"

#include <QDeadlineTimer>
#include <QString>
#include <QTcpSocket>

#include <functional>

namespace mailwire {

/// The library's transport: blocking calls over an asynchronous TCP socket.
/// Every wait lets the event loop run (the host program's windows and
/// timers go on; without an event loop it blocks on the socket), is bounded
/// by the time-out, and ends at once when the peer closes the connection;
/// either ending is a transport failure (ErrorStatus 1) that the caller sees
/// after the call.
class winTcpClient {
public:
    static constexpr int kDefaultTimeoutMs = 60000;

    // Error numbers of the transport, in the family operators know from
    // other mail tools.
    static constexpr int kTimedOut = 10060;
    static constexpr int kConnectionRefused = 10061;
    static constexpr int kConnectionReset = 10054;
    static constexpr int kHostNotFound = 11001;
    static constexpr int kLineTooLong = 10040;

    winTcpClient();

    void Connect(const QString& strServerName, qint16 intServerPort);
    void DisConnect();
    void Send(const QString& text);
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

    /// Records a transport failure found by the caller (status 1, as the
    /// socket's own failures); an earlier failure stays.
    void fail(qint32 number, const QString& description);

    /// Called with bytes sent and bytes still queued while a send goes out.
    std::function<void(qint32 bytesSent, qint32 bytesRemaining)> SendProgress;

private:
    void SetErrorStatus(qint16 status, qint32 number, const QString& description);
    void ClearErrorStatus();
    void ClearLog() { m_log.clear(); }
    void onError(QAbstractSocket::SocketError error);
    void onData();
    // Waits until done() holds, an error is set, the peer has closed, or
    // the deadline passes. True when done() holds.
    bool waitFor(const std::function<bool()>& done, const char* what,
                 const QDeadlineTimer& deadline);
    // One pass of a wait: lets the socket's events happen.
    void pass(const QDeadlineTimer& deadline);

    QTcpSocket m_socket;
    ReplyReader m_reader;
    QString m_log;
    qint16 m_errorStatus = 0;
    qint32 m_errorNumber = 0;
    QString m_errorDescription;
    int m_timeoutMs = kDefaultTimeoutMs;
};

} // namespace mailwire
