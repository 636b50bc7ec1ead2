#include "winTcpClient.h"

#include "platform/AnsiText.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace mailwire {
namespace {

// The longest one pass of a wait blocks in the event loop before it looks
// at the socket again.
constexpr qint64 kPassMs = 100;

// What SendMore lets pile up before it sends.
constexpr qint64 kMaxQueued = 64 * 1024;

} // namespace

winTcpClient::winTcpClient() {
    makeSocket(false);
}

winTcpClient::~winTcpClient() = default;

void winTcpClient::makeSocket(bool tls) {
    // A plain connection keeps the plain socket it always had: nothing of
    // TLS is loaded for it.
    m_ssl = tls ? new QSslSocket : nullptr;
    m_socket.reset(m_ssl ? m_ssl : new QTcpSocket);
    QTcpSocket* socket = m_socket.get();
    QObject::connect(socket, &QTcpSocket::readyRead, [this] { onData(); });
    QObject::connect(socket, &QAbstractSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError e) { onError(e); });
    QObject::connect(socket, &QTcpSocket::bytesWritten, [this](qint64 written) {
        if (SendProgress)
            SendProgress(static_cast<qint32>(written),
                         static_cast<qint32>(m_socket->bytesToWrite()));
    });
    // Commands and data lines are small writes that each wait for their
    // answer; Nagle's algorithm would hold the last of them until the
    // server's delayed ACK, some 40 ms per mail.
    QObject::connect(socket, &QAbstractSocket::connected,
                     [this] { m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    if (m_ssl)
        QObject::connect(m_ssl, &QSslSocket::sslErrors,
                         [this](const QList<QSslError>& errors) { m_sslErrors += errors; });
}

void winTcpClient::setTimeoutMs(int ms) {
    m_timeoutMs = ms > 0 ? ms : kDefaultTimeoutMs;
}

void winTcpClient::SetErrorStatus(qint16 status, qint32 number, const QString& description) {
    // Whatever ends a handshake (a refused certificate aside) is a failed
    // handshake to the caller: a closed connection, a time-out, garbage.
    if (m_handshaking && number != kCertificateRefused && number != kTlsFailed)
        return SetErrorStatus(status, kTlsFailed,
                              QStringLiteral("TLS handshake failed: ") + description);
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
        m_socket->state() == QAbstractSocket::ConnectedState)
        return;
    if (error == QAbstractSocket::SslHandshakeFailedError && !m_sslErrors.isEmpty()) {
        QStringList reasons;
        for (const QSslError& e : std::as_const(m_sslErrors))
            if (!reasons.contains(e.errorString()))
                reasons << e.errorString();
        SetErrorStatus(1, kCertificateRefused,
                       QStringLiteral("Server certificate refused: ") +
                           reasons.join(QStringLiteral("; ")));
        return;
    }
    const qint32 number = error == QAbstractSocket::ConnectionRefusedError ? kConnectionRefused
                          : error == QAbstractSocket::HostNotFoundError    ? kHostNotFound
                          : error == QAbstractSocket::SocketTimeoutError   ? kTimedOut
                                                                           : 10000 + error;
    SetErrorStatus(1, number, m_socket->errorString());
}

void winTcpClient::onData() {
    m_reader.append(m_socket->readAll());
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
    switch (m_socket->state()) {
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        m_socket->waitForConnected(ms);
        break;
    case QAbstractSocket::ClosingState:
        m_socket->waitForDisconnected(ms);
        break;
    default:
        if (m_handshaking && m_ssl)
            m_ssl->waitForEncrypted(ms);
        else if (m_socket->bytesToWrite() > 0)
            m_socket->waitForBytesWritten(ms);
        else
            m_socket->waitForReadyRead(ms);
    }
}

