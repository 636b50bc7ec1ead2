#include "SmtpMailer.h"
#include "ServiceCharCode.h"
#include "ServiceHostName.h"
#include "ServiceLog.h"
#include "support/ScriptedSmtp.h"
#include "support/SmtpSink.h"

#include "platform/AnsiText.h"
#include "platform/Ending.h"
#include "platform/MailLibrary.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimeZone>
#include <QTimer>
#include <gtest/gtest.h>

using mailwire::SmtpMailer;

namespace {

const QDateTime kMorning(QDate(2026, 12, 7), QTime(10, 15, 30), QTimeZone(9 * 3600));

// Node's TextDecoder reads ISO-2022-JP with the jis0208 index browsers use:
// a decoder not written here. It prints the subject (encoded words decoded
// and joined) and the body.
struct NodeReading {
    QString subject, body, error;
};

NodeReading readWithNode(const QByteArray& raw) {
    static const char kScript[] = R"(
const text = require('fs').readFileSync(process.argv[1]).toString('latin1');
const end = text.indexOf('\r\n\r\n');
const dec = (bytes) => new TextDecoder('iso-2022-jp').decode(bytes);
const subject = text.slice(0, end).replace(/\r\n /g, ' ').split('\r\n')
    .find((l) => l.startsWith('Subject:')).slice(8)
    .replace(/\s*=\?ISO-2022-JP\?B\?([^?]*)\?=\s*/g, (m, b) => dec(Buffer.from(b, 'base64')));
process.stdout.write(JSON.stringify({subject, body: dec(Buffer.from(text.slice(end + 4), 'latin1'))}));
)";
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        return {{}, {}, QStringLiteral("node is not installed (Debian's nodejs)")};
    QTemporaryFile file;
    if (!file.open())
        return {{}, {}, QStringLiteral("no temporary file")};
    file.write(raw);
    file.flush();
    QProcess p;
    p.start(node, {QStringLiteral("-e"), QLatin1String(kScript), file.fileName()});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {{}, {}, QString::fromLocal8Bit(p.readAllStandardError())};
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    return {o.value(QStringLiteral("subject")).toString(),
            o.value(QStringLiteral("body")).toString(),
            {}};
}

// Every character code page 932 has, in code order: the double-byte ones.
QString everyDoubleByteCharacter() {
    QString all;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead < 0xE0)
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            const char code[] = {static_cast<char>(lead), static_cast<char>(trail)};
            const QString c = platform::fromAnsi(QByteArray(code, 2));
            if (c.size() == 1 && c != QChar(QChar::ReplacementCharacter))
                all += c;
        }
    }
    return all;
}

// A mail from watch@ to ops@ through the local server on port.
void prepare(SmtpMailer& m, quint16 port, const QString& subject) {
    m.setServerName(QStringLiteral("127.0.0.1"));
    m.setServerPort(static_cast<qint16>(port));
    m.setClientMailAddress(QStringLiteral("watch@example.jp"));
    m.SetTo(QStringLiteral("ops@example.jp"));
    m.SetSubject(subject);
}

bool isUserDefined(QChar c) {
    return c.unicode() >= 0xE000 && c.unicode() <= 0xE757;
}

class ComposerTest : public ::testing::Test {
protected:
    SmtpMailer mailer;
    void SetUp() override {
        mailer.setClientMailAddress(QStringLiteral("watch@example.jp"));
        mailer.setClientRealName(QStringLiteral("Pulsewatch"));
    }
    QString composed() {
        mailer.ComposeMessage(kMorning, QStringLiteral("<1@example.jp>"));
        return mailer.message();
    }
};

} // namespace

