#include "winTcpClient.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using mailwire::winTcpClient;

namespace {

// A peer whose bytes the test writes by hand, piece by piece.
class RawPeer {
public:
    RawPeer() {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            m_socket = m_server.nextPendingConnection();
            QObject::connect(m_socket, &QTcpSocket::readyRead,
                             [this] { m_received += m_socket->readAll(); });
            for (const auto& [delay, bytes] : m_script)
                writeLater(delay, bytes);
            if (m_flood > 0)
                pour();
        });
    }
    qint16 port() const { return static_cast<qint16>(m_server.serverPort()); }
    // Bytes to write delay ms after the client connects.
    void script(int delay, QByteArray bytes) { m_script.push_back({delay, std::move(bytes)}); }
    void closeLater(int delay) { m_script.push_back({delay, QByteArray("\0close", 6)}); }
    // Streams bytes as fast as the client takes them, up to total bytes.
    void flood(qint64 total) { m_flood = total; }
    QByteArray received() const { return m_received; }

private:
    // Keeps about 1 MiB queued, so the peer's own memory stays small.
    void pour() {
        static const QByteArray chunk(64 * 1024, 'x');
        while (m_socket && m_flood > 0 && m_socket->bytesToWrite() < 1024 * 1024) {
            m_socket->write(chunk);
            m_flood -= chunk.size();
        }
        if (m_socket && m_flood > 0)
            QTimer::singleShot(1, m_socket.data(), [this] { pour(); });
    }

    void writeLater(int delay, const QByteArray& bytes) {
        QPointer<QTcpSocket> s = m_socket;
        QTimer::singleShot(delay, [s, bytes] {
            if (!s)
                return;
            if (bytes == QByteArray("\0close", 6))
                s->disconnectFromHost();
            else
                s->write(bytes);
        });
    }

    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    std::vector<std::pair<int, QByteArray>> m_script;
    QByteArray m_received;
    qint64 m_flood = 0;
};

class TcpClientTest : public ::testing::Test {
protected:
    RawPeer peer;
    winTcpClient tcp;
    void SetUp() override { tcp.setTimeoutMs(3000); }
};

} // namespace

TEST_F(TcpClientTest, ALineInPiecesIsReturnedOnceWhole) {
    peer.script(0, "22");
    peer.script(40, "0 ready\r");
    peer.script(80, "\n");
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString line = QStringLiteral("unchanged");
    tcp.GetResponseOneLine(line);
    EXPECT_EQ(line, QStringLiteral("220 ready"));
    EXPECT_EQ(tcp.ErrorStatus(), 0);
    EXPECT_EQ(tcp.Log(), QStringLiteral("> 220 ready\r\n"));
}

TEST_F(TcpClientTest, TwoLinesInOneArrivalAreTakenOneByOne) {
    peer.script(0, "250-first\r\n250 second\r\npartial");
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString a, b;
    tcp.GetResponseOneLine(a);
    QElapsedTimer t;
    t.start();
    tcp.GetResponseOneLine(b);
    EXPECT_LT(t.elapsed(), 1000) << "the second line was already there";
    EXPECT_EQ(a, QStringLiteral("250-first"));
    EXPECT_EQ(b, QStringLiteral("250 second"));
}

TEST_F(TcpClientTest, OnlyCrLfEndsALineAndAStallIsBounded) {
    peer.script(0, "220 bare lf\n220 still no line");
    tcp.setTimeoutMs(400);
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString line = QStringLiteral("unchanged");
    QElapsedTimer t;
    t.start();
    tcp.GetResponseOneLine(line);
    EXPECT_GE(t.elapsed(), 350);
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_EQ(line, QStringLiteral("unchanged"));
    EXPECT_EQ(tcp.ErrorStatus(), 1);
    EXPECT_EQ(tcp.ErrorNumber(), winTcpClient::kTimedOut);
    EXPECT_TRUE(tcp.Log().startsWith(QStringLiteral("? 10060 No answer from the server")));
    EXPECT_TRUE(tcp.Log().endsWith(QStringLiteral("\r\n")));
}

TEST_F(TcpClientTest, APeerThatClosesMidLineEndsTheWaitAtOnce) {
    peer.script(0, "220 cut");
    peer.closeLater(50);
    tcp.setTimeoutMs(20000);
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString line = QStringLiteral("unchanged");
    QElapsedTimer t;
    t.start();
    tcp.GetResponseOneLine(line);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(line, QStringLiteral("unchanged"));
    EXPECT_EQ(tcp.ErrorStatus(), 1);
    EXPECT_EQ(tcp.ErrorNumber(), winTcpClient::kConnectionReset);
}

