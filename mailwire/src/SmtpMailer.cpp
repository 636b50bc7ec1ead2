#include "SmtpMailer.h"

#include "ServiceCharCode.h"
#include "ServiceHostName.h"
#include "ServiceJisSjis.h"
#include "ServiceLog.h"

#include "platform/AnsiText.h"

#include <QRandomGenerator>
#include <QSet>

namespace mailwire {
namespace {

const QString kCrLf = QStringLiteral("\r\n");

// U+FF61..U+FF9F and their full-width forms, character for character (the
// voiced marks stay separate marks, as a one-character conversion gives).
const QString kHalfWidthKana =
    QStringLiteral("｡｢｣､･ｦｧｨｩｪｫｬｭｮｯｰｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜﾝﾞﾟ");
const QString kFullWidthKana =
    QStringLiteral("。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌ"
                   "ネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜");

} // namespace

bool NormalizeKana(QString& text) {
    bool japanese = false;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c.unicode() == 0) {
            text[i] = QLatin1Char('.'); // mail has no place for a NUL (RFC 5322)
            continue;
        }
        if (c.unicode() < 0x80)
            continue;
        if (c.isSurrogate())
            continue; // outside code page 932: it goes out as "?"
        if (isJisRoman(c)) {
            japanese = true; // JIS-Roman is ISO-2022-JP
            continue;
        }
        const qsizetype kana = kHalfWidthKana.indexOf(c);
        if (kana >= 0) {
            text[i] = kFullWidthKana[kana];
            japanese = true;
            continue;
        }
        const QByteArray b = platform::toAnsi(QString(c));
        if (b.size() == 2)
            japanese = true;
        else if (static_cast<unsigned char>(b[0]) >= 0x80)
            text[i] = QLatin1Char('.');
    }
    return japanese;
}

QString GetMultiAddressString(const QStringList& list) {
    return list.join(QStringLiteral(", "));
}

