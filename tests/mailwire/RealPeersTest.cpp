// The mail as real mail servers take it: Debian's OpenSMTPD, and a server
// that refuses what Postfix refuses under reject_invalid_helo_hostname,
// reject_non_fqdn_helo_hostname and reject_non_fqdn_sender.
#include "ServiceHostName.h"
#include "SmtpMailer.h"
#include "support/OpenSmtpd.h"
#include "support/SmtpSink.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>

#include <sched.h>
#include <unistd.h>

using mailwire::SmtpMailer;

namespace {

// The Message-ID the composer gave the message it sent last.
QString composedId(const SmtpMailer& m) {
    return QRegularExpression(QStringLiteral("\r\nMessage-ID: (<[^>]+>)\r\n"))
        .match(m.message())
        .captured(1);
}

void prepare(SmtpMailer& m, quint16 port, const QString& sender, const QString& name) {
    m.setServerName(QStringLiteral("127.0.0.1"));
    m.setServerPort(static_cast<qint16>(port));
    m.setTimeoutMs(10000);
    m.setClientMailAddress(sender);
    m.setClientRealName(name);
    m.SetTo(QStringLiteral("ops@example.jp"));
    m.SetSubject(QStringLiteral("サーバーダウンの可能性"));
    m.SetSentense(QStringLiteral("fileserver が応答しません。"));
}

QString sender() {
    return QStringLiteral("pulsewatch@") + mailwire::fullyQualifiedName();
}

} // namespace

// The default mail: the sender pulsewatch@ this machine's fully qualified
// name, the library's own HELO name; it arrives with its Message-ID, its
// Date and its sender intact.
TEST(RealPeers, TheDefaultMailIsDeliveredThroughOpenSmtpdAndAStrictServer) {
    if (mailwire::fullyQualifiedName().isEmpty())
        GTEST_SKIP() << "this machine has no fully qualified name, and only root can give the "
                        "test one";
    {
        testsupport::SmtpSink strict(testsupport::SmtpSink::Checks::PostfixHeloAndSender);
        ASSERT_EQ(strict.failure(), QString());
        SmtpMailer m;
        prepare(m, strict.port(), sender(), QStringLiteral("Pulsewatch"));
        m.SendMail();
        ASSERT_EQ(m.ErrorMessage(), QString()) << m.Log().toStdString();
        const auto mails = strict.messages();
        ASSERT_EQ(mails.size(), 1);
        EXPECT_EQ(mails[0].mailFrom, sender());
        const auto decoded = testsupport::decodeWithPython(mails[0].data);
        EXPECT_EQ(decoded.messageId, composedId(m));
        EXPECT_FALSE(decoded.date.isEmpty());
        EXPECT_EQ(decoded.fromNames, QStringList{QStringLiteral("Pulsewatch")});
    }
    testsupport::OpenSmtpd smtpd;
    if (!smtpd.failure().isEmpty())
        GTEST_SKIP() << smtpd.failure().toStdString();
    // A name with a comma: OpenSMTPD rewrote the unquoted one into two
    // addresses.
    for (const QString& name : {QStringLiteral("Pulsewatch"), QStringLiteral("Yamada, Taro")}) {
        SCOPED_TRACE(name.toStdString());
        SmtpMailer m;
        prepare(m, smtpd.port(), sender(), name);
        m.SendMail();
        ASSERT_EQ(m.ErrorMessage(), QString())
            << m.Log().toStdString() << smtpd.log().toStdString();
        static int delivered = 0;
        const auto mails = smtpd.messages(++delivered);
        ASSERT_EQ(mails.size(), delivered) << smtpd.log().toStdString();
        const auto mine = std::find_if(mails.begin(), mails.end(), [&](const QByteArray& raw) {
            return testsupport::headerField(raw, "Message-ID") == composedId(m);
        });
        ASSERT_NE(mine, mails.end())
            << "no mail with the Message-ID " << composedId(m).toStdString();
        const QByteArray& raw = *mine;
        EXPECT_EQ(testsupport::headerField(raw, "Return-Path"), QLatin1Char('<') + sender() + '>');
        EXPECT_FALSE(testsupport::headerField(raw, "Date").isEmpty());
        const auto decoded = testsupport::decodeWithPython(raw);
        EXPECT_EQ(decoded.fromNames, QStringList{name});
        EXPECT_EQ(decoded.subject.simplified(), QStringLiteral("サーバーダウンの可能性"));
    }
}