TEST_F(ComposerTest, AnAsciiMessageHasTheFixedHeaderOrder) {
    mailer.SetTo(QStringLiteral("ops1@example.jp"));
    mailer.SetTo(QStringLiteral("ops2@example.jp"));
    mailer.SetCc(QStringLiteral("boss@example.jp"));
    mailer.SetBcc(QStringLiteral("secret@example.jp"));
    mailer.SetSubject(QStringLiteral("server down"));
    mailer.SetSentense(QStringLiteral("fileserver is down"));
    mailer.SetSentense(QString());
    EXPECT_EQ(composed(), QStringLiteral("Subject: server down\r\n"
                                         "From: Pulsewatch <watch@example.jp>\r\n"
                                         "To: ops1@example.jp, ops2@example.jp\r\n"
                                         "cc: boss@example.jp\r\n"
                                         "Date: Mon, 07 Dec 2026 10:15:30 +0900\r\n"
                                         "Message-ID: <1@example.jp>\r\n"
                                         "MIME-Version: 1.0\r\n"
                                         "Content-Type: text/plain; charset=us-ascii\r\n"
                                         "\r\n"
                                         "fileserver is down\r\n"
                                         "\r\n"));
}

TEST_F(ComposerTest, TheCharsetFollowsTheBodyAlone) {
    mailer.SetTo(QStringLiteral("ops@example.jp"));
    mailer.SetSubject(QStringLiteral("日本"));
    mailer.SetSentense(QStringLiteral("ascii body\r\n"));
    const QString m = composed();
    EXPECT_TRUE(m.startsWith(QStringLiteral("Subject:  =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?= \r\n")))
        << m.toStdString();
    EXPECT_TRUE(m.contains(QStringLiteral("charset=us-ascii\r\n\r\nascii body\r\n")));

    SmtpMailer japanese;
    japanese.SetSubject(QStringLiteral("ascii"));
    japanese.SetSentense(QStringLiteral("障害: 日本"));
    japanese.ComposeMessage(kMorning);
    EXPECT_TRUE(japanese.message().endsWith(
        QStringLiteral("charset=iso-2022-jp\r\n\r\n\x1B$B>c32\x1B(B: \x1B$BF|K\\\x1B(B\r\n")))
        << japanese.message().toStdString();
    EXPECT_FALSE(japanese.message().contains(QStringLiteral("To:")));
}

TEST_F(ComposerTest, HalfWidthKanaBecomesFullWidth) {
    QString text = QStringLiteral("ｻｰﾊﾞｰ abc");
    EXPECT_TRUE(mailwire::NormalizeKana(text));
    EXPECT_EQ(text, QStringLiteral("サーハ゛ー abc"));
    QString ascii = QStringLiteral("abc é");
    EXPECT_FALSE(mailwire::NormalizeKana(ascii));
    QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    EXPECT_FALSE(mailwire::NormalizeKana(nul));
    EXPECT_EQ(nul, QStringLiteral("a.b"));

    mailer.SetSubject(QStringLiteral("ｱﾗｰﾄ"));
    mailer.SetSentense(QStringLiteral("ｻｰﾊﾞｰ"));
    const QString m = composed();
    EXPECT_TRUE(m.contains(mailwire::EncodeWord(QStringLiteral("アラート"))));
    EXPECT_TRUE(m.contains(QStringLiteral("charset=iso-2022-jp")));
    for (QChar c : m)
        ASSERT_LT(c.unicode(), 0x80) << "the composed message is not 7-bit";
    EXPECT_EQ(mailwire::LogText(), QString());
}

TEST_F(ComposerTest, ALongToFieldIsFoldedAfterAComma) {
    for (int i = 0; i < 5; ++i)
        mailer.SetTo(QStringLiteral("operator%1@example.jp").arg(i));
    const QString m = composed();
    const QRegularExpression to(QStringLiteral("To: [^\r]*\r\n( [^\r]*\r\n)+"));
    const auto match = to.match(m);
    ASSERT_TRUE(match.hasMatch()) << m.toStdString();
    for (const QString& line :
         match.captured(0).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        EXPECT_LE(line.size(), 76);
        if (!line.startsWith(QStringLiteral("To:"))) {
            EXPECT_TRUE(line.startsWith(QLatin1Char(' ')));
        }
    }
    EXPECT_TRUE(match.captured(0).contains(QStringLiteral(",\r\n operator")));
}

