#include "dialup/PppdChild.h"

#include <QFile>

#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace dialup {
namespace {

// Children left running when their object went (a dial abandoned at the
// program's end, its pppd told to end): reaped as soon as they have ended.
std::mutex g_leftLock;
std::vector<pid_t> g_left;

void reapLeft() {
    const std::lock_guard<std::mutex> guard(g_leftLock);
    std::erase_if(g_left, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

// The pipe a log of any length drains into without ever blocking pppd.
constexpr qsizetype kMaxOutput = 64 * 1024;

} // namespace

PppdChild::~PppdChild() {
    if (m_out >= 0)
        ::close(m_out);
    if (m_pid > 0 && !m_reaped && ::waitpid(m_pid, nullptr, WNOHANG) == 0) {
        const std::lock_guard<std::mutex> guard(g_leftLock);
        g_left.push_back(m_pid);
    }
}

bool PppdChild::start(const QString& program, const QStringList& args, int keepFd) {
    reapLeft();
    int out[2];
    if (::pipe2(out, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> words{path};
    for (const QString& a : args)
        words.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, keepFd, keepFd); // clears its close-on-exec
    // pppd's own signal handling starts from a clean mask and defaults.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.constData(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return false;
    }
    m_pid = pid;
    m_out = out[0];
    return true;
}

void PppdChild::readOutput() {
    char buffer[4096];
    ssize_t n;
    while (m_out >= 0 && (n = ::read(m_out, buffer, sizeof buffer)) > 0)
        if (m_output.size() < kMaxOutput)
            m_output.append(buffer, n);
}

bool PppdChild::finished() {
    readOutput();
    if (m_pid <= 0 || m_reaped)
        return true;
    if (::waitpid(m_pid, &m_status, WNOHANG) != m_pid)
        return false;
    m_reaped = true;
    readOutput(); // all it wrote before it ended is in the pipe now
    return true;
}

bool PppdChild::exitedNormally() const {
    return m_reaped && WIFEXITED(m_status);
}

int PppdChild::exitCode() const {
    return exitedNormally() ? WEXITSTATUS(m_status) : -1;
}

void PppdChild::signal(int sig) {
    // An unreaped child keeps its pid, so the signal reaches it or nothing.
    if (m_pid > 0 && !m_reaped)
        ::kill(m_pid, sig);
}

} // namespace dialup
