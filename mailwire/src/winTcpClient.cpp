#include "winTcpClient.h"

#include "platform/AnsiText.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

namespace mailwire {
namespace {

// The longest one pass of a wait blocks before it looks at the socket, the
// end hook and the deadlines again.
constexpr qint64 kPassMs = 100;

// What SendMore lets pile up before it sends.
constexpr qint64 kMaxQueued = 64 * 1024;

// What Qt may read ahead of the reader; beyond it the kernel holds the rest
// (and the peer waits), so a flood costs no memory.
constexpr qint64 kSocketBuffer = 64 * 1024;

// The most the reader holds: an unfinished line this long is a broken peer.
constexpr qsizetype kReaderCap = ReplyReader::kMaxLine + 64 * 1024;

bool hasEventLoop() {
    return QCoreApplication::instance() && QAbstractEventDispatcher::instance();
}

qint64 msLeft(const QDeadlineTimer& d) {
    return d.isForever() ? std::numeric_limits<qint64>::max()
                         : std::max<qint64>(d.remainingTime(), 0);
}

// Lets the host's events run for at most ms, or until one of them came.
void yieldFor(qint64 ms) {
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(static_cast<int>(ms));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// A name looked up on a thread of its own: getaddrinfo cannot be bounded
// or cancelled, and Qt's own lookup needs an application object (without
// one it prints warnings). A lookup that outlives its wait finishes alone
// and its answer is dropped.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QList<QHostAddress> addresses;
    QString error;
    QAbstractEventDispatcher* waiting = nullptr; // woken when the answer comes
};

void resolve(const std::shared_ptr<Lookup>& lookup, const QByteArray& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.constData(), nullptr, &hints, &found);
    QList<QHostAddress> addresses;
    QString error;
    if (rc == 0) {
        for (const addrinfo* a = found; a; a = a->ai_next) {
            const QHostAddress address(a->ai_addr);
            if (!address.isNull() && !addresses.contains(address))
                addresses << address;
        }
        freeaddrinfo(found);
    } else {
        error = QString::fromLocal8Bit(rc == EAI_SYSTEM ? strerror(errno) : gai_strerror(rc));
    }
    const std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->finished = true;
    lookup->addresses = addresses;
    lookup->error = error;
    lookup->done.notify_all();
    if (lookup->waiting)
        lookup->waiting->wakeUp();
}

// A connect failure in the family of the transport's other numbers.
qint32 connectErrorNumber(int error) {
    switch (error) {
    case ECONNREFUSED:
        return winTcpClient::kConnectionRefused;
    case ENETUNREACH:
        return winTcpClient::kNetworkUnreachable;
    case EHOSTUNREACH:
        return winTcpClient::kHostUnreachable;
    case ETIMEDOUT:
        return winTcpClient::kTimedOut;
    default:
        return 10000 + error;
    }
}

// The filter in place before prepareTls's own.
QLoggingCategory::CategoryFilter g_previousFilter = nullptr;

void withoutConnectWarnings(QLoggingCategory* category) {
    if (g_previousFilter)
        g_previousFilter(category);
    if (qstrcmp(category->categoryName(), "qt.core.qobject.connect") == 0)
        category->setEnabled(QtWarningMsg, false);
}

} // namespace

bool winTcpClient::prepareTls() {
    static const bool supported = [] {
        // Without an application object, Qt's plugin loader complains that
        // it has none to connect to while it loads the TLS backend, and the
        // backend works all the same: that one warning is held back, once,
        // so a script's cron job gets no mail of it. A host application
        // has the object, and nothing of its own logging is touched.
        const bool quiet = QCoreApplication::instance() == nullptr;
        if (quiet)
            g_previousFilter = QLoggingCategory::installFilter(withoutConnectWarnings);
        const bool ok = QSslSocket::supportsSsl();
        if (quiet)
            QLoggingCategory::installFilter(g_previousFilter);
        return ok;
    }();
    return supported;
}

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
    socket->setReadBufferSize(kSocketBuffer);
    QObject::connect(socket, &QTcpSocket::readyRead, [this] { pull(); });
    QObject::connect(socket, &QAbstractSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError e) { onError(e); });
    QObject::connect(socket, &QTcpSocket::bytesWritten, [this](qint64 written) {
        if (SendProgress)
            SendProgress(static_cast<qint32>(written),
                         static_cast<qint32>(m_socket->bytesToWrite()));
    });
    if (m_ssl)
        QObject::connect(m_ssl, &QSslSocket::sslErrors,
                         [this](const QList<QSslError>& errors) { m_sslErrors += errors; });
}

