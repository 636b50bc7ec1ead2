// The library in a program that has no QCoreApplication (its own main, no
// event loop anywhere): the mail must still go, and every wait stay bounded.
#include "Mailwire.h"
#include "support/QtMessages.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

using mailwire::Mailwire;

namespace {

// An SMTP peer on a thread of its own that takes `pause` ms over every
// reply, longer than any one step of a polling wait; with `silent` it
// never answers at all.
class SlowPeer {
public:
    SlowPeer(int pause, bool silent) : m_pause(pause), m_silent(silent) {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(m_listen, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(m_listen, 1) != 0 ||
            getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~SlowPeer() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        close(m_listen);
    }
    quint16 port() const { return m_port; }

private:
    // Waits at most 10 s for bytes; false when there are none or the peer left.
    bool readSome(int fd, std::string& in) {
        pollfd p{fd, POLLIN, 0};
        for (int i = 0; i < 100 && !m_stop; ++i)
            if (poll(&p, 1, 100) > 0) {
                char buf[4096];
                const ssize_t n = read(fd, buf, sizeof buf);
                if (n <= 0)
                    return false;
                in.append(buf, static_cast<size_t>(n));
                return true;
            }
        return false;
    }
    void reply(int fd, const char* text) {
        std::this_thread::sleep_for(std::chrono::milliseconds(m_pause));
        if (!m_silent)
            (void)!write(fd, text, strlen(text));
    }
    void serve() {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            return;
        const int fd = accept(m_listen, nullptr, nullptr);
        reply(fd, "220 slow\r\n");
        std::string in;
        bool data = false;
        while (!m_stop && readSome(fd, in)) {
            for (size_t e; (e = in.find("\r\n")) != std::string::npos; in.erase(0, e + 2)) {
                const std::string line = in.substr(0, e);
                if (data && line != ".")
                    continue;
                data = line == "DATA";
                reply(fd, data                         ? "354 go on\r\n"
                          : line.rfind("QUIT", 0) == 0 ? "221 bye\r\n"
                                                       : "250 ok\r\n");
            }
        }
        close(fd);
    }

    int m_pause;
    bool m_silent;
    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

TEST(NoApplication, AMailGoesAndEveryWaitIsBounded) {
    const struct {
        const char* name;
        int pause;
        bool silent;
        const char* host;
        QString error; // how ErrorMessage starts
    } cases[] = {
        {"a slow server", 250, false, "127.0.0.1", QString()},
        {"a server by its name", 0, false, "localhost", QString()},
        {"a silent server", 0, true, "127.0.0.1", QStringLiteral("??? 10060 ")},
    };
    // Nothing of Qt's may land on standard error: a script's cron job
    // mails it.
    testsupport::QtMessages qtMessages;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SlowPeer peer(c.pause, c.silent);
        ASSERT_NE(peer.port(), 0);
        Mailwire m;
        m.setServerName(QLatin1String(c.host));
        m.setServerPort(static_cast<qint16>(peer.port()));
        m.setTimeoutMs(1000);
        m.SetReversePath(QStringLiteral("w@x"));
        m.SetForwardPath(QStringLiteral("r@x"));
        m.SetData(QStringLiteral("Subject: t\r\n\r\nbody"));
        QElapsedTimer t;
        t.start();
        m.Send();
        EXPECT_LT(t.elapsed(), 8000);
        if (c.error.isEmpty())
            EXPECT_TRUE(m.ErrorMessage().isEmpty()) << m.ErrorMessage().toStdString() << "\n"
                                                    << m.Log().toStdString();
        else
            EXPECT_TRUE(m.ErrorMessage().startsWith(c.error)) << m.ErrorMessage().toStdString();
        EXPECT_EQ(qtMessages.text().toStdString(), "");
    }
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