// One address with the name, whatever the name holds: a comma must not
// make two addresses of it, nor a parenthesis a comment readers drop.
TEST_F(ComposerTest, TheFromFieldIsOneAddressWithTheName) {
    const struct {
        QString name, from;
    } cases[] = {
        {QStringLiteral("Pulsewatch"), QStringLiteral("Pulsewatch <watch@example.jp>")},
        {QStringLiteral("Yamada, Taro"), QStringLiteral("\"Yamada, Taro\" <watch@example.jp>")},
        {QString(), QStringLiteral("<watch@example.jp>")},
        {QStringLiteral("山田 (運用)"), mailwire::EncodeWord(QStringLiteral("山田 (運用)")) +
                                            QStringLiteral(" <watch@example.jp>")},
        {QStringLiteral("ｻｰﾊﾞｰ"), mailwire::EncodeWord(QStringLiteral("サーハ゛ー")) +
                                      QStringLiteral(" <watch@example.jp>")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        mailer.setClientRealName(c.name);
        EXPECT_TRUE(
            composed().contains(QStringLiteral("\r\nFrom: ") + c.from + QStringLiteral("\r\n")))
            << composed().toStdString();
    }
}

// A character that cannot go out as itself leaves one line naming it; ¥,
// ‾ and half-width kana arrive as themselves (the kana in full width).
TEST_F(ComposerTest, CharactersThatCannotGoOutAsThemselvesAreNamedOnceEach) {
    mailer.SetSubject(QStringLiteral("café € ") + QString::fromUcs4(U"\U0001F600"));
    mailer.setClientRealName(QStringLiteral("µ-team é"));
    mailer.SetSentense(QStringLiteral("é again, ¥100 ‾ ｱ ") + QChar(0xE000));
    composed();
    const QString log = mailwire::LogText();
    const struct {
        const char* named;
        const char* sentAs;
    } cases[] = {
        {"U+00E9 \"é\" ", "sent as ?"}, {"U+20AC \"€\" ", "sent as ?"}, {"U+1F600 ", "sent as ?"},
        {"U+00B5 \"µ\" ", "sent as ?"}, {"U+E000 ", "sent as \u3013"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        EXPECT_EQ(log.count(QString::fromUtf8(c.named)), 1) << log.toStdString();
        EXPECT_TRUE(log.contains(QRegularExpression(
            QRegularExpression::escape(QString::fromUtf8(c.named)) + QStringLiteral("[^\r]*") +
            QRegularExpression::escape(QString::fromUtf8(c.sentAs)))));
    }
    EXPECT_EQ(log.count(QStringLiteral("--SmtpMailer ComposeMessage -- Error:9008 ")), 5);
    EXPECT_TRUE(mailer.message().contains(QStringLiteral("\x1B(J\\\x1B(B100 \x1B(J~\x1B(B")));
    EXPECT_TRUE(mailer.message().contains(QStringLiteral("charset=iso-2022-jp")));
}

// RFC 5322 wants a Message-ID; relays add one or score its absence. A
// message sent again keeps its own.
TEST_F(ComposerTest, EveryMessageHasAMessageIdOfItsOwn) {
    const QRegularExpression field(
        QStringLiteral("\r\nMessage-ID: <[0-9]{14}\\.[0-9a-f]{16}@([^>]+)>\r\n"));
    auto idOf = [&](SmtpMailer& m) {
        m.ComposeMessage(kMorning);
        return field.match(m.message());
    };
    const auto first = idOf(mailer);
    ASSERT_TRUE(first.hasMatch()) << mailer.message().toStdString();
    EXPECT_EQ(first.captured(1), QStringLiteral("example.jp"));
    EXPECT_EQ(idOf(mailer).captured(0), first.captured(0));

    SmtpMailer other;
    other.setClientMailAddress(QStringLiteral("P/L/W(Pulsewatch)"));
    const auto second = idOf(other);
    ASSERT_TRUE(second.hasMatch());
    const QString fqdn = mailwire::fullyQualifiedName();
    EXPECT_EQ(second.captured(1), fqdn.isEmpty() ? mailwire::shortHostName() : fqdn);
    mailer.Clear();
    EXPECT_NE(idOf(mailer).captured(0), first.captured(0));
}

TEST_F(ComposerTest, ClearEmptiesListsSubjectAndBody) {
    mailer.SetTo(QStringLiteral("a@x"));
    mailer.SetSubject(QStringLiteral("s"));
    mailer.SetSentense(QStringLiteral("b"));
    mailer.Clear();
    EXPECT_EQ(composed(), QStringLiteral("Subject: \r\nFrom: Pulsewatch <watch@example.jp>\r\n"
                                         "Date: Mon, 07 Dec 2026 10:15:30 +0900\r\n"
                                         "Message-ID: <1@example.jp>\r\n"
                                         "MIME-Version: 1.0\r\n"
                                         "Content-Type: text/plain; charset=us-ascii\r\n\r\n\r\n"));
}

TEST(SmtpMailerSend, LineBreaksInHeaderValuesAreRefusedBeforeConnecting) {
    testsupport::ScriptedSmtp server;
    const struct {
        void (*set)(SmtpMailer&);
        const char* named;
    } cases[] = {
        {[](SmtpMailer& m) { m.SetSubject(QStringLiteral("down\r\nBcc: all@evil")); }, "subject"},
        {[](SmtpMailer& m) { m.setClientRealName(QStringLiteral("x\nTo: y")); }, "display name"},
        {[](SmtpMailer& m) { m.SetBcc(QStringLiteral("a@x\r\nDATA")); }, "recipient"},
        {[](SmtpMailer& m) { m.setClientMailAddress(QStringLiteral("a@x\r")); }, "sender"},
        {[](SmtpMailer& m) { m.setClientName(QStringLiteral("me\r\nQUIT")); }, "HELO"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        SmtpMailer m;
        m.setServerName(QStringLiteral("127.0.0.1"));
        m.setServerPort(static_cast<qint16>(server.port()));
        m.SetTo(QStringLiteral("ops@example.jp"));
        c.set(m);
        m.SendMail();
        EXPECT_TRUE(m.ErrorMessage().contains(QLatin1String(c.named))) << m.ErrorMessage();
        EXPECT_TRUE(m.Log().contains(QStringLiteral("--Mailwire Send -- Error:9007")));
    }
    EXPECT_EQ(server.connections(), 0);
}

// The library as the program meets it: loaded at run time, an object made by
// its identifier, a Japanese mail to a real SMTP server.
TEST(SmtpMailerSend, AJapaneseMailReachesARealServerIntact) {
    testsupport::SmtpSink sink;
    if (!sink.failure().isEmpty())
        GTEST_SKIP() << sink.failure().toStdString();

    QLibrary lib(QStringLiteral(MAILWIRE_LIBRARY));
    ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
    auto create = reinterpret_cast<MailwireCreateFn>(lib.resolve(kMailwireCreateSymbol));
    auto release = reinterpret_cast<MailwireReleaseFn>(lib.resolve(kMailwireReleaseSymbol));
    ASSERT_TRUE(create && release);
    EXPECT_EQ(create("VBMailwire.Unknown"), nullptr);
    EXPECT_EQ(create(nullptr), nullptr);

    MailwireObject* object = create("VBMailwire.SmtpMailer");
    ASSERT_NE(object, nullptr);
    _SmtpMailer* m = object->querySmtpMailer();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(object->queryMailwire(), nullptr);
    m->setServerName(QStringLiteral("127.0.0.1"));
    m->setServerPort(static_cast<qint16>(sink.port()));
    m->setTimeoutMs(10000);
    m->setClientMailAddress(QStringLiteral("watch@example.jp"));
    m->setClientRealName(QStringLiteral("サーバー監視"));
    m->SetTo(QStringLiteral("ops1@example.jp"));
    m->SetTo(QStringLiteral("ops2@example.jp"));
    m->SetCc(QStringLiteral("boss@example.jp"));
    m->SetBcc(QStringLiteral("hidden@example.jp"));
    m->SetSubject(QStringLiteral("サーバーダウンの可能性"));
    m->SetSentense(QStringLiteral("下記のサーバーが応答しません。"));
    m->SetSentense(QStringLiteral("【fileserver】 - ICMP Request Timeout"));
    m->SetSentense(QStringLiteral(".dot line"));
    m->SendMail();
    const QString error = m->ErrorMessage();
    const QString log = m->Log();
    release(object);

    EXPECT_EQ(error, QString()) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("< RCPT TO:<hidden@example.jp>\r\n> 250 ")));
    EXPECT_TRUE(log.contains(QStringLiteral("< QUIT\r\n> 221 ")));

    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].mailFrom, QStringLiteral("watch@example.jp"));
    EXPECT_EQ(
        messages[0].rcptTos,
        (QStringList{QStringLiteral("ops1@example.jp"), QStringLiteral("ops2@example.jp"),
                     QStringLiteral("boss@example.jp"), QStringLiteral("hidden@example.jp")}));
    const QByteArray& raw = messages[0].data;
    EXPECT_FALSE(raw.contains("hidden@example.jp")) << "a blind copy shows in the message";
    EXPECT_TRUE(raw.contains("\r\nMIME-Version: 1.0\r\n"));
    EXPECT_TRUE(raw.contains("\r\nDate: "));
    EXPECT_TRUE(raw.endsWith("\r\n\x1B$B2<5-$N%5!<%P!<$,1~Ez$7$^$;$s!#\x1B(B\r\n"
                             "\x1B$B!Z\x1B(Bfileserver\x1B$B![\x1B(B - ICMP Request Timeout\r\n"
                             ".dot line\r\n"))
        << raw.toStdString();

    const auto decoded = testsupport::decodeWithPython(raw);
    ASSERT_EQ(decoded.error, QString());
    EXPECT_EQ(decoded.subject.simplified(), QStringLiteral("サーバーダウンの可能性"));
    EXPECT_EQ(decoded.from.simplified(), QStringLiteral("サーバー監視 <watch@example.jp>"));
    EXPECT_EQ(decoded.to, QStringLiteral("ops1@example.jp, ops2@example.jp"));
    EXPECT_EQ(decoded.cc, QStringLiteral("boss@example.jp"));
    EXPECT_EQ(decoded.bcc, QString());
    EXPECT_EQ(QString(decoded.body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
              QStringLiteral("下記のサーバーが応答しません。\n【fileserver】 - ICMP Request "
                             "Timeout\n.dot line\n"));
}

