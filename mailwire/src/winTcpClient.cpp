#include "winTcpClient.h"

#include "platform/AnsiText.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace mailwire {
namespace {

// The longest one pass of a wait blocks in the event loop before it looks
// at the socket again.
constexpr qint64 kPassMs = 100;

} // namespace

winTcpClient::winTcpClient() {
    QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { onData(); });
    QObject::connect(&m_socket, &QAbstractSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError e) { onError(e); });
    QObject::connect(&m_socket, &QTcpSocket::bytesWritten, [this](qint64 written) {
        if (SendProgress)
            SendProgress(static_cast<qint32>(written),
                         static_cast<qint32>(m_socket.bytesToWrite()));
    });
    // Commands and data lines are small writes that each wait for their
    // answer; Nagle's algorithm would hold the last of them until the
    // server's delayed ACK, some 40 ms per mail.
    QObject::connect(&m_socket, &QAbstractSocket::connected,
                     [this] { m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); });
}

void winTcpClient::setTimeoutMs(int ms) {
    m_timeoutMs = ms > 0 ? ms : kDefaultTimeoutMs;
}

void winTcpClient::SetErrorStatus(qint16 status, qint32 number, const QString& description) {
    m_errorStatus = status;
    m_errorNumber = number;
    m_errorDescription = description;
    m_log += QStringLiteral("? ") + QString::number(number) + QLatin1Char(' ') + description +
             QStringLiteral("\r\n");
}

void winTcpClient::ClearErrorStatus() {
    m_errorStatus = 0;
    m_errorNumber = 0;
    m_errorDescription.clear();
}

void winTcpClient::fail(qint32 number, const QString& description) {
    if (m_errorStatus == 0)
        SetErrorStatus(1, number, description);
}

void winTcpClient::onError(QAbstractSocket::SocketError error) {
    if (m_errorStatus != 0)
        return; // the first failure is the one worth reporting
    // A peer that closes is handled where a wait notices it: data it sent
    // before closing is still read.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    // On an open connection Qt's time-out only says that one blocking wait
    // ran out; the deadline of our own wait is what counts.
    if (error == QAbstractSocket::SocketTimeoutError &&
        m_socket.state() == QAbstractSocket::ConnectedState)
        return;
    const qint32 number = error == QAbstractSocket::ConnectionRefusedError ? kConnectionRefused
                          : error == QAbstractSocket::HostNotFoundError    ? kHostNotFound
                          : error == QAbstractSocket::SocketTimeoutError   ? kTimedOut
                                                                           : 10000 + error;
    SetErrorStatus(1, number, m_socket.errorString());
}

void winTcpClient::onData() {
    m_reader.append(m_socket.readAll());
}

void winTcpClient::pass(const QDeadlineTimer& deadline) {
    const qint64 left = std::max<qint64>(deadline.remainingTime(), 0);
    if (QCoreApplication::instance() && QAbstractEventDispatcher::instance()) {
        // Yield: the host's events run, and the socket's own events end the
        // pass early. Unlike a nested QEventLoop, processEvents keeps working
        // while a quit is pending, so a quit neither spins nor loses the mail.
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(static_cast<int>(std::min(left, kPassMs)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return;
    }
    // No event loop on this thread (a program without QCoreApplication, or
    // a thread of its own): block on the socket itself until the deadline.
    const int ms = static_cast<int>(std::min<qint64>(left, std::numeric_limits<int>::max()));
    switch (m_socket.state()) {
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        m_socket.waitForConnected(ms);
        break;
    case QAbstractSocket::ClosingState:
        m_socket.waitForDisconnected(ms);
        break;
    default:
        if (m_socket.bytesToWrite() > 0)
            m_socket.waitForBytesWritten(ms);
        else
            m_socket.waitForReadyRead(ms);
    }
}

bool winTcpClient::waitFor(const std::function<bool()>& done, const char* what,
                           const QDeadlineTimer& deadline) {
    for (;;) {
        if (done())
            return true;
        if (m_errorStatus != 0)
            return false;
        if (m_socket.state() == QAbstractSocket::UnconnectedState) {
            onData(); // whatever arrived with the close
            if (done())
                return true;
            SetErrorStatus(1, kConnectionReset,
                           QStringLiteral("The server closed the connection while waiting for ") +
                               QLatin1String(what));
            return false;
        }
        if (deadline.hasExpired()) {
            SetErrorStatus(
                1, kTimedOut,
                QStringLiteral("No answer from the server within %1 ms while waiting for ")
                        .arg(m_timeoutMs) +
                    QLatin1String(what));
            return false;
        }
        pass(deadline);
    }
}

void winTcpClient::Connect(const QString& strServerName, qint16 intServerPort) {
    ClearLog();
    ClearErrorStatus();
    const auto state = m_socket.state();
    if (state == QAbstractSocket::ConnectedState || state == QAbstractSocket::ConnectingState ||
        state == QAbstractSocket::HostLookupState)
        return;
    m_socket.connectToHost(strServerName, static_cast<quint16>(intServerPort));
}

void winTcpClient::DisConnect() {
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return;
    m_socket.disconnectFromHost();
    // Closing is best effort: a peer that never confirms is cut off.
    if (!waitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
                 "the connection to close", QDeadlineTimer(m_timeoutMs)))
        m_socket.abort();
}

void winTcpClient::Send(const QString& text) {
    if (m_errorStatus == 0) {
        if (m_socket.state() != QAbstractSocket::ConnectedState &&
            !waitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                     "the connection", QDeadlineTimer(m_timeoutMs)))
            return;
        m_socket.write(platform::toAnsi(text));
        m_socket.flush(); // most sends leave at once, without a pass of the event loop
        waitFor([this] { return m_socket.bytesToWrite() == 0; }, "the data to go out",
                QDeadlineTimer(m_timeoutMs));
    }
    m_log += QStringLiteral("< ") + text;
}

void winTcpClient::GetResponseOneLine(QString& line) {
    GetResponseOneLine(line, QDeadlineTimer(m_timeoutMs));
}

void winTcpClient::GetResponseOneLine(QString& line, const QDeadlineTimer& deadline) {
    // Once a failure is recorded no line is handed out, not even one that
    // is already complete in the buffer.
    if (m_errorStatus != 0)
        return;
    QString next;
    if (!waitFor(
            [&] {
                if (m_reader.takeLine(&next))
                    return true;
                if (m_reader.overlong() && m_errorStatus == 0)
                    SetErrorStatus(1, kLineTooLong,
                                   QStringLiteral("A reply line longer than %1 bytes")
                                       .arg(ReplyReader::kMaxLine));
                return false;
            },
            "a reply line", deadline))
        return;
    line = next;
    m_log += QStringLiteral("> ") + line + QStringLiteral("\r\n");
}

} // namespace mailwire
