#include "alerts/MailAlert.h"

#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include "support/OpenSmtpd.h"
#include <QDir>
#include <QTcpServer>

#include <QRegularExpression>
#include <gtest/gtest.h>

using alerts::MailAlert;
using testsupport::FixedClock;

namespace {

const QString kSubject = QStringLiteral("サーバーダウンの可能性");
const QString kClosing = QStringLiteral("以上サーバーダウンの可能性がありますご検証ください。");
const QString kFrom = QStringLiteral("P/L/W(Pulsewatch)");
const QString kSep = QString(100, QLatin1Char('-'));

class MailAlertTest : public ::testing::Test {
protected:
    AppState state{QStringLiteral("/nonexistent")};
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3))};

    void SetUp() override {
        state.SERVER_CNT = 6;
        set(1, "up-but-paused", -1, -1, "old");
        set(2, "fileserver", -1, 1, "Reply from 10.0.0.2:fileserver: ICMP Request Timeout");
        set(3, "mail", 1, 1, "Reply from 10.0.0.3:mail: Bytes = 32 RTT = 0 ms TTL = 64");
        set(4, "unwatched", -1, 0, "x");
        set(5, "db'5", -1, 1, "コンピュータ名またはIPアドレスが不正です。");
        set(6, "", 0, 1, "");
    }
    void set(int i, const char* name, qint16 status, qint16 check, const char* message) {
        state.Servers[i] = {QString::fromUtf8(name), QString::fromUtf8(message), QString(), check,
                            status};
    }
};

} // namespace

TEST_F(MailAlertTest, TheReportListsExactlyTheWatchedServersDown) {
    const QString block2 = kSep + QStringLiteral("\r\nサーバー名　　　　= fileserver\r\n") +
                           QStringLiteral("エラーメッセージ  = Reply from 10.0.0.2:fileserver: "
                                          "ICMP Request Timeout\r\n") +
                           kSep + QStringLiteral("\r\n\r\n");
    const QString block5 =
        kSep + QStringLiteral("\r\nサーバー名　　　　= db'5\r\n") +
        QStringLiteral("エラーメッセージ  = コンピュータ名またはIPアドレスが不正です。\r\n") +
        kSep + QStringLiteral("\r\n\r\n");
    const QString head = QStringLiteral("☆サーバーダウン報告書（可能性）\r\n\r\n") + kSep +
                         QStringLiteral("\r\n発生時刻　　　　　= 2026/12/07 9:05:03\r\n") + kSep +
                         QStringLiteral("\r\n\r\n");
    const QString tail = kSep + QStringLiteral("\r\n\r\n") + kClosing;
    EXPECT_EQ(MailAlert::reportBody(state, clock.now(), kClosing), head + block2 + block5 + tail);

    for (int i = 1; i <= 6; ++i)
        state.Servers[i].Status = 1;
    EXPECT_EQ(MailAlert::reportBody(state, clock.now(), kClosing), head + tail);
}

TEST_F(MailAlertTest, TheMailArrivesThroughTheLoadedLibrary) {
    testsupport::SmtpSink sink;
    if (!sink.failure().isEmpty())
        GTEST_SKIP() << sink.failure();
    MailAlert mail(state, clock, QStringLiteral(MAILWIRE_LIBRARY));
    mail.setTimeoutMs(10000);
    EXPECT_TRUE(mail.SendEmail(QStringLiteral("127.0.0.1:%1").arg(sink.port()), kSubject,
                               QStringLiteral("ops@example.jp"), QStringLiteral("Pulsewatch"),
                               kClosing, kFrom))
        << mail.lastError();

    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 1);
    // "P/L/W(Pulsewatch)" is no address mail servers take.
    const QRegularExpression sender(
        QStringLiteral("^FROM:<pulsewatch@[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+>$"));
    EXPECT_TRUE(sender.match(messages[0].rawMailFrom).hasMatch()) << messages[0].rawMailFrom;
    EXPECT_EQ(messages[0].rcptTos, QStringList{QStringLiteral("ops@example.jp")});
    const auto decoded = testsupport::decodeWithPython(messages[0].data);
    ASSERT_EQ(decoded.error, QString());
    EXPECT_EQ(decoded.subject.simplified(), kSubject);
    EXPECT_EQ(decoded.charset, QStringLiteral("iso-2022-jp"));
    const auto lf = [](QString t) {
        return t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    };
    EXPECT_EQ(lf(decoded.body), lf(MailAlert::reportBody(state, clock.now(), kClosing)) + "\n");
    EXPECT_TRUE(messages[0].data.contains("\r\nFrom: Pulsewatch <pulsewatch@"));
}