// Each character goes out at the place an ISO-2022-JP decoder that knows
// the NEC and IBM extensions reads it from; the user-defined ones, which no
// decoder can know, arrive as 〓 and are named in the log.
TEST(SmtpMailerSend, EveryCodePage932CharacterSurvivesAnIndependentDecoder) {
    testsupport::SmtpSink sink;
    if (!sink.failure().isEmpty())
        GTEST_SKIP() << sink.failure().toStdString();
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
        GTEST_SKIP() << "node is not installed (Debian's nodejs)";

    const QString all = everyDoubleByteCharacter();
    ASSERT_GT(all.size(), 9000);
    const QString subject = QStringLiteral("髙﨑ⅰ纊") + QChar(0xE000) + QStringLiteral("∵");
    SmtpMailer m;
    prepare(m, sink.port(), subject);
    QString expected;
    for (qsizetype i = 0; i < all.size(); i += 40) {
        m.SetSentense(all.mid(i, 40));
        expected += all.mid(i, 40) + QStringLiteral("\r\n");
    }
    m.SendMail();
    ASSERT_EQ(m.ErrorMessage(), QString()) << m.Log().right(2000).toStdString();

    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 1);
    const QByteArray& raw = messages[0].data;
    for (char c : raw)
        ASSERT_TRUE(c > 0) << "a NUL or 8-bit byte in the message";
    const NodeReading read = readWithNode(raw);
    ASSERT_EQ(read.error, QString());
    QString userDefined;
    for (QChar& c : expected)
        if (isUserDefined(c)) {
            if (!userDefined.contains(c))
                userDefined += c;
            c = QChar(0x3013);
        }
    EXPECT_EQ(read.subject, QStringLiteral("髙﨑ⅰ纊〓∵"));
    const QStringList got = read.body.split(QStringLiteral("\r\n"));
    const QStringList want = expected.split(QStringLiteral("\r\n"));
    ASSERT_EQ(got.size(), want.size());
    int wrong = 0;
    for (qsizetype i = 0; i < want.size() && wrong < 5; ++i)
        if (got[i] != want[i])
            ADD_FAILURE() << ++wrong << ": " << got[i].toStdString() << " for "
                          << want[i].toStdString();

    // One log line per user-defined character, naming it.
    EXPECT_EQ(userDefined.size(), 1880);
    const QString log = mailwire::LogText();
    EXPECT_EQ(log.count(QStringLiteral("--SmtpMailer ComposeMessage -- Error:9008 ")),
              userDefined.size());
    EXPECT_TRUE(log.contains(QStringLiteral("U+E000 "))) << log.left(300).toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("U+E757 ")));
}

