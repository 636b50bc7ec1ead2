#include "Mailwire.h"
#include "ServiceHostName.h"
#include "ServiceLog.h"
#include "support/QtMessages.h"
#include "support/ScriptedSmtp.h"
#include "support/SmtpSink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryFile>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <functional>
#include <limits>
#include <thread>

using mailwire::Mailwire;
using mailwire::winTcpClient;
using testsupport::ScriptedSmtp;

namespace {

void aim(Mailwire& m, const ScriptedSmtp& server) {
    m.setServerName(QStringLiteral("127.0.0.1"));
    m.setServerPort(static_cast<qint16>(server.port()));
    m.SetReversePath(QStringLiteral("w@x"));
}

double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

class MailwireTest : public ::testing::Test {
protected:
    testsupport::QtMessages qtMessages;
    ScriptedSmtp server;
    Mailwire smtp;

    // Whatever a test does, the library prints nothing of its own.
    void TearDown() override { EXPECT_EQ(qtMessages.text(), QString()); }

    void SetUp() override {
        mailwire::LogClear();
        smtp.setServerName(QStringLiteral("127.0.0.1"));
        smtp.setServerPort(static_cast<qint16>(server.port()));
        smtp.setTimeoutMs(3000);
        smtp.SetReversePath(QStringLiteral("watch@example.jp"));
    }

    QList<QByteArray> verbs() const {
        QList<QByteArray> v;
        for (const QByteArray& c : server.commands())
            v << c.split(' ').first();
        return v;
    }
};

using Verbs = QList<QByteArray>;

} // namespace

TEST_F(MailwireTest, AWholeDialogueWithAMultiLineGreeting) {
    server.greeting("220-first\r\n220-second\r\n220 ready\r\n");
    smtp.setClientName(QStringLiteral("pw.example.jp"));
    smtp.SetForwardPath(QStringLiteral("a@example.jp"));
    smtp.SetForwardPath(QStringLiteral("a@example.jp")); // duplicates are kept
    smtp.SetData(QStringLiteral("Subject: x\r\n\r\nline 1\r\n.hidden\r\n.\r\nlast"));

    smtp.Send();

    EXPECT_EQ(smtp.ErrorMessage(), QString());
    EXPECT_EQ(server.commands(),
              (QList<QByteArray>{"HELO pw.example.jp", "MAIL FROM:<watch@example.jp>",
                                 "RCPT TO:<a@example.jp>", "RCPT TO:<a@example.jp>", "DATA", ".",
                                 "QUIT"}));
    EXPECT_EQ(server.dataLines(),
              (QList<QByteArray>{"Subject: x", "", "line 1", "..hidden", "..", "last"}));
    EXPECT_EQ(smtp.Log(), QStringLiteral("> 220-first\r\n> 220-second\r\n> 220 ready\r\n"
                                         "< HELO pw.example.jp\r\n> 250 hello\r\n"
                                         "< MAIL FROM:<watch@example.jp>\r\n> 250 sender ok\r\n"
                                         "< RCPT TO:<a@example.jp>\r\n> 250 recipient ok\r\n"
                                         "< RCPT TO:<a@example.jp>\r\n> 250 recipient ok\r\n"
                                         "< DATA\r\n> 354 go ahead\r\n"
                                         "< Subject: x\r\n< \r\n< line 1\r\n< ..hidden\r\n"
                                         "< ..\r\n< last\r\n"
                                         "< .\r\n> 250 queued\r\n< QUIT\r\n> 221 bye\r\n"));
    EXPECT_EQ(mailwire::LogText(), QString());
}

TEST_F(MailwireTest, NoDataAndNoRecipientsStillMakeADialogue) {
    smtp.Send();
    EXPECT_EQ(verbs(), (Verbs{"HELO", "MAIL", "DATA", ".", "QUIT"}));
    EXPECT_EQ(server.dataLines(), (QList<QByteArray>{""}));
    EXPECT_EQ(smtp.ErrorMessage(), QString());
}