void winTcpClient::setTimeoutMs(int ms) {
    m_timeoutMs = ms > 0 ? ms : kDefaultTimeoutMs;
}

void winTcpClient::setTotalDeadline(const QDeadlineTimer& deadline, int totalMs) {
    m_total = deadline;
    m_totalMs = totalMs;
}

void winTcpClient::setLoopbackOnly(bool only, const QString& why) {
    m_loopbackOnly = only;
    m_loopbackWhy = why;
}

void winTcpClient::setStep(const QString& sending, const QString& awaiting) {
    m_sending = sending;
    m_awaiting = awaiting;
}

QHostAddress winTcpClient::localAddress() const {
    return m_socket->state() == QAbstractSocket::ConnectedState ? m_socket->localAddress()
                                                                : QHostAddress();
}

void winTcpClient::SetErrorStatus(qint16 status, qint32 number, const QString& description) {
    // Whatever ends a handshake (a refused certificate, the end hook aside)
    // is a failed handshake to the caller: a closed connection, a time-out,
    // garbage.
    if (m_handshaking && number != kCertificateRefused && number != kTlsFailed && number != kEnded)
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
    const qint32 number = error == QAbstractSocket::SocketTimeoutError ? kTimedOut : 10000 + error;
    SetErrorStatus(1, number, m_socket->errorString());
}

void winTcpClient::pull() {
    while (m_socket->bytesAvailable() > 0 && m_reader.pending() < kReaderCap)
        m_reader.append(m_socket->read(kReaderCap - m_reader.pending()));
}

void winTcpClient::pass(const QDeadlineTimer& deadline) {
    const qint64 slice = std::min({msLeft(deadline), msLeft(m_total), kPassMs});
    if (hasEventLoop()) {
        // Yield: the host's events run, and the socket's own events end the
        // pass early. Unlike a nested QEventLoop, processEvents keeps working
        // while a quit is pending, so a quit neither spins nor loses the mail.
        yieldFor(slice);
        return;
    }
    // No event loop on this thread (a program without QCoreApplication, or
    // a thread of its own): block on the socket itself, a slice at a time.
    const int ms = static_cast<int>(slice);
    switch (m_socket->state()) {
    case QAbstractSocket::ClosingState:
        m_socket->waitForDisconnected(ms);
        break;
    default:
        if (m_handshaking && m_ssl)
            m_ssl->waitForEncrypted(ms);
        else if (m_socket->bytesToWrite() > 0)
            m_socket->waitForBytesWritten(ms);
        else if (m_socket->bytesAvailable() == 0)
            m_socket->waitForReadyRead(ms);
    }
}

bool winTcpClient::stopped(const QString& what, const QDeadlineTimer& deadline) {
    if (m_errorStatus != 0)
        return true;
    if (m_ended && m_ended()) {
        SetErrorStatus(1, kEnded, QStringLiteral("Ended by the program while ") + what);
        return true;
    }
    if (m_total.hasExpired()) {
        SetErrorStatus(1, kTimedOut,
                       QStringLiteral("The send took its whole bound of %1 ms; it ended while ")
                               .arg(m_totalMs) +
                           what);
        return true;
    }
    if (deadline.hasExpired()) {
        SetErrorStatus(
            1, kTimedOut,
            QStringLiteral("No answer from the server within %1 ms while ").arg(m_timeoutMs) +
                what);
        return true;
    }
    return false;
}

