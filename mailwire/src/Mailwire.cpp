#include "Mailwire.h"

#include "ServiceHostName.h"
#include "ServiceLog.h"

#include <QDeadlineTimer>
#include <QSslCertificate>

namespace mailwire {
namespace {

const QString kCrLf = QStringLiteral("\r\n");

enum Step { kConnect = 2, kHelo, kMailFrom, kRcptTo, kData, kQuit };

// What the transcript shows in place of a secret.
const QString kMask = QStringLiteral("****");

// The server's words go into messages that are shown and printed: no more
// of them than this, and nothing but printable ASCII.
constexpr qsizetype kMaxSaid = 512;

// The AUTH mechanisms an EHLO reply offers ("250-AUTH PLAIN LOGIN", or the
// older "250-AUTH=LOGIN"), upper case.
QStringList authMechanisms(const QStringList& ehlo) {
    QStringList mechanisms;
    for (qsizetype i = 1; i < ehlo.size(); ++i) { // the first line is the greeting
        const QString keyword = ehlo[i].mid(4).toUpper();
        if (keyword.startsWith(QLatin1String("AUTH ")) ||
            keyword.startsWith(QLatin1String("AUTH=")))
            mechanisms += keyword.mid(5).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return mechanisms;
}

bool offersStartTls(const QStringList& ehlo) {
    for (qsizetype i = 1; i < ehlo.size(); ++i)
        if (ehlo[i].mid(4).trimmed().compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString base64(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

// What a command is called in the error texts.
QString stepOf(const QString& command) {
    if (command == QLatin1String(".\r\n"))
        return QStringLiteral("the message");
    for (const char* verb : {"MAIL FROM", "RCPT TO", "HELO", "EHLO", "DATA", "QUIT", "STARTTLS"})
        if (command.startsWith(QLatin1String(verb)))
            return QLatin1String(verb);
    return QStringLiteral("AUTH"); // the command and the lines of an AUTH LOGIN exchange
}

// Refused for now (4xx) or for good (5xx), as mail tools tell them apart
// for the envelope and DATA; anything else breaks the dialogue.
MailwireOutcome envelopeRefusal(const QString& code) {
    return code.startsWith(QLatin1Char('4'))   ? kMailwireUnavailable
           : code.startsWith(QLatin1Char('5')) ? kMailwireDataError
                                               : kMailwireProtocol;
}

MailwireOutcome transportOutcome(qint32 number, bool connected) {
    switch (number) {
    case winTcpClient::kConnectionRefused:
    case winTcpClient::kNetworkUnreachable:
    case winTcpClient::kHostUnreachable:
    case winTcpClient::kEnded:
        return kMailwireTempFail;
    case winTcpClient::kHostNotFound:
        return kMailwireNoHost;
    case winTcpClient::kTimedOut:
        return connected ? kMailwireIoError : kMailwireTempFail;
    case winTcpClient::kConnectionReset:
    case winTcpClient::kLineTooLong:
    case winTcpClient::kTlsFailed:
        return kMailwireProtocol;
    case winTcpClient::kCertificateRefused:
        return kMailwireUnavailable;
    default:
        return connected ? kMailwireIoError : kMailwireTempFail;
    }
}

} // namespace

struct Mailwire::Failure {
    int number = 0;
    QString description;
    MailwireOutcome outcome = kMailwireProtocol;
};

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

Mailwire::Mailwire() {
    setServerName(QStringLiteral("domain.name"));
    setServerPort(25);
    setClientName(QString());
    m_tcp.setEndHook([this] { return m_endHook && m_endHook(m_endContext); });
}

void Mailwire::SetReversePath(const QString& strNewReversePath) {
    m_reversePath = strNewReversePath;
}

void Mailwire::SetForwardPath(const QString& strAddress) {
    m_forwardPaths.append(strAddress);
}

void Mailwire::SetData(const QString& strSentense) {
    m_data += strSentense;
    if (!m_data.endsWith(kCrLf))
        m_data += kCrLf;
}

void Mailwire::LogClear() {
    mailwire::LogClear();
}

void Mailwire::setEndHook(MailwireEndHook hook, void* context) {
    m_endHook = hook;
    m_endContext = context;
}

void Mailwire::SetErrorStatus(qint16 status, qint32 number, const QString& description) {
    m_errorStatus = status;
    m_errorNumber = number;
    m_errorDescription = description;
}

void Mailwire::ClearErrorStatus() {
    SetErrorStatus(0, 0, QString());
    m_errorMessage.clear();
    m_outcome = kMailwireSent;
    m_accepted = false;
    m_dotSent = false;
    m_lastReply.clear();
}

void Mailwire::copyTransportError() {
    SetErrorStatus(m_tcp.ErrorStatus(), m_tcp.ErrorNumber(), m_tcp.ErrorDescription());
}

// Skips continuation lines up to the final "### " line of a reply (all of
// them go into lines, when given: EHLO's are its keywords). The whole reply
// shares one time-out, and its lines and characters are capped: a peer
// that keeps sending continuation lines must not hold the alarms behind the
// mail, nor take the memory.
bool Mailwire::readReply(QString& code, QStringList* lines) {
    const QDeadlineTimer deadline(m_tcp.timeoutMs());
    m_lastReply.clear();
    qsizetype size = 0;
    for (int count = 0;; ++count) {
        if (count == kMaxReplyLines || size > kMaxReplyBytes) {
            m_tcp.fail(winTcpClient::kLineTooLong,
                       count == kMaxReplyLines
                           ? QStringLiteral("A reply of more than %1 lines").arg(kMaxReplyLines)
                           : QStringLiteral("A reply of more than %1 bytes").arg(kMaxReplyBytes));
            m_lastReply.clear();
            return false;
        }
        QString line;
        m_tcp.GetResponseOneLine(line, deadline);
        if (m_tcp.ErrorStatus() != 0)
            return false;
        size += line.size();
        m_lastReply.append(line);
        if (lines)
            lines->append(line);
        if (isFinalReplyLine(line)) {
            code = line.left(3);
            return true;
        }
    }
}

QString Mailwire::serverSaid(const QString& code) const {
    // A reply that agrees (2xx) says nothing about why a step failed.
    if (m_lastReply.isEmpty() || code.startsWith(QLatin1Char('2')))
        return QString();
    QString said;
    for (qsizetype i = 0; i < m_lastReply.size() && said.size() <= kMaxSaid; ++i) {
        const QString& line = m_lastReply[i];
        // Continuation lines repeat the code: their text alone follows on.
        const bool coded = line.size() >= 4 && line.left(3) == code &&
                           (line[3] == QLatin1Char('-') || line[3] == QLatin1Char(' '));
        said += i == 0 ? line : QLatin1Char(' ') + (coded ? line.mid(4) : line);
    }
    for (QChar& c : said)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            c = QLatin1Char('?');
    if (said.size() > kMaxSaid)
        said = said.left(kMaxSaid) + QStringLiteral("...");
    return QStringLiteral(" (server said: ") + said.trimmed() + QLatin1Char(')');
}

void Mailwire::ConnectServer(QString& code) {
    const auto tls = m_securityMode == 2   ? winTcpClient::Tls::Now
                     : m_securityMode == 1 ? winTcpClient::Tls::Later
                                           : winTcpClient::Tls::Never;
    m_tcp.setStep(QString(), QStringLiteral("the greeting"));
    m_tcp.Connect(m_serverName, m_serverPort, tls);
    m_helo = heloName(m_clientName, m_tcp.localAddress());
    if (!readReply(code, nullptr))
        copyTransportError();
}

void Mailwire::SendCommand(const QString& command, QString& code, QStringList* lines,
                           const QString& shown) {
    const QString step = stepOf(command);
    m_tcp.setStep(step, QStringLiteral("the reply to ") + step);
    m_tcp.Send(command, shown.isEmpty() ? command : shown);
    if (!readReply(code, lines))
        copyTransportError();
}

void Mailwire::SendDataBlock(QString& code) {
    SendCommand(QStringLiteral("DATA") + kCrLf, code);
    if (code != QLatin1String("354"))
        return;
    // Any bare CR or LF is a line end of its own and goes out as CR LF:
    // servers differ on bare line ends, and that gap is how SMTP smuggling
    // slips a second message in.
    QString data = m_data;
    data.replace(kCrLf, QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = data.split(QLatin1Char('\n'));
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    m_tcp.setStep(QStringLiteral("the message"), QStringLiteral("the reply to the message"));
    for (QString& line : lines) {
        if (line.startsWith(QLatin1Char('.')))
            line.prepend(QLatin1Char('.'));
        m_tcp.SendMore(line + kCrLf); // the dot line below takes them along
        if (m_tcp.ErrorStatus() != 0) {
            copyTransportError();
            return;
        }
    }
    m_dotSent = true;
    SendCommand(QStringLiteral(".") + kCrLf, code);
    m_accepted = code == QLatin1String("250") && m_tcp.ErrorStatus() == 0;
}

void Mailwire::DisconnectServer() {
    m_tcp.DisConnect();
    if (m_tcp.ErrorStatus() != 0)
        copyTransportError();
}

// Steps 2 (connect) to 7 (QUIT) from fromStep on; false with the failing
// check's number, description and outcome.
bool Mailwire::dialogue(int fromStep, QString& code, Failure& failure) {
    auto fail = [&](int n, const QString& text, MailwireOutcome outcome) {
        failure = {n, text, outcome};
        return false;
    };
    switch (fromStep) {
    case kConnect:
        ConnectServer(code);
        if (m_errorStatus != 0 && (m_errorNumber == winTcpClient::kTlsFailed ||
                                   m_errorNumber == winTcpClient::kCertificateRefused ||
                                   m_errorNumber == winTcpClient::kAddressRefused))
            return fail(m_errorNumber, m_errorDescription,
                        m_errorNumber == winTcpClient::kAddressRefused
                            ? kMailwireUnavailable
                            : transportOutcome(m_errorNumber, m_tcp.connected()));
        if (code != QLatin1String("220"))
            return fail(9001, QStringLiteral("SMTP CODE 220 to Connection"), kMailwireProtocol);
        [[fallthrough]];
    case kHelo:
        if (m_securityMode != 0 || !m_userName.isEmpty()) {
            if (!greetExtended(code, failure))
                return false;
        } else {
            SendCommand(QStringLiteral("HELO ") + m_helo + kCrLf, code);
            if (code != QLatin1String("250"))
                return fail(9002, QStringLiteral("SMTP CODE 250 to HELO"), kMailwireProtocol);
        }
        [[fallthrough]];
    case kMailFrom:
        SendCommand(QStringLiteral("MAIL FROM:<") + m_reversePath + QLatin1Char('>') + kCrLf, code);
        if (code != QLatin1String("250"))
            return fail(9003, QStringLiteral("SMTP CODE 250 to MAIL FROM:"), envelopeRefusal(code));
        [[fallthrough]];
    case kRcptTo:
        for (const QString& address : std::as_const(m_forwardPaths)) {
            SendCommand(QStringLiteral("RCPT TO:<") + address + QLatin1Char('>') + kCrLf, code);
            if (!(code.size() == 3 && code.startsWith(QLatin1String("25")) && code[2].isDigit()))
                return fail(9004, QStringLiteral("SMTP CODE NOT 25x to RCPT TO:"),
                            envelopeRefusal(code));
        }
        [[fallthrough]];
    case kData:
        SendDataBlock(code);
        if (code != QLatin1String("250"))
            // After the data, any refusal is one of this message (mail
            // tools call it unavailable); before it, DATA itself was refused.
            return fail(9005, QStringLiteral("SMTP CODE NOT 250 to DATA"),
                        m_dotSent ? kMailwireUnavailable : envelopeRefusal(code));
        [[fallthrough]];
    case kQuit:
    default:
        SendCommand(QStringLiteral("QUIT") + kCrLf, code);
        if (code != QLatin1String("221"))
            return fail(9006, QStringLiteral("SMTP CODE NOT 221 to QUIT"), kMailwireProtocol);
        return true;
    }
}

bool Mailwire::greetExtended(QString& code, Failure& failure) {
    auto fail = [&](int n, const QString& text, MailwireOutcome outcome) {
        failure = {n, text, outcome};
        return false;
    };
    const QString ehloCommand = QStringLiteral("EHLO ") + m_helo + kCrLf;
    QStringList ehlo;
    SendCommand(ehloCommand, code, &ehlo);
    if (code != QLatin1String("250"))
        return fail(9002, QStringLiteral("SMTP CODE 250 to EHLO"), kMailwireProtocol);
    if (m_securityMode == 1) {
        // Required, not opportunistic: a relay (or someone in the way) that
        // does not offer STARTTLS gets nothing in clear.
        if (!offersStartTls(ehlo))
            return fail(kStartTlsMissing, QStringLiteral("STARTTLS not offered by the server"),
                        kMailwireUnavailable);
        SendCommand(QStringLiteral("STARTTLS") + kCrLf, code);
        if (code != QLatin1String("220"))
            return fail(kStartTlsMissing, QStringLiteral("STARTTLS refused by the server"),
                        kMailwireProtocol);
        m_tcp.setStep(QStringLiteral("STARTTLS"), QStringLiteral("the TLS handshake"));
        m_tcp.StartTls();
        if (m_tcp.ErrorStatus() != 0) {
            copyTransportError();
            return fail(m_errorNumber, m_errorDescription,
                        transportOutcome(m_errorNumber, m_tcp.connected()));
        }
        // What the server offered in clear may have been tampered with: only
        // its answer under TLS counts (RFC 3207).
        ehlo.clear();
        SendCommand(ehloCommand, code, &ehlo);
        if (code != QLatin1String("250"))
            return fail(9002, QStringLiteral("SMTP CODE 250 to EHLO"), kMailwireProtocol);
    }
    if (m_userName.isEmpty())
        return true;
    return authenticate(ehlo, code, failure);
}

// AUTH PLAIN (RFC 4616) where offered, else LOGIN; the secret goes out
// base64-encoded and the transcript shows "****" in its place.
bool Mailwire::authenticate(const QStringList& ehlo, QString& code, Failure& failure) {
    auto fail = [&](const QString& text, MailwireOutcome outcome = kMailwireNoPermission) {
        failure = {kLoginRefused, text, outcome};
        return false;
    };
    const QStringList mechanisms = authMechanisms(ehlo);
    const QByteArray user = m_userName.toUtf8();
    const QByteArray password = m_password.toUtf8();
    if (mechanisms.contains(QLatin1String("PLAIN"))) {
        const QByteArray response = QByteArray(1, '\0') + user + QByteArray(1, '\0') + password;
        SendCommand(QStringLiteral("AUTH PLAIN ") + base64(response) + kCrLf, code, nullptr,
                    QStringLiteral("AUTH PLAIN ") + kMask + kCrLf);
        if (code != QLatin1String("235"))
            return fail(QStringLiteral("Login refused (AUTH PLAIN)"));
        return true;
    }
    if (mechanisms.contains(QLatin1String("LOGIN"))) {
        SendCommand(QStringLiteral("AUTH LOGIN") + kCrLf, code);
        if (code != QLatin1String("334"))
            return fail(QStringLiteral("Login refused (AUTH LOGIN)"));
        SendCommand(base64(user) + kCrLf, code);
        if (code != QLatin1String("334"))
            return fail(QStringLiteral("Login refused (AUTH LOGIN, user name)"));
        SendCommand(base64(password) + kCrLf, code, nullptr, kMask + kCrLf);
        if (code != QLatin1String("235"))
            return fail(QStringLiteral("Login refused (AUTH LOGIN)"));
        return true;
    }
    return fail(QStringLiteral("No login possible: the server offers neither AUTH PLAIN nor "
                               "AUTH LOGIN"),
                kMailwireUnavailable);
}

void Mailwire::Send() {
    ClearErrorStatus();
    MailwireOutcome refusal = kMailwireDataError;
    QString unsafe = unsafeValue();
    if (unsafe.isEmpty())
        unsafe = unusableRelaySettings(&refusal);
    if (!unsafe.isEmpty()) {
        refuse(unsafe, refusal);
        return;
    }
    m_tcp.setTotalDeadline(m_totalMs > 0 ? QDeadlineTimer(m_totalMs)
                                         : QDeadlineTimer(QDeadlineTimer::Forever),
                           m_totalMs);
    // A password in clear goes to this machine only, unless the caller says
    // the network in between is trusted.
    m_tcp.setLoopbackOnly(m_securityMode == 0 && !m_userName.isEmpty() && !m_loginInClear,
                          QStringLiteral("A login in clear (no TLS) is refused: the password "
                                         "would cross the network to "));
    QString code;
    bool quitting = false;
    int from = kConnect;
    for (;;) {
        Failure failure;
        if (dialogue(from, code, failure))
            break;
        AddErrorLog("Mailwire", "Send", failure.number, failure.description);
        if (quitting) {
            m_errorMessage = QStringLiteral("QUIT & Disconnect Failure / ") + m_errorMessage;
            break;
        }
        if (failure.number == kRefusedText) {
            m_errorMessage = QStringLiteral("+++ %1 %2: the message was not sent")
                                 .arg(kRefusedText)
                                 .arg(failure.description);
            m_outcome = failure.outcome;
            break;
        }
        if (failure.number > kTransportError && m_errorStatus == 0) {
            // The server refused a step: say which, in its own words, and
            // still say goodbye.
            m_errorMessage =
                code + QStringLiteral(" SMTP Defined Error: ") + QString::number(failure.number);
            if (failure.number >= kStartTlsMissing) // the newer numbers say what they mean
                m_errorMessage += QLatin1Char(' ') + failure.description;
            m_errorMessage += serverSaid(code);
            m_outcome = failure.outcome;
            quitting = true;
            from = kQuit;
            continue;
        }
        const char* prefix = m_errorStatus == 1 ? "??? " : m_errorStatus == 2 ? "$$$ " : "+++ ";
        m_errorMessage = QLatin1String(prefix) + QString::number(m_errorNumber) + QLatin1Char(' ') +
                         m_errorDescription;
        m_outcome = transportOutcome(m_errorNumber, m_tcp.connected());
        break;
    }
    DisconnectServer();
    // Once the server took the message it is queued: whatever the goodbye
    // got, sending it again would deliver it twice.
    if (m_accepted)
        m_outcome = kMailwireSent;
}

namespace {

// What keeps a value out of a 7-bit SMTP dialogue ("" when nothing does).
QString unsafeIn(const QString& value, bool lineBreaksAllowed) {
    for (QChar c : value) {
        if (c.unicode() == 0 || c.unicode() > 0x7F)
            return QStringLiteral("NUL or 8-bit character");
        if (!lineBreaksAllowed && (c == QLatin1Char('\r') || c == QLatin1Char('\n')))
            return QStringLiteral("Line break");
    }
    return QString();
}

} // namespace

QString Mailwire::unsafeValue() const {
    auto named = [](const QString& problem, const char* what) {
        return problem.isEmpty() ? problem : problem + QStringLiteral(" in ") + QLatin1String(what);
    };
    if (QString p = unsafeIn(m_clientName, false); !p.isEmpty())
        return named(p, "the client name (HELO)");
    if (QString p = unsafeIn(m_reversePath, false); !p.isEmpty())
        return named(p, "the sender address (MAIL FROM)");
    for (const QString& a : m_forwardPaths)
        if (QString p = unsafeIn(a, false); !p.isEmpty())
            return named(p, "a recipient address (RCPT TO)");
    return named(unsafeIn(m_data, true), "the message text");
}

QString Mailwire::unusableRelaySettings(MailwireOutcome* outcome) {
    *outcome = kMailwireUsage;
    if (m_securityMode < 0 || m_securityMode > 2)
        return QStringLiteral("Unknown security mode %1 (0 plain, 1 STARTTLS, 2 TLS)")
            .arg(m_securityMode);
    // AUTH PLAIN separates the user name from the password by a NUL.
    if (m_userName.contains(QChar(0)) || m_password.contains(QChar(0)))
        return QStringLiteral("NUL character in the user name or the password");
    QList<QSslCertificate> trust;
    if (m_securityMode != 0)
        winTcpClient::prepareTls();
    if (m_securityMode != 0 && !m_caFile.isEmpty()) {
        trust = QSslCertificate::fromPath(m_caFile, QSsl::Pem,
                                          QSslCertificate::PatternSyntax::FixedString);
        if (trust.isEmpty()) {
            *outcome = kMailwireNoInput;
            return QStringLiteral("No CA certificate in the CA file ") + m_caFile;
        }
    }
    m_tcp.setTrust(trust);
    return QString();
}

void Mailwire::refuse(const QString& reason, MailwireOutcome outcome) {
    const QString description = reason + QStringLiteral(": the message was not sent");
    AddErrorLog("Mailwire", "Send", kRefusedText, description);
    m_errorMessage =
        QStringLiteral("+++ ") + QString::number(kRefusedText) + QLatin1Char(' ') + description;
    m_outcome = outcome;
}

void Mailwire::clearMessage() {
    m_reversePath.clear();
    m_forwardPaths.clear();
    m_data.clear();
}

} // namespace mailwire