TEST_F(MailwireTest, BareLineEndsInTheDataGoOutAsCrLf) {
    smtp.SetData(QStringLiteral("one\ntwo\rthree\r\n.\n"));
    smtp.Send();
    // The CR LF that SetData adds after the last bare LF makes an empty line.
    EXPECT_EQ(server.dataLines(), (QList<QByteArray>{"one", "two", "three", "..", ""}));
    EXPECT_FALSE(server.received().contains("two\rthree"));
}

TEST_F(MailwireTest, Recipients25xAreAcceptedAndTheFirstRefusalEndsTheList) {
    server.onNth("RCPT", 1, "251 will forward\r\n");
    server.onNth("RCPT", 2, "252 cannot verify\r\n");
    server.onNth("RCPT", 3, "550 no such user\r\n");
    for (const char* a : {"a@x", "b@x", "c@x", "d@x", "e@x"})
        smtp.SetForwardPath(QLatin1String(a));

    smtp.Send();

    EXPECT_EQ(smtp.ErrorMessage(),
              QStringLiteral("550 SMTP Defined Error: 9004 (server said: 550 no such user)"));
    EXPECT_EQ(verbs(), (Verbs{"HELO", "MAIL", "RCPT", "RCPT", "RCPT", "RCPT", "QUIT"}));
    EXPECT_EQ(mailwire::LogText(),
              QStringLiteral("--Mailwire Send -- Error:9004 SMTP CODE NOT 25x to RCPT TO:\r\n"));
}

TEST_F(MailwireTest, EachRefusedStepHasItsNumberAndStillQuits) {
    struct Case {
        QByteArray verb, reply;
        QString message;
        Verbs sent;
    };
    const Case cases[] = {
        {"HELO",
         "501 bad name\r\n",
         QStringLiteral("501 SMTP Defined Error: 9002 (server said: 501 bad name)"),
         {"HELO", "QUIT"}},
        {"MAIL",
         "553 bad sender\r\n",
         QStringLiteral("553 SMTP Defined Error: 9003 (server said: 553 bad sender)"),
         {"HELO", "MAIL", "QUIT"}},
        {"DATA",
         "554 no data for you\r\n",
         QStringLiteral("554 SMTP Defined Error: 9005 (server said: 554 no data for you)"),
         {"HELO", "MAIL", "RCPT", "DATA", "QUIT"}},
        {".",
         "552 too big\r\n",
         QStringLiteral("552 SMTP Defined Error: 9005 (server said: 552 too big)"),
         {"HELO", "MAIL", "RCPT", "DATA", ".", "QUIT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verb.constData());
        ScriptedSmtp s;
        s.on(c.verb, c.reply);
        Mailwire m;
        aim(m, s);
        m.SetForwardPath(QStringLiteral("r@x"));
        m.Send();
        EXPECT_EQ(m.ErrorMessage(), c.message);
        Verbs sent;
        for (const QByteArray& cmd : s.commands())
            sent << cmd.split(' ').first();
        EXPECT_EQ(sent, c.sent);
    }
}

TEST_F(MailwireTest, AGreetingOtherThan220IsRefusedAndQuit) {
    server.greeting("554 go away\r\n");
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(),
              QStringLiteral("554 SMTP Defined Error: 9001 (server said: 554 go away)"));
    EXPECT_EQ(verbs(), (Verbs{"QUIT"}));
}

TEST_F(MailwireTest, AQuitNot221IsSentTwiceAndThenNamedAFailure) {
    server.on("QUIT", "500 what\r\n");
    smtp.SetForwardPath(QStringLiteral("r@x"));
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(), QStringLiteral("QUIT & Disconnect Failure / 500 SMTP Defined "
                                                  "Error: 9006 (server said: 500 what)"));
    EXPECT_EQ(verbs(), (Verbs{"HELO", "MAIL", "RCPT", "DATA", ".", "QUIT", "QUIT"}));
    EXPECT_EQ(mailwire::LogText(),
              QStringLiteral("--Mailwire Send -- Error:9006 SMTP CODE NOT 221 to QUIT\r\n"
                             "--Mailwire Send -- Error:9006 SMTP CODE NOT 221 to QUIT\r\n"));
}

