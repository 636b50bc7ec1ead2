#include "winTcpClient.h"

#include "platform/AnsiText.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace mailwire {

winTcpClient::winTcpClient() {
    QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { onData(); });
    QObject::connect(&m_socket, &QAbstractSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError e) { onError(e); });
    QObject::connect(&m_socket, &QTcpSocket::bytesWritten, [this](qint64 written) {
        if (SendProgress)
            SendProgress(static_cast<qint32>(written),
                         static_cast<qint32>(m_socket.bytesToWrite()));
    });
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

void winTcpClient::onError(QAbstractSocket::SocketError error) {
    if (m_errorStatus != 0)
        return; // the first failure is the one worth reporting
    // A peer that closes is handled where a wait notices it: data it sent
    // before closing is still read.
    if (error == QAbstractSocket::RemoteHostClosedError)
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

bool winTcpClient::waitFor(const std::function<bool()>& done, const char* what) {
    QDeadlineTimer deadline(m_timeoutMs);
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
        if (!QCoreApplication::instance()) {
            m_socket.waitForReadyRead(
                static_cast<int>(std::min<qint64>(deadline.remainingTime(), 100)));
            continue;
        }
        // Yield: the host's events run, and the socket's own signals end the
        // nested loop early.
        QEventLoop loop;
        QTimer tick;
        tick.setSingleShot(true);
        QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QIODevice::readyRead, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QIODevice::bytesWritten, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QAbstractSocket::stateChanged, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QAbstractSocket::errorOccurred, &loop, &QEventLoop::quit);
        tick.start(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 0, 100)));
        loop.exec();
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
                 "the connection to close"))
        m_socket.abort();
}

void winTcpClient::Send(const QString& text) {
    if (m_errorStatus == 0) {
        if (m_socket.state() != QAbstractSocket::ConnectedState &&
            !waitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                     "the connection"))
            return;
        m_socket.write(platform::toAnsi(text));
        waitFor([this] { return m_socket.bytesToWrite() == 0; }, "the data to go out");
    }
    m_log += QStringLiteral("< ") + text;
}

void winTcpClient::GetResponseOneLine(QString& line) {
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
            "a reply line"))
        return;
    line = next;
    m_log += QStringLiteral("> ") + line + QStringLiteral("\r\n");
}

} // namespace mailwire