// RFC 5322 caps a line at 998 octets: a longer subject word or body line is
// broken, and the reader gets the text back.
TEST(SmtpMailerSend, LongLinesAreBrokenSoTheMailGoesThrough) {
    testsupport::SmtpSink sink;
    if (!sink.failure().isEmpty())
        GTEST_SKIP() << sink.failure().toStdString();
    const QString subject = QStringLiteral("disk full: ") + QString(1500, QLatin1Char('x'));
    const QString body = QString(3000, QLatin1Char('y')) + QStringLiteral("\r\n") +
                         QString(700, QChar(0x65E5)) + QStringLiteral("\r\n");
    SmtpMailer m;
    prepare(m, sink.port(), subject);
    m.SetSentense(body);
    m.SendMail();
    ASSERT_EQ(m.ErrorMessage(), QString()) << m.Log().right(500).toStdString();

    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 1);
    for (const QByteArray& line : messages[0].data.split('\n'))
        EXPECT_LE(line.size(), 999); // 998 octets and the CR
    const auto decoded = testsupport::decodeWithPython(messages[0].data);
    ASSERT_EQ(decoded.error, QString());
    EXPECT_EQ(decoded.subject.simplified(), subject);
    EXPECT_EQ(QString(decoded.body).remove(QLatin1Char('\n')).remove(QLatin1Char('\r')),
              QString(body).remove(QStringLiteral("\r\n")));
}

