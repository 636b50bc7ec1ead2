#include "Mailwire.h"
#include "ServiceLog.h"
#include "support/ScriptedSmtp.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <gtest/gtest.h>

using mailwire::Mailwire;
using testsupport::ScriptedSmtp;

namespace {

class MailwireTest : public ::testing::Test {
protected:
    ScriptedSmtp server;
    Mailwire smtp;

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

    EXPECT_EQ(smtp.ErrorMessage(), QStringLiteral("550 SMTP Defined Error: 9004"));
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
         QStringLiteral("501 SMTP Defined Error: 9002"),
         {"HELO", "QUIT"}},
        {"MAIL",
         "553 bad sender\r\n",
         QStringLiteral("553 SMTP Defined Error: 9003"),
         {"HELO", "MAIL", "QUIT"}},
        {"DATA",
         "554 no data for you\r\n",
         QStringLiteral("554 SMTP Defined Error: 9005"),
         {"HELO", "MAIL", "RCPT", "DATA", "QUIT"}},
        {".",
         "552 too big\r\n",
         QStringLiteral("552 SMTP Defined Error: 9005"),
         {"HELO", "MAIL", "RCPT", "DATA", ".", "QUIT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verb.constData());
        ScriptedSmtp s;
        s.on(c.verb, c.reply);
        Mailwire m;
        m.setServerName(QStringLiteral("127.0.0.1"));
        m.setServerPort(static_cast<qint16>(s.port()));
        m.SetReversePath(QStringLiteral("w@x"));
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
    EXPECT_EQ(smtp.ErrorMessage(), QStringLiteral("554 SMTP Defined Error: 9001"));
    EXPECT_EQ(verbs(), (Verbs{"QUIT"}));
}

TEST_F(MailwireTest, AQuitNot221IsSentTwiceAndThenNamedAFailure) {
    server.on("QUIT", "500 what\r\n");
    smtp.SetForwardPath(QStringLiteral("r@x"));
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(),
              QStringLiteral("QUIT & Disconnect Failure / 500 SMTP Defined Error: 9006"));
    EXPECT_EQ(verbs(), (Verbs{"HELO", "MAIL", "RCPT", "DATA", ".", "QUIT", "QUIT"}));
    EXPECT_EQ(mailwire::LogText(),
              QStringLiteral("--Mailwire Send -- Error:9006 SMTP CODE NOT 221 to QUIT\r\n"
                             "--Mailwire Send -- Error:9006 SMTP CODE NOT 221 to QUIT\r\n"));
}

TEST_F(MailwireTest, ASecondQuitThatSucceedsLeavesTheFirstRefusal) {
    server.onNth("QUIT", 0, "451 later\r\n");
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(), QStringLiteral("451 SMTP Defined Error: 9006"));
}

TEST_F(MailwireTest, ARefusedConnectionIsATransportFailure) {
    quint16 closedPort;
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        closedPort = s.serverPort();
    }
    smtp.setServerPort(static_cast<qint16>(closedPort));
    smtp.Send();
    EXPECT_TRUE(smtp.ErrorMessage().startsWith(QStringLiteral("??? 10061 ")))
        << smtp.ErrorMessage();
    EXPECT_EQ(mailwire::LogText(),
              QStringLiteral("--Mailwire Send -- Error:9001 SMTP CODE 220 to Connection\r\n"));
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
    // The stall poisons the rest of the dialogue: nothing after MAIL FROM.
    EXPECT_EQ(verbs(), (Verbs{"HELO", "MAIL"}));
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
    EXPECT_TRUE(smtp.ErrorMessage().startsWith(QStringLiteral("??? "))) << smtp.ErrorMessage();
}

TEST_F(MailwireTest, RepliesInPiecesAndMegabyteLinesAreRead) {
    server.greeting("220 in pieces\r\n", {2, 5, 7, 1});
    server.on("HELO", "250-" + QByteArray(1024 * 1024, 'h') + "\r\n250 ok\r\n");
    smtp.Send();
    EXPECT_EQ(smtp.ErrorMessage(), QString());
    EXPECT_TRUE(smtp.Log().startsWith(QStringLiteral("> 220 in pieces\r\n")));
}

TEST_F(MailwireTest, LineBreaksInEnvelopeValuesAreRefusedBeforeConnecting) {
    smtp.SetForwardPath(QStringLiteral("victim@x>\r\nRCPT TO:<spam@y"));
    smtp.Send();
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(smtp.ErrorMessage().contains(QStringLiteral("recipient address")))
        << smtp.ErrorMessage();
    EXPECT_TRUE(mailwire::LogText().startsWith(QStringLiteral("--Mailwire Send -- Error:9007 ")));

    Mailwire helo;
    helo.setServerPort(static_cast<qint16>(server.port()));
    helo.setClientName(QStringLiteral("me\nMAIL FROM:<x>"));
    helo.Send();
    EXPECT_TRUE(helo.ErrorMessage().contains(QStringLiteral("HELO"))) << helo.ErrorMessage();
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(MailwireTest, DefaultsAndTheSharedLogPerThread) {
    Mailwire fresh;
    EXPECT_EQ(fresh.ServerName(), QStringLiteral("domain.name"));
    EXPECT_EQ(fresh.ServerPort(), 25);
    EXPECT_EQ(fresh.ClientName(), QStringLiteral("127.0.0.1"));
    mailwire::AddLog(QStringLiteral("x"));
    fresh.LogClear();
    EXPECT_EQ(mailwire::LogText(), QString());
}