// The alarm mail as it goes without a login or a sender of its own is
// taken by a real MTA and by a server with Postfix's strict HELO and sender
// rules, with its Date, Message-ID and sender.
TEST_F(MailAlertTest, TheDefaultAlarmMailIsTakenByStrictServers) {
    testsupport::SmtpSink strict(testsupport::SmtpSink::Checks::PostfixHeloAndSender);
    ASSERT_EQ(strict.failure(), QString());
    MailAlert mail(state, clock, QStringLiteral(MAILWIRE_LIBRARY));
    EXPECT_TRUE(mail.SendEmail(QStringLiteral("127.0.0.1:%1").arg(strict.port()), kSubject,
                               QStringLiteral("ops@example.jp"), QStringLiteral("Pulsewatch"),
                               kClosing, kFrom))
        << mail.lastError();
    ASSERT_EQ(strict.messages().size(), 1);
    for (const char* field : {"\r\nDate: ", "\r\nMessage-ID: <"})
        EXPECT_TRUE(strict.messages()[0].data.contains(field)) << field;

    testsupport::OpenSmtpd mta;
    if (!mta.failure().isEmpty())
        GTEST_SKIP() << mta.failure().toStdString();
    EXPECT_TRUE(mail.SendEmail(QStringLiteral("127.0.0.1:%1").arg(mta.port()), kSubject,
                               QStringLiteral("ops@example.jp"), QStringLiteral("Pulsewatch"),
                               kClosing, kFrom))
        << mail.lastError();
    const QList<QByteArray> delivered = mta.messages(1);
    ASSERT_EQ(delivered.size(), 1) << mta.log().toStdString();
    EXPECT_FALSE(testsupport::headerField(delivered[0], "Message-ID").isEmpty());
    EXPECT_FALSE(testsupport::headerField(delivered[0], "Date").isEmpty());
    EXPECT_TRUE(
        testsupport::headerField(delivered[0], "From").contains(QStringLiteral("<pulsewatch@")));
}

TEST_F(MailAlertTest, AnUnreachableServerOrAMissingLibraryIsFalse) {
    quint16 closedPort;
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        closedPort = s.serverPort();
    }
    MailAlert mail(state, clock, QStringLiteral(MAILWIRE_LIBRARY));
    EXPECT_FALSE(mail.SendEmail(QStringLiteral("127.0.0.1:%1").arg(closedPort), kSubject,
                                QStringLiteral("ops@example.jp"), QStringLiteral("Pulsewatch"),
                                kClosing, kFrom));
    EXPECT_TRUE(mail.lastError().startsWith(QStringLiteral("??? "))) << mail.lastError();

    MailAlert none(state, clock); // libmailwire.so in /nonexistent
    EXPECT_FALSE(none.SendEmail(QStringLiteral("127.0.0.1"), kSubject,
                                QStringLiteral("ops@example.jp"), QStringLiteral("Pulsewatch"),
                                kClosing, kFrom));
}

// The relay settings take the alert through a submission relay: the port
// from "host:port" or from EMARGE_PORT, the login as the sender. Nothing
// the program writes besides the settings file holds the password.
TEST_F(MailAlertTest, TheRelaySettingsTakeTheAlertThroughASubmissionRelay) {
    const QString user = QStringLiteral("alerts@example.jp");
    const QString password = QStringLiteral("pw-パス");
    testsupport::TlsRelays relays(user, password);
    if (!relays.failure().isEmpty())
        GTEST_SKIP() << relays.failure();
    testsupport::TestFolder folder;
    state.AppFolder = folder.folder() + QLatin1Char('/');
    const struct {
        QString server, port;
        qint16 mode;
        QString password, error;
    } cases[] = {
        {QStringLiteral("localhost:%1").arg(relays.port("starttls")), {}, 1, password, {}},
        {QStringLiteral("localhost"), QString::number(relays.port("tls")), 2, password, {}},
        {QStringLiteral("localhost:%1").arg(relays.port("starttls")), QStringLiteral("25"), 1,
         QStringLiteral("wrong"), QStringLiteral("535 SMTP Defined Error: 9012 ")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server + " " + c.port);
        const qsizetype before = relays.events().size();
        state.EMARGE_PORT = c.port;
        state.EMARGE_SECURITY = c.mode;
        state.EMARGE_USER = user;
        state.EMARGE_PWD = c.password;
        state.EMARGE_CAFILE = relays.caFile();
        MailAlert mail(state, clock, QStringLiteral(MAILWIRE_LIBRARY));
        mail.setTimeoutMs(10000);
        EXPECT_EQ(mail.SendEmail(c.server, kSubject, QStringLiteral("ops@example.jp"),
                                 QStringLiteral("Pulsewatch"), kClosing, kFrom),
                  c.error.isEmpty());
        EXPECT_TRUE(mail.lastError().startsWith(c.error)) << mail.lastError();
        EXPECT_FALSE(mail.lastError().contains(password));
        const auto seen = relays.events().mid(before);
        if (!c.error.isEmpty()) {
            EXPECT_TRUE(seen.isEmpty());
            continue;
        }
        ASSERT_EQ(seen.size(), 2);
        EXPECT_EQ(seen[1].mailFrom, user);
        EXPECT_TRUE(seen[1].data.contains("\r\nFrom: Pulsewatch <alerts@example.jp>\r\n"));
        const auto decoded = testsupport::decodeWithPython(seen[1].data);
        EXPECT_EQ(decoded.subject.simplified(), kSubject);
        EXPECT_EQ(QString(decoded.body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                  MailAlert::reportBody(state, clock.now(), kClosing)
                          .replace(QStringLiteral("\r\n"), QStringLiteral("\n")) +
                      QLatin1Char('\n'));
    }
    for (const QFileInfo& f : QDir(folder.folder()).entryInfoList(QDir::Files))
        EXPECT_FALSE(folder.read(f.fileName()).contains(password.toUtf8())) << f.fileName();
}
