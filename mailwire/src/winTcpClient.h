#pragma once

#include "ReplyReader.h"

#include <QString>
#include <QTcpSocket>

#include <functional>

namespace mailwire {

/// The library's transport: blocking calls over an asynchronous TCP socket.
/// Every wait lets the event loop run (the host program's windows and
/// timers go on), is bounded by the time-out, and ends at once when the
/// peer closes the connection; either ending is a transport failure
/// (ErrorStatus 1) that the caller sees after the call.
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

    QString Log() const { return m_log; }
    qint16 ErrorStatus() const { return m_errorStatus; }
    qint32 ErrorNumber() const { return m_errorNumber; }
    QString ErrorDescription() const { return m_errorDescription; }

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int timeoutMs() const { return m_timeoutMs; }

    /// Called with bytes sent and bytes still queued while a send goes out.
    std::function<void(qint32 bytesSent, qint32 bytesRemaining)> SendProgress;

private:
    void SetErrorStatus(qint16 status, qint32 number, const QString& description);
    void ClearErrorStatus();
    void ClearLog() { m_log.clear(); }
    void onError(QAbstractSocket::SocketError error);
    void onData();
    // Runs the event loop until done() holds, an error is set, the peer has
    // closed, or the time-out passes. True when done() holds.
    bool waitFor(const std::function<bool()>& done, const char* what);

    QTcpSocket m_socket;
    ReplyReader m_reader;
    QString m_log;
    qint16 m_errorStatus = 0;
    qint32 m_errorNumber = 0;
    QString m_errorDescription;
    int m_timeoutMs = kDefaultTimeoutMs;
};

} // namespace mailwire
