#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <optional>
#include <mutex>
#include <thread>

namespace testsupport {

/// A virtual serial pair from socat: the program opens programSide(); a
/// scripted modem on its own thread reads commands on the other end and
/// answers them.
class VirtualModem {
public:
    /// One answer: bytes written after delayMs, in order. A piece with
    /// unplug set ends socat instead, as if the modem's USB cable were pulled.
    struct Piece {
        int delayMs;
        QByteArray bytes;
        bool unplug = false;
    };
    /// The answers to one command (the command without its CR).
    using Script = std::function<QList<Piece>(const QByteArray& command)>;

    explicit VirtualModem(Script script);
    ~VirtualModem();

    /// Why the pair could not be made ("" when it runs).
    QString failure() const { return m_failure; }
    QString programSide() const { return m_dir.filePath(QStringLiteral("ttyA")); }
    /// Every byte the modem received, in order, once at least atLeast bytes
    /// have come or 10 s have passed: the last bytes of a call may still be
    /// on their way through socat when the call returns.
    QByteArray received(qsizetype atLeast = 0) const;
    /// Sends bytes to the program side while it is closed and returns once
    /// they wait there unread (false after 10 s): an answer that came too
    /// late for the call it belonged to.
    bool leaveInLine(const QByteArray& bytes);
    /// When an unplug piece ran.
    std::optional<std::chrono::steady_clock::time_point> unpluggedAt() const;

private:
    void run();

    QTemporaryDir m_dir;
    QProcess m_socat;
    qint64 m_socatPid = 0; // signalled from the modem's thread
    QString m_failure;
    Script m_script;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    QByteArray m_received;
    std::optional<std::chrono::steady_clock::time_point> m_unpluggedAt;
};

} // namespace testsupport