// What the servers refuse, and in the server's own words: the settings
// that used to be the default (HELO 127.0.0.1, sender P/L/W(Pulsewatch)).
TEST(RealPeers, ARefusalCarriesTheServersOwnWords) {
    testsupport::SmtpSink strict(testsupport::SmtpSink::Checks::PostfixHeloAndSender);
    ASSERT_EQ(strict.failure(), QString());
    const struct {
        QString helo, sender, error;
    } cases[] = {
        {QStringLiteral("[127.0.0.1]"), QStringLiteral("pulsewatch@watch.example.jp"), QString()},
        {QStringLiteral("::1"), QStringLiteral("pulsewatch@watch.example.jp"), QString()},
        {QStringLiteral("watch.example.jp."), QStringLiteral("<>"), QString()},
        {QStringLiteral("localhost"), QStringLiteral("pulsewatch@watch.example.jp"),
         QStringLiteral("504 SMTP Defined Error: 9004 (server said: 504 5.5.2 <localhost>: Helo "
                        "command rejected: need fully-qualified hostname)")},
        {QStringLiteral("bad_name!"), QStringLiteral("pulsewatch@watch.example.jp"),
         QStringLiteral("501 SMTP Defined Error: 9004 (server said: 501 5.5.2 <bad_name!>: Helo "
                        "command rejected: Invalid name)")},
        {QStringLiteral("[300.0.0.1]"), QStringLiteral("pulsewatch@watch.example.jp"),
         QStringLiteral("501 SMTP Defined Error: 9004 (server said: 501 5.5.2 <[300.0.0.1]>: Helo "
                        "command rejected: invalid ip address)")},
        {QStringLiteral("watch.example.jp"), QStringLiteral("P/L/W(Pulsewatch)"),
         QStringLiteral("504 SMTP Defined Error: 9004 (server said: 504 5.5.2 <P/L/W(Pulsewatch)>: "
                        "Sender address rejected: need fully-qualified address)")},
        {QStringLiteral("watch.example.jp"), QStringLiteral("pulsewatch@vm"),
         QStringLiteral("504 SMTP Defined Error: 9004 (server said: 504 5.5.2 <pulsewatch@vm>: "
                        "Sender address rejected: need fully-qualified address)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.helo + QLatin1Char(' ') + c.sender).toStdString());
        SmtpMailer m;
        prepare(m, strict.port(), c.sender == QLatin1String("<>") ? QString() : c.sender,
                QStringLiteral("Pulsewatch"));
        m.setClientName(c.helo);
        m.SendMail();
        EXPECT_EQ(m.ErrorMessage(), c.error);
    }

    testsupport::OpenSmtpd smtpd;
    if (!smtpd.failure().isEmpty())
        GTEST_SKIP() << smtpd.failure().toStdString();
    SmtpMailer m;
    prepare(m, smtpd.port(), QStringLiteral("P/L/W(Pulsewatch)"), QStringLiteral("Pulsewatch"));
    m.SendMail();
    EXPECT_EQ(m.ErrorMessage(), QStringLiteral("553 SMTP Defined Error: 9003 (server said: 553 "
                                               "5.1.0 Sender address syntax error)"));
    EXPECT_EQ(m.Outcome(), kMailwireDataError);
}

int main(int argc, char** argv) {
    // The mail comes from pulsewatch@ this machine's fully qualified name.
    // A machine without one (a container called "vm") gets one for this
    // test alone, in a UTS namespace of its own: only this process and the
    // servers it starts see it.
    if (mailwire::fullyQualifiedName().isEmpty() && geteuid() == 0 && unshare(CLONE_NEWUTS) == 0) {
        const QByteArray name = "watch-" + QByteArray::number(getpid()) + ".pulsewatch.test";
        if (sethostname(name.constData(), static_cast<size_t>(name.size())) != 0)
            perror("sethostname");
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
