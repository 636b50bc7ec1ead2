#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace testsupport {

/// Listens like QTcpServer; with a TLS configuration its connections are
/// QSslSockets, plain until the server starts TLS on one.
class TlsCapableServer : public QTcpServer {
public:
    QSslConfiguration tls; // null: plain QTcpSockets

protected:
    void incomingConnection(qintptr descriptor) override {
        if (tls.isNull())
            return QTcpServer::incomingConnection(descriptor);
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setSslConfiguration(tls);
        addPendingConnection(socket);
    }
};

/// An SMTP peer in the test's own thread that answers from a script, for the
/// failures a real server will not produce on demand. It serves while the
/// client under test yields to the event loop.
class ScriptedSmtp {
public:
    /// What the server does on a command (keyed by its first word, upper
    /// case, or "." for the end of the data).
    struct Action {
        QByteArray reply{};  // written as it stands (give the CR LF)
        bool close = false;  // close the connection after the reply
        bool stall = false;  // never answer
        QList<int> pieces{}; // write the reply in pieces of these sizes, 20 ms apart
        int delay = 0;       // ms before the first byte
        int every = 0;       // when > 0: write the reply again every that many ms, 100 times
    };

    explicit ScriptedSmtp(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost)) {
        m_server.listen(address);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
        on("HELO", "250 hello\r\n");
        on("EHLO", "250-scripted\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN\r\n");
        on("STARTTLS", "220 go ahead\r\n");
        on("AUTH", "235 welcome\r\n");
        on("MAIL", "250 sender ok\r\n");
        on("RCPT", "250 recipient ok\r\n");
        on("DATA", "354 go ahead\r\n");
        on(".", "250 queued\r\n");
        on("QUIT", "221 bye\r\n");
    }

    quint16 port() const { return m_server.serverPort(); }
    ScriptedSmtp& greeting(QByteArray g, QList<int> pieces = {}) {
        return greeting(Action{std::move(g), false, false, std::move(pieces)});
    }
    ScriptedSmtp& greeting(Action a) {
        m_greeting = std::move(a);
        return *this;
    }
    ScriptedSmtp& on(const QByteArray& verb, QByteArray reply) {
        m_actions[verb] = Action{std::move(reply)};
        return *this;
    }
    ScriptedSmtp& on(const QByteArray& verb, Action a) {
        m_actions[verb] = std::move(a);
        return *this;
    }
    /// Replies for the n-th (from 0) use of a verb; later uses fall back.
    ScriptedSmtp& onNth(const QByteArray& verb, int n, QByteArray reply) {
        m_nth[verb + '#' + QByteArray::number(n)] = Action{std::move(reply)};
        return *this;
    }
    /// Starts TLS with this configuration (certificate and key) after a 220
    /// reply to STARTTLS.
    ScriptedSmtp& tls(const QSslConfiguration& conf) {
        m_server.tls = conf;
        return *this;
    }
    /// Closes the connection once this many data lines have arrived.
    ScriptedSmtp& closeInData(int lines) {
        m_closeInData = lines;
        return *this;
    }

    /// Every byte the client sent, in order.
    QByteArray received() const { return m_received; }
    /// The command lines (data lines left out), without CR LF.
    QList<QByteArray> commands() const { return m_commands; }
    /// The data lines as they arrived (dot-stuffed), without CR LF.
    QList<QByteArray> dataLines() const { return m_dataLines; }
    int connections() const { return m_connections; }

private:
    void accept() {
        m_client = m_server.nextPendingConnection();
        ++m_connections;
        QObject::connect(m_client, &QTcpSocket::readyRead, [this] { read(); });
        perform(m_greeting);
    }

    void read() {
        m_pending += m_client->readAll();
        qsizetype p;
        while (m_client && (p = m_pending.indexOf("\r\n")) >= 0) {
            const QByteArray line = m_pending.left(p);
            m_received += m_pending.left(p + 2);
            m_pending.remove(0, p + 2);
            if (m_inData) {
                if (line == ".") {
                    m_inData = false;
                    m_commands << line;
                    respond(".");
                } else {
                    m_dataLines << line;
                    if (m_closeInData >= 0 && m_dataLines.size() >= m_closeInData)
                        m_client->disconnectFromHost();
                }
                continue;
            }
            m_commands << line;
            const QByteArray verb = line.split(' ').first().toUpper();
            respond(verb);
            if (verb == "DATA" && m_lastReply.startsWith("354"))
                m_inData = true;
            if (verb == "STARTTLS" && m_lastReply.startsWith("220") && !m_server.tls.isNull())
                static_cast<QSslSocket*>(m_client.data())->startServerEncryption();
        }
    }

    void respond(const QByteArray& verb) {
        const int n = m_uses[verb]++;
        const QByteArray nth = verb + '#' + QByteArray::number(n);
        const Action a = m_nth.contains(nth)        ? m_nth[nth]
                         : m_actions.contains(verb) ? m_actions[verb]
                                                    : Action{"500 unknown\r\n"};
        perform(a);
    }

    void perform(const Action& a) {
        if (a.stall || !m_client)
            return;
        m_lastReply = a.reply;
        QPointer<QTcpSocket> c = m_client;
        auto writeAt = [c](int delay, const QByteArray& bytes) {
            if (delay == 0)
                c->write(bytes);
            else
                QTimer::singleShot(delay, [c, bytes] {
                    if (c)
                        c->write(bytes);
                });
        };
        if (a.every > 0) {
            for (int i = 0; i < 100; ++i)
                writeAt(a.delay + i * a.every, a.reply);
        } else if (a.pieces.isEmpty()) {
            writeAt(a.delay, a.reply);
        } else {
            int at = 0, delay = a.delay;
            for (int size : a.pieces) {
                writeAt(delay, a.reply.mid(at, size));
                at += size;
                delay += 20;
            }
        }
        if (a.close)
            m_client->disconnectFromHost();
    }

    TlsCapableServer m_server;
    QPointer<QTcpSocket> m_client;
    Action m_greeting{"220 scripted ESMTP\r\n"};
    QHash<QByteArray, Action> m_actions;
    QHash<QByteArray, Action> m_nth;
    QHash<QByteArray, int> m_uses;
    QByteArray m_pending, m_received, m_lastReply;
    QList<QByteArray> m_commands, m_dataLines;
    bool m_inData = false;
    int m_closeInData = -1;
    int m_connections = 0;
};

} // namespace testsupport
