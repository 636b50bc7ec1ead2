#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
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
    /// Every byte the modem received, in order.
    QByteArray received() const;

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
    QByteArray m_received;
};

} // namespace testsupport