TEST_F(MailwireTest, ASecondQuitThatSucceedsLeavesTheFirstRefusal) {
    server.onNth("QUIT", 0, "451 later\r\n");
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(),
              QStringLiteral("451 SMTP Defined Error: 9006 (server said: 451 later)"));
}

TEST_F(MailwireTest, ARefusedConnectionIsATransportFailure) {
    quint16 closedPort;
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        closedPort = s.serverPort();
    }
    // Whatever the security mode: no TLS handshake was ever begun.
    for (const qint16 mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        mailwire::LogClear();
        smtp.setServerPort(static_cast<qint16>(closedPort));
        smtp.setSecurityMode(mode);
        smtp.Send();
        EXPECT_TRUE(smtp.ErrorMessage().startsWith(QStringLiteral("??? 10061 ")))
            << smtp.ErrorMessage();
        EXPECT_EQ(mailwire::LogText(),
                  QStringLiteral("--Mailwire Send -- Error:9001 SMTP CODE 220 to Connection\r\n"));
    }
}

TEST_F(MailwireTest, AServerThatStallsMidLineTimesOut) {
    server.on("MAIL", ScriptedSmtp::Action{"250 sen", false, false, {7}});
    smtp.setTimeoutMs(500);
    QElapsedTimer t;
    t.start();
    smtp.Send();
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(smtp.ErrorMessage().startsWith(QStringLiteral("??? 10060 ")))
        << smtp.ErrorMessage();
    EXPECT_TRUE(smtp.ErrorMessage().endsWith(QStringLiteral("the reply to MAIL FROM")))
        << smtp.ErrorMessage();
    // The stall poisons the rest of the dialogue: nothing after MAIL FROM.
    EXPECT_EQ(verbs(), (Verbs{"HELO", "MAIL"}));

    // The same object sends again to a server that answers.
    ScriptedSmtp next;
    aim(smtp, next);
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(), QString());
}

TEST_F(MailwireTest, AServerThatClosesMidDataIsATransportFailure) {
    server.closeInData(2);
    smtp.SetForwardPath(QStringLiteral("r@x"));
    for (int i = 0; i < 2000; ++i)
        smtp.SetData(QStringLiteral("line %1 of a long alert").arg(i));
    QElapsedTimer t;
    t.start();
    smtp.Send();
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(smtp.ErrorMessage().startsWith(QStringLiteral("??? 10054 ")))
        << smtp.ErrorMessage();
    // The step that failed, not the connection that stood all along.
    EXPECT_TRUE(smtp.ErrorMessage().contains(QStringLiteral(" the message")))
        << smtp.ErrorMessage();
    EXPECT_FALSE(smtp.ErrorMessage().contains(QStringLiteral("for the connection")));
}