TEST_F(TcpClientTest, ALineSentBeforeTheCloseIsStillRead) {
    peer.script(0, "221 bye\r\n");
    peer.closeLater(0);
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString line;
    tcp.GetResponseOneLine(line);
    EXPECT_EQ(line, QStringLiteral("221 bye"));
    EXPECT_EQ(tcp.ErrorStatus(), 0);
}

TEST_F(TcpClientTest, ARefusedConnectionIsStickyUntilTheNextConnect) {
    quint16 closedPort;
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        closedPort = s.serverPort();
    }
    tcp.Connect(QStringLiteral("127.0.0.1"), static_cast<qint16>(closedPort));
    QString line = QStringLiteral("unchanged");
    tcp.GetResponseOneLine(line);
    EXPECT_EQ(line, QStringLiteral("unchanged"));
    EXPECT_EQ(tcp.ErrorStatus(), 1);
    EXPECT_EQ(tcp.ErrorNumber(), winTcpClient::kConnectionRefused);

    // Every later wait ends at once; a send is still written to the transcript.
    QElapsedTimer t;
    t.start();
    tcp.GetResponseOneLine(line);
    tcp.Send(QString());
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_TRUE(tcp.Log().endsWith(QStringLiteral("< ")));

    peer.script(0, "220 again\r\n");
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    EXPECT_EQ(tcp.ErrorStatus(), 0);
    EXPECT_EQ(tcp.Log(), QString());
    tcp.GetResponseOneLine(line);
    EXPECT_EQ(line, QStringLiteral("220 again"));
}

TEST_F(TcpClientTest, SendWaitsForTheBytesAndKeepsTheTranscript) {
    peer.script(0, "220 hi\r\n");
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString line;
    tcp.GetResponseOneLine(line);
    // A second Connect while connected only starts a new transcript.
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    EXPECT_EQ(tcp.Log(), QString());
    tcp.Send(QStringLiteral("HELO me\r\n"));
    tcp.Send(QString());
    EXPECT_EQ(tcp.Log(), QStringLiteral("< HELO me\r\n< "));
    tcp.DisConnect();
    tcp.DisConnect(); // closed already: nothing happens
    EXPECT_EQ(tcp.ErrorStatus(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.received() == "HELO me\r\n"; }, 3000))
        << peer.received().toStdString();
}

TEST_F(TcpClientTest, AMegabyteReplyLineArrivesWhole) {
    const QByteArray big = "250-" + QByteArray(1024 * 1024, 'x');
    peer.script(0, big + "\r\n250 OK\r\n");
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString a, b;
    tcp.GetResponseOneLine(a);
    tcp.GetResponseOneLine(b);
    EXPECT_EQ(a.size(), big.size());
    EXPECT_EQ(b, QStringLiteral("250 OK"));
}

// A reply line that never ends is cut off once it passes the cap, however
// fast it comes: the reader neither waits for the time-out nor keeps it all.
TEST_F(TcpClientTest, AnEndlessReplyLineEndsWithLineTooLong) {
    peer.flood(qint64(256) * 1024 * 1024);
    tcp.setTimeoutMs(20000);
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString line = QStringLiteral("unchanged");
    QElapsedTimer t;
    t.start();
    tcp.GetResponseOneLine(line);
    EXPECT_LT(t.elapsed(), 15000);
    EXPECT_EQ(line, QStringLiteral("unchanged"));
    EXPECT_EQ(tcp.ErrorNumber(), winTcpClient::kLineTooLong) << tcp.ErrorDescription();
}

// What a stalled server left unread belongs to that connection only.
TEST_F(TcpClientTest, ANewConnectionStartsWithNothingOfTheLastOne) {
    peer.script(0, "250 sen");
    tcp.setTimeoutMs(300);
    tcp.Connect(QStringLiteral("127.0.0.1"), peer.port());
    QString line;
    tcp.GetResponseOneLine(line);
    ASSERT_EQ(tcp.ErrorNumber(), winTcpClient::kTimedOut);
    tcp.DisConnect();

    RawPeer next;
    next.script(0, "220 fresh\r\n");
    tcp.Connect(QStringLiteral("127.0.0.1"), next.port());
    tcp.GetResponseOneLine(line);
    EXPECT_EQ(tcp.ErrorStatus(), 0) << tcp.ErrorDescription();
    EXPECT_EQ(line, QStringLiteral("220 fresh"));
}
