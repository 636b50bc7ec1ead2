#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace dialup {

/// The pppd a dial starts, a child of this process that only this object
/// signals, reads and reaps: its standard output (pppd's log until it
/// detaches) comes through a pipe. Unlike QProcess it is never killed when
/// the object goes: a pppd told to end must be left to hang up its modem
/// and remove its lock, and is reaped later.
class PppdChild {
public:
    PppdChild() = default;
    ~PppdChild();
    PppdChild(const PppdChild&) = delete;
    PppdChild& operator=(const PppdChild&) = delete;

    /// Starts program with args, its standard input /dev/null, standard
    /// error this process's; keepFd stays open in it. False when it could
    /// not be started.
    bool start(const QString& program, const QStringList& args, int keepFd);
    pid_t pid() const { return m_pid; }

    /// Takes what it wrote so far, and reaps it once it has ended; true then.
    bool finished();
    /// Once finished: whether it exited (not killed by a signal), and how.
    bool exitedNormally() const;
    int exitCode() const;
    /// What it wrote on its standard output.
    const QByteArray& output() const { return m_output; }

    /// Sends sig while it is still ours to signal (not reaped), so it can
    /// reach no other process.
    void signal(int sig);

private:
    void readOutput();

    pid_t m_pid = -1;
    int m_out = -1;
    bool m_reaped = false;
    int m_status = 0;
    QByteArray m_output;
};

} // namespace dialup