bool winTcpClient::waitFor(const std::function<bool()>& done, const char* what,
                           const QDeadlineTimer& deadline) {
    for (;;) {
        if (done())
            return true;
        if (m_errorStatus != 0)
            return false;
        if (m_socket->state() == QAbstractSocket::UnconnectedState) {
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

void winTcpClient::Connect(const QString& strServerName, qint16 intServerPort, Tls tls) {
    ClearLog();
    ClearErrorStatus();
    const auto state = m_socket->state();
    if (state == QAbstractSocket::ConnectedState || state == QAbstractSocket::ConnectingState ||
        state == QAbstractSocket::HostLookupState)
        return;
    if ((tls != Tls::Never) != (m_ssl != nullptr))
        makeSocket(tls != Tls::Never);
    const auto port = static_cast<quint16>(intServerPort);
    if (tls == Tls::Never) {
        m_socket->connectToHost(strServerName, port);
        return;
    }
    if (!QSslSocket::supportsSsl()) {
        SetErrorStatus(1, kTlsFailed,
                       QStringLiteral("TLS handshake failed: this machine has no TLS library "
                                      "Qt can use (OpenSSL 3)"));
        return;
    }
    configureTls();
    if (tls == Tls::Later) {
        m_socket->connectToHost(strServerName, port);
        return;
    }
    m_ssl->connectToHostEncrypted(strServerName, port);
    // A relay that cannot be reached is no failed handshake: the handshake
    // begins once the connection stands.
    if (waitFor([this] { return m_socket->state() == QAbstractSocket::ConnectedState; },
                "the connection", QDeadlineTimer(m_timeoutMs)))
        waitEncrypted();
}

void winTcpClient::configureTls() {
    m_sslErrors.clear();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // A CA file of the operator's replaces the system's store: a private
    // relay's CA is trusted for nothing else.
    if (!m_trust.isEmpty())
        conf.setCaCertificates(m_trust);
    m_ssl->setSslConfiguration(conf);
}

void winTcpClient::StartTls() {
    if (m_errorStatus != 0)
        return;
    if (!m_ssl) {
        SetErrorStatus(2, kTlsFailed, QStringLiteral("TLS handshake failed: a plain connection"));
        return;
    }
    // Bytes behind the server's go-ahead came in clear text and could have
    // been put there by anyone on the way (the STARTTLS injection): drop
    // them rather than read them as the first replies under TLS.
    m_reader = ReplyReader();
    m_socket->readAll();
    m_ssl->startClientEncryption();
    waitEncrypted();
}

void winTcpClient::waitEncrypted() {
    m_handshaking = true;
    waitFor([this] { return m_ssl->isEncrypted(); }, "the TLS handshake",
            QDeadlineTimer(m_timeoutMs));
    m_handshaking = false;
}

void winTcpClient::DisConnect() {
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        return;
    m_socket->disconnectFromHost();
    // Closing is best effort: a peer that never confirms is cut off.
    if (!waitFor([this] { return m_socket->state() == QAbstractSocket::UnconnectedState; },
                 "the connection to close", QDeadlineTimer(m_timeoutMs)))
        m_socket->abort();
}

void winTcpClient::Send(const QString& text) {
    write(text, text, true);
}

void winTcpClient::Send(const QString& text, const QString& shown) {
    write(text, shown, true);
}

void winTcpClient::SendMore(const QString& text) {
    write(text, text, false);
}

void winTcpClient::write(const QString& text, const QString& shown, bool now) {
    if (m_errorStatus == 0) {
        if (m_socket->state() != QAbstractSocket::ConnectedState &&
            !waitFor([this] { return m_socket->state() == QAbstractSocket::ConnectedState; },
                     "the connection", QDeadlineTimer(m_timeoutMs)))
            return;
        m_socket->write(platform::toAnsi(text));
        // A long message goes out in pieces rather than piling up in memory.
        if (now || m_socket->bytesToWrite() >= kMaxQueued) {
            m_socket->flush(); // most sends leave at once, without a pass of the event loop
            waitFor([this] { return m_socket->bytesToWrite() == 0; }, "the data to go out",
                    QDeadlineTimer(m_timeoutMs));
        }
    }
    m_log += QStringLiteral("< ") + shown;
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
