#include "platform/QuitSignals.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

int g_pipe[2] = {-1, -1};

extern "C" void handleQuitSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &c, 1);
}

class QuitRequests : public QObject {
public:
    QuitRequests(QCoreApplication& app, std::function<void()> onQuit)
        : m_app(app), m_onQuit(std::move(onQuit)) {
        m_app.installEventFilter(this);
        if (g_pipe[0] < 0)
            return;
        auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this](QSocketDescriptor) {
            char buffer[16];
            while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
            }
            m_onQuit();
        });
    }
    ~QuitRequests() override { m_app.removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &m_app || event->type() != QEvent::Quit)
            return false;
        event->accept();
        m_onQuit();
        return true;
    }

private:
    QCoreApplication& m_app;
    std::function<void()> m_onQuit;
};

} // namespace

void endWithin(int ms) {
    std::thread([ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::_Exit(0);
    }).detach();
}

std::unique_ptr<QObject> onQuitRequests(QCoreApplication& app, std::function<void()> onQuit) {
    if (g_pipe[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0)
            g_pipe[0] = g_pipe[1] = -1;
        struct sigaction sa {};
        sa.sa_handler = handleQuitSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        if (g_pipe[0] >= 0)
            for (int sig : {SIGTERM, SIGINT, SIGHUP})
                ::sigaction(sig, &sa, nullptr);
    }
    return std::make_unique<QuitRequests>(app, std::move(onQuit));
}

} // namespace platform