// Host names go through the library's own lookup, addresses of both
// families straight to the connection.
TEST_F(MailwireTest, NamesAndAddressesOfEitherFamilyAreReached) {
    const struct {
        const char* name;
        QHostAddress listen;
    } cases[] = {
        {"localhost", QHostAddress(QHostAddress::LocalHost)},
        {"127.0.0.1", QHostAddress(QHostAddress::LocalHost)},
        {"::1", QHostAddress(QHostAddress::LocalHostIPv6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSmtp s(c.listen);
        ASSERT_NE(s.port(), 0);
        Mailwire m;
        aim(m, s);
        m.setServerName(QLatin1String(c.name));
        m.setTimeoutMs(5000);
        m.Send();
        EXPECT_EQ(m.ErrorMessage(), QString());
        EXPECT_EQ(s.commands().value(0).left(4), "HELO");
    }
}

TEST_F(MailwireTest, RepliesInPiecesAndMegabyteLinesAreRead) {
    server.greeting("220 in pieces\r\n", {2, 5, 7, 1});
    server.on("HELO", "250-" + QByteArray(1024 * 1024, 'h') + "\r\n250 ok\r\n");
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(), QString());
    EXPECT_TRUE(smtp.Log().startsWith(QStringLiteral("> 220 in pieces\r\n")));
}

// A line break would add SMTP commands of the sender's choosing; a NUL or an
// 8-bit character has no place in a 7-bit dialogue.
TEST_F(MailwireTest, UnsafeEnvelopeValuesAndDataAreRefusedBeforeConnecting) {
    const QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b@x");
    const struct {
        std::function<void(Mailwire&)> set;
        const char* named;
    } cases[] = {
        {[](Mailwire& m) { m.SetForwardPath(QStringLiteral("victim@x>\r\nRCPT TO:<spam@y")); },
         "recipient address"},
        {[](Mailwire& m) { m.setClientName(QStringLiteral("me\nMAIL FROM:<x>")); }, "HELO"},
        {[&](Mailwire& m) { m.SetReversePath(nul); }, "MAIL FROM"},
        {[](Mailwire& m) { m.SetForwardPath(QStringLiteral("宛先@example.jp")); },
         "recipient address"},
        {[&](Mailwire& m) { m.SetData(nul); }, "message text"},
        {[](Mailwire& m) { m.SetData(QStringLiteral("Subject: caf\u00e9")); }, "message text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        mailwire::LogClear();
        Mailwire m;
        aim(m, server);
        c.set(m);
        m.Send();
        EXPECT_TRUE(m.ErrorMessage().contains(QLatin1String(c.named))) << m.ErrorMessage();
        EXPECT_TRUE(m.ErrorMessage().startsWith(QStringLiteral("+++ 9007 "))) << m.ErrorMessage();
        EXPECT_TRUE(
            mailwire::LogText().startsWith(QStringLiteral("--Mailwire Send -- Error:9007 ")));
    }
    EXPECT_EQ(server.connections(), 0);
}

// A peer that never ends its reply, line by line or all at once, cannot
// hold the dialogue: the whole reply shares one time-out and has a line cap.
TEST_F(MailwireTest, AReplyThatNeverEndsIsCutOff) {
    const struct {
        const char* name;
        ScriptedSmtp::Action greeting;
        int number;
    } cases[] = {
        {"a line every 100 ms",
         {.reply = "220-still there\r\n", .every = 100},
         winTcpClient::kTimedOut},
        {"a flood",
         {.reply = QByteArray("220-more\r\n").repeated(5000)},
         winTcpClient::kLineTooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSmtp s;
        s.greeting(c.greeting);
        Mailwire m;
        aim(m, s);
        m.setTimeoutMs(600);
        QElapsedTimer t;
        t.start();
        m.Send();
        EXPECT_LT(t.elapsed(), 3000);
        EXPECT_TRUE(m.ErrorMessage().startsWith(QStringLiteral("??? %1 ").arg(c.number)))
            << m.ErrorMessage();
        EXPECT_LE(m.Log().count(QStringLiteral("\r\n")), 1010);
    }
}

// The tray's quit, or SIGTERM, may come while a mail is on its way: the
// waits stay idle and go on reading the server.
TEST_F(MailwireTest, APendingQuitNeitherSpinsNorStopsTheDialogue) {
    server.greeting({.reply = "220 late\r\n", .delay = 1000});
    smtp.SetForwardPath(QStringLiteral("r@x"));
    double cpu = 0;
    qint64 wall = 0;
    QTimer::singleShot(0, [&] {
        QCoreApplication::quit();
        const double before = cpuMs();
        QElapsedTimer t;
        t.start();
        smtp.Send();
        cpu = cpuMs() - before;
        wall = t.elapsed();
    });
    QCoreApplication::exec();
    EXPECT_EQ(smtp.ErrorMessage(), QString());
    EXPECT_GE(wall, 950);
    EXPECT_LT(cpu, wall / 10.0) << cpu << " ms of CPU in " << wall << " ms";
}

TEST_F(MailwireTest, ATimeOutOfZeroOrLessMeansTheDefault) {
    for (int ms : {0, -1, std::numeric_limits<int>::min()}) {
        SCOPED_TRACE(ms);
        ScriptedSmtp s;
        s.greeting({.reply = "220 after a while\r\n", .delay = 150});
        Mailwire m;
        aim(m, s);
        m.setTimeoutMs(ms);
        EXPECT_EQ(m.TimeoutMs(), winTcpClient::kDefaultTimeoutMs);
        QElapsedTimer t;
        t.start();
        m.Send();
        EXPECT_EQ(m.ErrorMessage(), QString());
        EXPECT_LT(t.elapsed(), 5000);
    }
}

// The dialogue of a submission relay against a scripted server: each
// refusal has its number and says which, QUIT follows where the connection
// allows, and the password shows nowhere.
TEST_F(MailwireTest, TheSubmissionDialogueStepByStep) {
    const QString folder = testsupport::testCertificates();
    ASSERT_FALSE(folder.isEmpty()) << "openssl could not make the test certificates";
    const QString password = QStringLiteral("pw-パス");
    const QByteArray user64 = QByteArray("alerts@example.jp").toBase64();
    const QByteArray password64 = password.toUtf8().toBase64();
    const QByteArray nul(1, '\0');
    const QByteArray plainBlob =
        (nul + QByteArray("alerts@example.jp") + nul + password.toUtf8()).toBase64();
    using Script = std::function<void(ScriptedSmtp&)>;
    const Script none = [](ScriptedSmtp&) {};
    const struct {
        const char* name;
        qint16 mode;
        Script script;
        QString error; // how ErrorMessage begins ("" when sent)
        Verbs sent;
        const char* logged = ""; // in the transcript
    } cases[] = {
        {"login in clear, PLAIN",
         0,
         none,
         "",
         {"EHLO", "AUTH", "MAIL", "RCPT", "DATA", ".", "QUIT"},
         "< AUTH PLAIN ****\r\n> 235"},
        {"LOGIN where only it is offered",
         0,
         [&](ScriptedSmtp& s) {
             s.on("EHLO", "250-x\r\n250 AUTH=LOGIN\r\n");
             s.on("AUTH", "334 VXNlcm5hbWU6\r\n");
             s.on(user64.toUpper(), "334 UGFzc3dvcmQ6\r\n");
             s.on(password64.toUpper(), "235 ok\r\n");
         },
         "",
         {"EHLO", "AUTH", user64, password64, "MAIL", "RCPT", "DATA", ".", "QUIT"},
         "< ****\r\n> 235 ok"},
        {"no AUTH offered",
         0,
         [](ScriptedSmtp& s) { s.on("EHLO", "250 x\r\n"); },
         "250 SMTP Defined Error: 9012 No login possible",
         {"EHLO", "QUIT"}},
        {"wrong password",
         0,
         [](ScriptedSmtp& s) { s.on("AUTH", "535 5.7.8 no\r\n"); },
         "535 SMTP Defined Error: 9012 Login refused (AUTH PLAIN)",
         {"EHLO", "AUTH", "QUIT"}},
        {"EHLO refused",
         0,
         [](ScriptedSmtp& s) { s.on("EHLO", "500 what\r\n"); },
         "500 SMTP Defined Error: 9002",
         {"EHLO", "QUIT"}},
        {"STARTTLS not offered",
         1,
         [](ScriptedSmtp& s) { s.on("EHLO", "250-x\r\n250 AUTH PLAIN\r\n"); },
         "250 SMTP Defined Error: 9011 STARTTLS not offered",
         {"EHLO", "QUIT"}},
        {"STARTTLS refused",
         1,
         [](ScriptedSmtp& s) { s.on("STARTTLS", "454 not now\r\n"); },
         "454 SMTP Defined Error: 9011 STARTTLS refused",
         {"EHLO", "STARTTLS", "QUIT"}},
        {"a go-ahead without TLS behind it",
         1,
         none,
         "??? 9009 TLS handshake failed: ",
         {"EHLO", "STARTTLS"}},
        // Replies that ride along with the go-ahead came in clear: they must
        // not be read as the answers under TLS.
        {"injected replies after STARTTLS",
         1,
         [](ScriptedSmtp& s) {
             s.tls(testsupport::serverTls());
             s.on("STARTTLS", "220 go ahead\r\n554 injected\r\n");
         },
         "",
         {"EHLO", "STARTTLS", "EHLO", "AUTH", "MAIL", "RCPT", "DATA", ".", "QUIT"},
         "< STARTTLS\r\n> 220 go ahead\r\n< EHLO"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mailwire::LogClear();
        ScriptedSmtp s;
        c.script(s);
        Mailwire m;
        aim(m, s);
        m.setServerName(QStringLiteral("localhost"));
        m.setTimeoutMs(1000);
        m.setSecurityMode(c.mode);
        m.setUserName(QStringLiteral("alerts@example.jp"));
        m.setPassword(password);
        m.setCaFile(folder + QStringLiteral("/ca.pem"));
        m.SetForwardPath(QStringLiteral("ops@example.jp"));
        m.Send();
        if (c.error.isEmpty())
            EXPECT_EQ(m.ErrorMessage(), QString());
        else
            EXPECT_TRUE(m.ErrorMessage().startsWith(c.error)) << m.ErrorMessage();
        Verbs sent;
        for (const QByteArray& cmd : s.commands())
            sent << cmd.split(' ').first();
        EXPECT_EQ(sent, c.sent);
        EXPECT_TRUE(m.Log().contains(QLatin1String(c.logged))) << m.Log();
        EXPECT_FALSE(m.Log().contains(QLatin1String("injected")));
        for (const QString& secret :
             {password, QString::fromLatin1(password64), QString::fromLatin1(plainBlob)})
            EXPECT_FALSE((m.Log() + mailwire::LogText() + m.ErrorMessage()).contains(secret));
    }
}

TEST_F(MailwireTest, RelaySettingsThatCannotWorkAreRefusedBeforeConnecting) {
    const struct {
        qint16 mode;
        QString password, caFile, reason;
    } cases[] = {
        {3, {}, {}, QStringLiteral("Unknown security mode 3")},
        {-1, {}, {}, QStringLiteral("Unknown security mode -1")},
        {0, QStringLiteral("a") + QChar(0) + QStringLiteral("b"), {}, QStringLiteral("NUL")},
        {1, {}, QString::fromUtf8(__FILE__), QStringLiteral("No CA certificate")},
        {2, {}, QStringLiteral("/nonexistent/ca.pem"), QStringLiteral("No CA certificate")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason.toStdString());
        Mailwire m;
        aim(m, server);
        m.setSecurityMode(c.mode);
        m.setUserName(QStringLiteral("u"));
        m.setPassword(c.password);
        m.setCaFile(c.caFile);
        m.Send();
        EXPECT_TRUE(m.ErrorMessage().startsWith(QStringLiteral("+++ 9007 ") + c.reason))
            << m.ErrorMessage();
    }
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(MailwireTest, DefaultsAndTheSharedLogPerThread) {
    Mailwire fresh;
    EXPECT_EQ(fresh.ServerName(), QStringLiteral("domain.name"));
    EXPECT_EQ(fresh.ServerPort(), 25);
    EXPECT_EQ(fresh.ClientName(), QString()); // this machine's name, found when sending
    EXPECT_EQ(fresh.SecurityMode(), 0);
    EXPECT_EQ(fresh.UserName(), QString());
    EXPECT_EQ(fresh.CaFile(), QString());
    mailwire::AddLog(QStringLiteral("x"));
    QString seenThere;
    std::thread([&] {
        mailwire::AddLog(QStringLiteral("y"));
        seenThere = mailwire::LogText();
        mailwire::LogClear();
    }).join();
    EXPECT_EQ(seenThere, QStringLiteral("y\r\n"));
    EXPECT_EQ(mailwire::LogText(), QStringLiteral("x\r\n"));
    fresh.LogClear();
    EXPECT_EQ(mailwire::LogText(), QString());
}

// Each way a send can end has its class, the one mail tools give the same
// server, so a script can tell "try again later" from "fix the settings".
TEST_F(MailwireTest, EachEndingHasItsOutcomeClass) {
    using Script = std::function<void(ScriptedSmtp&)>;
    const struct {
        const char* name;
        Script script;
        int outcome;
    } cases[] = {
        {"sent", [](ScriptedSmtp&) {}, kMailwireSent},
        {"421 to QUIT after the message", [](ScriptedSmtp& s) { s.on("QUIT", "421 closing\r\n"); },
         kMailwireSent},
        {"421 greeting", [](ScriptedSmtp& s) { s.greeting("421 busy\r\n"); }, kMailwireProtocol},
        {"501 to HELO", [](ScriptedSmtp& s) { s.on("HELO", "501 no\r\n"); }, kMailwireProtocol},
        {"553 to MAIL FROM", [](ScriptedSmtp& s) { s.on("MAIL", "553 5.1.0 bad\r\n"); },
         kMailwireDataError},
        {"450 to RCPT", [](ScriptedSmtp& s) { s.on("RCPT", "450 busy\r\n"); },
         kMailwireUnavailable},
        {"550 to RCPT", [](ScriptedSmtp& s) { s.on("RCPT", "550 no\r\n"); }, kMailwireDataError},
        {"451 to DATA", [](ScriptedSmtp& s) { s.on("DATA", "451 later\r\n"); },
         kMailwireUnavailable},
        {"554 after the data", [](ScriptedSmtp& s) { s.on(".", "554 spam\r\n"); },
         kMailwireUnavailable},
        {"closed in the data", [](ScriptedSmtp& s) { s.closeInData(1); }, kMailwireProtocol},
        {"silent to RCPT", [](ScriptedSmtp& s) { s.on("RCPT", {.stall = true}); },
         kMailwireIoError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSmtp s;
        c.script(s);
        Mailwire m;
        aim(m, s);
        m.setTimeoutMs(500);
        m.SetForwardPath(QStringLiteral("r@x"));
        m.Send();
        EXPECT_EQ(m.Outcome(), c.outcome) << m.ErrorMessage().toStdString();
    }
    quint16 closedPort;
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        closedPort = s.serverPort();
    }
    smtp.setServerPort(static_cast<qint16>(closedPort));
    smtp.Send();
    EXPECT_EQ(smtp.Outcome(), kMailwireTempFail);
    // RFC 6761: no DNS server knows .invalid.
    smtp.setServerName(QStringLiteral("no-such-relay.invalid"));
    smtp.Send();
    EXPECT_EQ(smtp.Outcome(), kMailwireNoHost) << smtp.ErrorMessage().toStdString();
    EXPECT_TRUE(
        smtp.ErrorMessage().startsWith(QStringLiteral("??? 11001 Host no-such-relay.invalid")));
}

// A relay that takes the connection and never greets holds the send only
// as long as its total bound, whatever the wait for each reply.
TEST_F(MailwireTest, TheTotalBoundEndsASendThatNeverGetsAGreeting) {
    server.greeting({.stall = true});
    smtp.setTimeoutMs(60000);
    smtp.setTotalTimeoutMs(2000);
    EXPECT_EQ(smtp.TotalTimeoutMs(), 2000);
    QElapsedTimer t;
    t.start();
    smtp.Send();
    EXPECT_GE(t.elapsed(), 1900);
    EXPECT_LT(t.elapsed(), 6000);
    EXPECT_TRUE(smtp.ErrorMessage().startsWith(
        QStringLiteral("??? 10060 The send took its whole bound of 2000 ms; it ended while "
                       "waiting for the greeting")))
        << smtp.ErrorMessage();
    EXPECT_EQ(smtp.Outcome(), kMailwireIoError);
    smtp.setTotalTimeoutMs(-5);
    EXPECT_EQ(smtp.TotalTimeoutMs(), 0);
}

namespace {
bool endAsked(void* flag) {
    return *static_cast<bool*>(flag);
}
} // namespace

// The program's quit handler runs inside the waits' yields: an end asked
// for there ends the send at once, and nothing more goes to the server.
TEST_F(MailwireTest, AnEndAskedForDuringAWaitEndsTheSendAtOnce) {
    server.on("RCPT", {.stall = true});
    smtp.SetForwardPath(QStringLiteral("r@x"));
    bool ended = false;
    smtp.setEndHook(endAsked, &ended);
    QElapsedTimer sinceEnd;
    QTimer::singleShot(300, [&] {
        ended = true;
        sinceEnd.start();
    });
    smtp.Send();
    ASSERT_TRUE(sinceEnd.isValid());
    EXPECT_LT(sinceEnd.elapsed(), 1000); // about 100 ms on an idle machine
    EXPECT_EQ(
        smtp.ErrorMessage(),
        QStringLiteral("??? 9013 Ended by the program while waiting for the reply to RCPT TO"));
    EXPECT_EQ(smtp.Outcome(), kMailwireTempFail);
    EXPECT_EQ(verbs(), (Verbs{"HELO", "MAIL", "RCPT"}));
}

// RFC 5321 section 4.1.3: an address goes in brackets; with no name set,
// this machine's fully qualified name, else the connection's own address.
TEST_F(MailwireTest, TheHeloNameIsAFullyQualifiedNameOrAnAddressLiteral) {
    const QString fqdn = mailwire::fullyQualifiedName();
    const struct {
        QString configured, sent;
    } cases[] = {
        {QStringLiteral("127.0.0.1"), QStringLiteral("HELO [127.0.0.1]")},
        {QStringLiteral("::1"), QStringLiteral("HELO [IPv6:::1]")},
        {QStringLiteral("pw.example.jp"), QStringLiteral("HELO pw.example.jp")},
        {QString(),
         QStringLiteral("HELO ") + (fqdn.isEmpty() ? QStringLiteral("[127.0.0.1]") : fqdn)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configured.toStdString());
        ScriptedSmtp s;
        Mailwire m;
        aim(m, s);
        m.setClientName(c.configured);
        m.Send();
        EXPECT_EQ(QString::fromLatin1(s.commands().value(0)), c.sent);
    }

    QTemporaryFile hosts;
    ASSERT_TRUE(hosts.open());
    hosts.write("127.0.0.1 localhost localhost.localdomain\n"
                "127.0.1.1 box.example.jp box # the installer's line\n"
                "10.0.0.5 other.example.jp other\n");
    hosts.flush();
    EXPECT_EQ(mailwire::fullyQualifiedName(QStringLiteral("box"), hosts.fileName()),
              QStringLiteral("box.example.jp"));
    EXPECT_EQ(mailwire::fullyQualifiedName(QStringLiteral("localhost"), hosts.fileName()),
              QStringLiteral("localhost.localdomain"));
    EXPECT_EQ(mailwire::fullyQualifiedName(QStringLiteral("vm"), hosts.fileName()), QString());
    EXPECT_EQ(mailwire::fullyQualifiedName(QStringLiteral("w.example.jp"), hosts.fileName()),
              QStringLiteral("w.example.jp"));
}

// Over plain SMTP a login sends the password in clear: to this machine
// only, unless the caller says otherwise.
TEST_F(MailwireTest, APasswordGoesInClearOnlyToThisMachine) {
    smtp.setUserName(QStringLiteral("alerts"));
    smtp.setPassword(QStringLiteral("pw"));
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(), QString());
    EXPECT_TRUE(smtp.Log().contains(QStringLiteral("< AUTH PLAIN ****")));

    Mailwire far; // TEST-NET-1 (RFC 5737): refused before any packet leaves
    far.setServerName(QStringLiteral("192.0.2.25"));
    far.setUserName(QStringLiteral("alerts"));
    far.setPassword(QStringLiteral("pw"));
    EXPECT_FALSE(far.LoginInClear());
    QElapsedTimer t;
    t.start();
    far.Send();
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_TRUE(far.ErrorMessage().startsWith(QStringLiteral(
        "+++ 9007 A login in clear (no TLS) is refused: the password would cross the network "
        "to 192.0.2.25")))
        << far.ErrorMessage();
    EXPECT_EQ(far.Outcome(), kMailwireUnavailable);
    EXPECT_FALSE(far.Log().contains(QStringLiteral("< ")));
}