bool winTcpClient::waitFor(const std::function<bool()>& done, const QString& what,
                           const QDeadlineTimer& deadline) {
    for (;;) {
        if (done())
            return true;
        if (m_errorStatus != 0)
            return false;
        if (m_socket->state() == QAbstractSocket::UnconnectedState) {
            pull(); // whatever arrived with the close
            if (done())
                return true;
            if (m_errorStatus == 0)
                SetErrorStatus(1, kConnectionReset,
                               QStringLiteral("The server closed the connection while ") + what);
            return false;
        }
        if (stopped(what, deadline))
            return false;
        pass(deadline);
    }
}

QList<QHostAddress> winTcpClient::lookUp(const QString& name, const QDeadlineTimer& deadline) {
    QHostAddress literal;
    if (literal.setAddress(name))
        return {literal};
    const QByteArray ace = QUrl::toAce(name);
    if (ace.isEmpty()) {
        SetErrorStatus(1, kHostNotFound,
                       QStringLiteral("Host %1 not found: not a host name").arg(name));
        return {};
    }
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread(resolve, lookup, ace).detach();
    } catch (const std::exception& e) {
        SetErrorStatus(2, kHostNotFound,
                       QStringLiteral("Host %1 not looked up: %2")
                           .arg(name, QString::fromLocal8Bit(e.what())));
        return {};
    }
    const QString what = QStringLiteral("looking up ") + name;
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished) {
        lock.unlock();
        if (stopped(what, deadline))
            return {};
        lock.lock();
        if (lookup->finished)
            break;
        const qint64 slice = std::min({msLeft(deadline), msLeft(m_total), kPassMs});
        if (hasEventLoop()) {
            lookup->waiting = QAbstractEventDispatcher::instance();
            lock.unlock();
            yieldFor(slice);
            lock.lock();
            lookup->waiting = nullptr;
        } else {
            lookup->done.wait_for(lock, std::chrono::milliseconds(slice));
        }
    }
    if (lookup->addresses.isEmpty())
        SetErrorStatus(
            1, kHostNotFound,
            QStringLiteral("Host %1 not found: %2")
                .arg(name, lookup->error.isEmpty() ? QStringLiteral("no address") : lookup->error));
    return lookup->addresses;
}

int winTcpClient::connectTo(const QHostAddress& address, quint16 port,
                            const QDeadlineTimer& deadline, qint32* number, QString* description) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *in;
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof *in6;
    }
    auto failed = [&](int error, int fd) {
        *number = connectErrorNumber(error);
        *description = QString::fromLocal8Bit(strerror(error)) + QStringLiteral(" (") +
                       address.toString() + QLatin1Char(')');
        if (fd >= 0)
            ::close(fd);
        return -1;
    };
    const int fd =
        ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return failed(errno, -1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&storage), length) == 0)
        return fd;
    if (errno != EINPROGRESS)
        return failed(errno, fd);
    // The connection is made here, not by Qt, so that the wait has the same
    // slices, deadlines and end hook as every other wait, with an event loop
    // or without one.
    std::unique_ptr<QSocketNotifier> wake;
    if (hasEventLoop())
        wake = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    const QString what = QStringLiteral("connecting to ") + address.toString();
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) > 0)
            break;
        if (stopped(what, deadline)) {
            ::close(fd);
            return -1;
        }
        const qint64 slice = std::min({msLeft(deadline), msLeft(m_total), kPassMs});
        if (wake)
            yieldFor(slice);
        else
            ::poll(&p, 1, static_cast<int>(slice));
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    return error ? failed(error, fd) : fd;
}