// The composer keeps what the caller gave it, so a second SendMail sends the
// same message once more: the same recipients, not twice as many.
TEST(SmtpMailerSend, ASecondSendMailSendsTheSameMessageAgain) {
    testsupport::ScriptedSmtp server;
    SmtpMailer m;
    prepare(m, server.port(), QStringLiteral("障害"));
    m.SetSentense(QStringLiteral("サーバー停止"));
    m.SendMail();
    ASSERT_EQ(m.ErrorMessage(), QString());
    const auto firstCommands = server.commands();
    const auto firstData = server.dataLines();
    m.SendMail();
    ASSERT_EQ(m.ErrorMessage(), QString());
    EXPECT_EQ(server.commands().mid(firstCommands.size()), firstCommands);
    auto withoutDate = [](QList<QByteArray> lines) {
        lines.removeIf([](const QByteArray& l) { return l.startsWith("Date: "); });
        return lines;
    };
    EXPECT_EQ(withoutDate(server.dataLines().mid(firstData.size())), withoutDate(firstData));
}

// Real submission relays (aiosmtpd behind TLS, with a login): the mail
// arrives through STARTTLS and through TLS from the first byte; every
// refusal has its own number, and nothing goes out in clear (the relay
// sees no MAIL FROM). The password is in no log and no message.
TEST(SmtpMailerSend, ThroughSubmissionRelaysOrNotAtAll) {
    const QString user = QStringLiteral("alerts@example.jp");
    const QString password = QStringLiteral("pw-パス");
    testsupport::TlsRelays relays(user, password);
    if (!relays.failure().isEmpty())
        GTEST_SKIP() << relays.failure().toStdString();
    const QString trusted = relays.caFile();
    const struct {
        const char* kind;
        qint16 mode;
        const char* host;
        QString password, caFile, error; // error: how ErrorMessage begins; "" when sent
        const char* logged = "";
    } cases[] = {
        {"starttls", 1, "localhost", password, trusted, "", "< AUTH PLAIN ****\r\n> 235"},
        {"tls", 2, "localhost", password, trusted, "", "< AUTH PLAIN ****\r\n> 235"},
        {"loginonly", 1, "127.0.0.1", password, trusted, "", "< AUTH LOGIN\r\n> 334"},
        {"starttls", 1, "localhost", "wrong", trusted, "535 SMTP Defined Error: 9012 "},
        {"plain", 1, "localhost", password, trusted, "250 SMTP Defined Error: 9011 "},
        {"plain", 2, "localhost", password, trusted, "??? 9009 TLS handshake failed: "},
        {"wronghost", 1, "localhost", password, trusted, "??? 9010 Server certificate refused: "},
        {"unknownca", 1, "localhost", password, trusted, "??? 9010 Server certificate refused: "},
        // The system's CA store knows nothing of the test's CA.
        {"tls", 2, "localhost", password, "", "??? 9010 Server certificate refused: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + c.error.toStdString());
        const qsizetype before = relays.events().size();
        mailwire::LogClear();
        SmtpMailer m;
        m.setServerName(QLatin1String(c.host));
        m.setServerPort(static_cast<qint16>(relays.port(c.kind)));
        m.setTimeoutMs(10000);
        m.setSecurityMode(c.mode);
        m.setUserName(user);
        m.setPassword(c.password);
        m.setCaFile(c.caFile);
        m.setClientMailAddress(user);
        m.setClientRealName(QStringLiteral("Pulsewatch"));
        m.SetTo(QStringLiteral("ops@example.jp"));
        m.SetSubject(QStringLiteral("サーバーダウンの可能性"));
        m.SetSentense(QStringLiteral("サーバー名　　　　= fileserver"));
        m.SendMail();
        const QList<testsupport::TlsRelays::Event> seen = relays.events().mid(before);
        if (c.error.isEmpty()) {
            ASSERT_EQ(m.ErrorMessage(), QString()) << m.Log().toStdString();
            ASSERT_EQ(seen.size(), 2); // MAIL FROM, then the mail
            EXPECT_EQ(seen[1].server, QLatin1String(c.kind));
            const auto decoded = testsupport::decodeWithPython(seen[1].data);
            EXPECT_EQ(decoded.subject.simplified(), QStringLiteral("サーバーダウンの可能性"));
            EXPECT_EQ(QString(decoded.body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                      QStringLiteral("サーバー名　　　　= fileserver\n"));
        } else {
            EXPECT_TRUE(m.ErrorMessage().startsWith(c.error)) << m.ErrorMessage().toStdString();
            EXPECT_TRUE(seen.isEmpty()) << "the relay saw " << seen.value(0).event.toStdString();
        }
        EXPECT_TRUE(m.Log().contains(QLatin1String(c.logged))) << m.Log().toStdString();
        const QByteArray nul(1, '\0');
        const QString secrets[] = {
            password, QString::fromLatin1(password.toUtf8().toBase64()),
            QString::fromLatin1((nul + user.toUtf8() + nul + password.toUtf8()).toBase64())};
        for (const QString& secret : secrets)
            EXPECT_FALSE((m.Log() + mailwire::LogText() + m.ErrorMessage()).contains(secret));
    }
}

// The program's loader: the alert mail of two recipients gets 15 s in all
// from a relay that takes the connection and never greets, and the
// program's end ends a send at once.
TEST(SmtpMailerSend, TheLoaderBoundsTheWholeSendAndEndsItWithTheProgram) {
    testsupport::ScriptedSmtp silent;
    silent.greeting({.stall = true});
    platform::MailRelay relay;
    relay.server = QStringLiteral("127.0.0.1:%1").arg(silent.port());
    const platform::MailText mail{QStringLiteral("s"), QStringLiteral("ops@example.jp"),
                                  QStringLiteral("Pulsewatch"), QStringLiteral("body"),
                                  QStringLiteral("pulsewatch@example.jp")};
    QElapsedTimer t;
    t.start();
    QString error = platform::sendMail(QStringLiteral(MAILWIRE_LIBRARY), relay, mail, 60000, 1500);
    EXPECT_GE(t.elapsed(), 1400);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(error.startsWith(QStringLiteral("??? 10060 The send took its whole bound of 1500")))
        << error.toStdString();

    platform::Ending ending;
    QElapsedTimer sinceEnd;
    QTimer::singleShot(300, [&] {
        ending.request();
        sinceEnd.start();
    });
    error = platform::sendMail(QStringLiteral(MAILWIRE_LIBRARY), relay, mail, 60000, 0, &ending);
    EXPECT_LT(sinceEnd.elapsed(), 1000); // about 100 ms on an idle machine
    EXPECT_TRUE(error.startsWith(QStringLiteral("??? 9013 Ended by the program while waiting for "
                                                "the greeting")))
        << error.toStdString();
}