QString rfc5322Date(const QDateTime& t) {
    static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int offset = t.offsetFromUtc() / 60;
    const QChar sign = offset < 0 ? QLatin1Char('-') : QLatin1Char('+');
    return QStringLiteral("%1, %2 %3 %4 %5 %6%7%8")
        .arg(QLatin1String(kDays[t.date().dayOfWeek() - 1]))
        .arg(t.date().day(), 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(kMonths[t.date().month() - 1]))
        .arg(t.date().year())
        .arg(t.time().toString(QStringLiteral("HH:mm:ss")))
        .arg(sign)
        .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
        .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

QString newMessageId(const QDateTime& now, const QString& sender) {
    // The sender's domain where it is one, so the ID says whose it is;
    // else this machine's name (RFC 5322 section 3.6.4).
    QString domain = sender.mid(sender.lastIndexOf(QLatin1Char('@')) + 1);
    if (!sender.contains(QLatin1Char('@')) || !isMailDomain(domain))
        domain = fullyQualifiedName();
    if (domain.isEmpty())
        domain = shortHostName();
    if (!isMailDomain(domain))
        domain = QStringLiteral("localhost");
    const quint64 random = QRandomGenerator::system()->generate64();
    return QLatin1Char('<') + now.toUTC().toString(QStringLiteral("yyyyMMddHHmmss")) +
           QLatin1Char('.') + QString::number(random, 16).rightJustified(16, QLatin1Char('0')) +
           QLatin1Char('@') + domain + QLatin1Char('>');
}

SmtpMailer::SmtpMailer() {
    mailwire::LogClear();
}

void SmtpMailer::SetSentense(const QString& strSentense) {
    m_body += strSentense;
    if (!strSentense.endsWith(kCrLf))
        m_body += kCrLf;
}

void SmtpMailer::Clear() {
    m_to.clear();
    m_cc.clear();
    m_bcc.clear();
    m_subject.clear();
    m_body.clear();
    m_messageId.clear();
}

QString SmtpMailer::Log() const {
    return LogText() + kCrLf + m_smtp.Log();
}

void SmtpMailer::ComposeMessage(const QDateTime& now) {
    // A message sent again is the same message: it keeps its ID, so readers
    // can tell the copies apart from news. Clear starts a new one.
    if (m_messageId.isEmpty())
        m_messageId = newMessageId(now, m_clientMailAddress);
    ComposeMessage(now, m_messageId);
}

void SmtpMailer::ComposeMessage(const QDateTime& now, const QString& messageId) {
    // The display name is written so that every reader sees one address
    // with that name: a comma in it would make two addresses of it, a
    // parenthesis a comment that readers drop.
    QString name = m_clientRealName;
    NormalizeKana(name);
    const QString phrase = EncodePhrase(name);
    QString h = QStringLiteral("Subject: ") + m_subject + kCrLf;
    h += QStringLiteral("From: ") + (phrase.isEmpty() ? phrase : phrase + QLatin1Char(' ')) +
         QLatin1Char('<') + m_clientMailAddress + QLatin1Char('>') + kCrLf;
    if (!m_to.isEmpty())
        h += QStringLiteral("To: ") + GetMultiAddressString(m_to) + kCrLf;
    if (!m_cc.isEmpty())
        h += QStringLiteral("cc: ") + GetMultiAddressString(m_cc) + kCrLf;
    // No Bcc field: it would show every blind-copy address to everyone.
    // A Date field is required (RFC 5322) and its absence makes filters
    // score the alert as spam; MIME-Version gives the charset its meaning.
    h += QStringLiteral("Date: ") + rfc5322Date(now) + kCrLf;
    h += QStringLiteral("Message-ID: ") + messageId + kCrLf;
    h += QStringLiteral("MIME-Version: 1.0") + kCrLf;
    NormalizeKana(h);
    QString body = m_body;
    const bool japanese = NormalizeKana(body);
    h += japanese ? QStringLiteral("Content-Type: text/plain; charset=iso-2022-jp")
                  : QStringLiteral("Content-Type: text/plain; charset=us-ascii");
    h += kCrLf;
    logCharactersNotSentAsThemselves(m_subject + m_clientRealName + m_clientMailAddress +
                                     m_to.join(QString()) + m_cc.join(QString()) + m_body);
    h = FoldHeader(EncodeHeaderText(h));
    h += kCrLf;
    if (!body.endsWith(kCrLf))
        body += kCrLf;
    bool ok = true;
    m_message = h + breakLongLines(SjisToJis(body, &ok));
    if (!ok)
        AddErrorLog("SmtpMailer", "ComposeMessage", 5,
                    QStringLiteral("Invalid procedure call or argument"));
}

// The reader sees "?" where code page 932 had no place for a character and
// 〓 where ISO-2022-JP had none; the operator learns from the log which
// character it was, once for each.
void SmtpMailer::logCharactersNotSentAsThemselves(const QString& text) {
    QSet<char32_t> seen;
    for (const char32_t code : text.toUcs4()) {
        if (code < 0x80 || seen.contains(code))
            continue;
        seen.insert(code);
        const QString c = QString::fromUcs4(&code, 1);
        QString sentAs;
        if (c.size() == 1 && (isJisRoman(c[0]) || kHalfWidthKana.contains(c[0])))
            continue; // they arrive as themselves, the kana in full width
        if (!platform::isAnsiRepresentable(c))
            sentAs = QStringLiteral("has no place in code page 932: sent as ?");
        else if (const QByteArray b = platform::toAnsi(c); b.size() == 1)
            sentAs =
                static_cast<unsigned char>(b[0]) >= 0x80
                    ? QStringLiteral("is a single 8-bit byte in code page 932: sent as .")
                    : QStringLiteral("is ASCII in code page 932: sent as ") + QLatin1Char(b[0]);
        else if (!hasJisPlace(c))
            sentAs = QStringLiteral("has no place in ISO-2022-JP: sent as \u3013");
        else
            continue;
        AddErrorLog("SmtpMailer", "ComposeMessage", kNotSentAsItself,
                    QStringLiteral("U+%1 \"%2\" ")
                            .arg(QString::number(code, 16).toUpper().rightJustified(4, u'0'), c) +
                        sentAs);
    }
}

QString SmtpMailer::unsafeHeaderValue() const {
    if (hasLineBreak(m_subject))
        return QStringLiteral("Line break in the subject");
    if (hasLineBreak(m_clientRealName))
        return QStringLiteral("Line break in the sender's display name");
    if (hasLineBreak(m_clientMailAddress))
        return QStringLiteral("Line break in the sender address");
    for (const QStringList* list : {&m_to, &m_cc, &m_bcc})
        for (const QString& a : *list)
            if (hasLineBreak(a))
                return QStringLiteral("Line break in a recipient address");
    return QString();
}

void SmtpMailer::SendMail() {
    // A line break in a header value would add header fields or, through the
    // envelope, SMTP commands of the sender's choosing.
    const QString unsafe = unsafeHeaderValue();
    if (!unsafe.isEmpty()) {
        m_smtp.refuse(unsafe);
        return;
    }
    ComposeMessage(QDateTime::currentDateTime());
    // Each SendMail hands over one whole message: a second one sends the
    // message again, not the first one's recipients and text twice.
    m_smtp.clearMessage();
    m_smtp.SetReversePath(m_clientMailAddress);
    for (const QStringList* list : {&m_to, &m_cc, &m_bcc})
        for (const QString& a : *list)
            m_smtp.SetForwardPath(a);
    m_smtp.SetData(m_message);
    m_smtp.Send();
}

QString SmtpMailer::MachineName() const {
    const QString fqdn = fullyQualifiedName();
    return fqdn.isEmpty() ? shortHostName() : fqdn;
}

} // namespace mailwire