void winTcpClient::Connect(const QString& strServerName, qint16 intServerPort, Tls tls) {
    ClearLog();
    ClearErrorStatus();
    const auto state = m_socket->state();
    if (state == QAbstractSocket::ConnectedState || state == QAbstractSocket::ConnectingState ||
        state == QAbstractSocket::HostLookupState)
        return;
    // Nothing a server left unread belongs to the next connection.
    m_reader = ReplyReader();
    m_connected = false;
    if ((tls != Tls::Never) != (m_ssl != nullptr))
        makeSocket(tls != Tls::Never);
    if (tls != Tls::Never && !prepareTls()) {
        SetErrorStatus(1, kTlsFailed,
                       QStringLiteral("TLS handshake failed: this machine has no TLS library "
                                      "Qt can use (OpenSSL 3)"));
        return;
    }
    const QDeadlineTimer deadline(m_timeoutMs);
    const QList<QHostAddress> addresses = lookUp(strServerName, deadline);
    if (m_errorStatus != 0)
        return;
    qint32 number = 0;
    QString description;
    for (const QHostAddress& address : addresses) {
        if (m_loopbackOnly && !address.isLoopback()) {
            if (number == 0) {
                number = kAddressRefused;
                description = m_loopbackWhy + address.toString();
            }
            continue;
        }
        const int fd = connectTo(address, static_cast<quint16>(intServerPort), deadline, &number,
                                 &description);
        if (m_errorStatus != 0)
            return;
        if (fd < 0)
            continue;
        if (!m_socket->setSocketDescriptor(fd, QAbstractSocket::ConnectedState)) {
            ::close(fd);
            number = 10000 + m_socket->error();
            description = m_socket->errorString();
            continue;
        }
        m_connected = true;
        // Commands and data lines are small writes that each wait for their
        // answer; Nagle's algorithm would hold the last of them until the
        // server's delayed ACK, some 40 ms per mail.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (m_ssl) {
            configureTls();
            m_ssl->setPeerVerifyName(strServerName);
            if (tls == Tls::Now) {
                m_ssl->startClientEncryption();
                waitEncrypted();
            }
        }
        return;
    }
    SetErrorStatus(1, number, description);
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
    waitFor([this] { return m_ssl->isEncrypted(); },
            QStringLiteral("waiting for the TLS handshake"), QDeadlineTimer(m_timeoutMs));
    m_handshaking = false;
}

void winTcpClient::DisConnect() {
    // Closing is best effort: a peer that never confirms, a failure, the
    // end hook or the total bound cut the connection off at once.
    const QDeadlineTimer deadline(m_timeoutMs);
    if (m_socket->state() != QAbstractSocket::UnconnectedState && m_errorStatus == 0)
        m_socket->disconnectFromHost();
    while (m_socket->state() != QAbstractSocket::UnconnectedState) {
        if (m_errorStatus != 0 || deadline.hasExpired() || m_total.hasExpired() ||
            (m_ended && m_ended())) {
            m_socket->abort();
            break;
        }
        pass(deadline);
    }
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
    const QDeadlineTimer deadline(m_timeoutMs);
    const QString what = QStringLiteral("sending ") + m_sending;
    if (m_errorStatus == 0 && m_socket->state() != QAbstractSocket::ConnectedState)
        SetErrorStatus(1, kConnectionReset,
                       m_connected
                           ? QStringLiteral("The server closed the connection while ") + what
                           : QStringLiteral("No connection to the server while ") + what);
    if (!stopped(what, deadline)) {
        m_socket->write(platform::toAnsi(text));
        // A long message goes out in pieces rather than piling up in memory.
        if (now || m_socket->bytesToWrite() >= kMaxQueued) {
            m_socket->flush(); // most sends leave at once, without a pass of the event loop
            waitFor([this] { return m_socket->bytesToWrite() == 0; }, what, deadline);
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
    auto complete = [&] {
        if (m_reader.takeLine(&next))
            return true;
        pull();
        if (m_reader.takeLine(&next))
            return true;
        if (m_reader.overlong())
            SetErrorStatus(1, kLineTooLong,
                           QStringLiteral("A reply line longer than %1 bytes while waiting for ")
                                   .arg(ReplyReader::kMaxLine) +
                               m_awaiting);
        return false;
    };
    if (!waitFor(complete, QStringLiteral("waiting for ") + m_awaiting, deadline))
        return;
    line = next;
    m_log += QStringLiteral("> ") + line + QStringLiteral("\r\n");
}

} // namespace mailwire
