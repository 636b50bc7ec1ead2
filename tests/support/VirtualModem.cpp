#include "support/VirtualModem.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

VirtualModem::VirtualModem(Script script) : m_script(std::move(script)) {
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty()) {
        m_failure = QStringLiteral("socat is not installed");
        return;
    }
    const QString a = m_dir.filePath(QStringLiteral("ttyA"));
    const QString b = m_dir.filePath(QStringLiteral("ttyB"));
    m_socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + a,
                                            QStringLiteral("pty,raw,echo=0,link=") + b});
    m_socatPid = m_socat.processId();
    QElapsedTimer t;
    t.start();
    while (!(QFileInfo::exists(a) && QFileInfo::exists(b)) && t.elapsed() < 5000)
        QThread::msleep(20);
    if (!QFileInfo::exists(b)) {
        m_failure = QStringLiteral("socat made no serial pair: ") +
                    QString::fromLocal8Bit(m_socat.readAllStandardError());
        return;
    }
    m_fd = ::open(QFile::encodeName(b).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        m_failure = QStringLiteral("cannot open the modem side");
        return;
    }
    termios tio{};
    tcgetattr(m_fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_fd, TCSANOW, &tio);
    m_thread = std::thread([this] { run(); });
}

VirtualModem::~VirtualModem() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
    m_socat.kill();
    m_socat.waitForFinished(2000);
}

QByteArray VirtualModem::received(qsizetype atLeast) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::seconds(10),
                       [&] { return m_received.size() >= atLeast; });
    return m_received;
}

bool VirtualModem::leaveInLine(const QByteArray& bytes) {
    if (::write(m_fd, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size())
        return false;
    // Opening the program side without reading leaves its input as it is.
    const QByteArray path = QFile::encodeName(programSide());
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        int waiting = 0;
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            ::ioctl(fd, FIONREAD, &waiting);
            ::close(fd);
        }
        if (waiting >= bytes.size())
            return true;
        QThread::msleep(10);
    }
    return false;
}

std::optional<std::chrono::steady_clock::time_point> VirtualModem::unpluggedAt() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unpluggedAt;
}

void VirtualModem::run() {
    QByteArray line;
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
            continue;
        char buf[256];
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0) {
            QThread::msleep(10); // the program side is closed: wait for the next opening
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.append(buf, n);
        }
        m_arrived.notify_all();
        line.append(buf, n);
        qsizetype cr;
        while ((cr = line.indexOf('\r')) >= 0) {
            const QByteArray command = line.left(cr);
            line.remove(0, cr + 1);
            for (const Piece& piece : m_script(command)) {
                for (int waited = 0; waited < piece.delayMs && !m_stop; waited += 10)
                    QThread::msleep(10);
                if (piece.unplug) {
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_unpluggedAt = std::chrono::steady_clock::now();
                    }
                    ::kill(static_cast<pid_t>(m_socatPid), SIGKILL);
                    continue;
                }
                (void)!::write(m_fd, piece.bytes.constData(),
                               static_cast<size_t>(piece.bytes.size()));
            }
        }
    }
}

} // namespace testsupport
