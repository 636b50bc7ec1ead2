#include "Mailwire.h"

#include "ServiceLog.h"

#include <QDeadlineTimer>

namespace mailwire {
namespace {

const QString kCrLf = QStringLiteral("\r\n");

enum Step { kConnect = 2, kHelo, kMailFrom, kRcptTo, kData, kQuit };

} // namespace

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

Mailwire::Mailwire() {
    setServerName(QStringLiteral("domain.name"));
    setServerPort(25);
    setClientName(QStringLiteral("127.0.0.1"));
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

void Mailwire::SetErrorStatus(qint16 status, qint32 number, const QString& description) {
    m_errorStatus = status;
    m_errorNumber = number;
    m_errorDescription = description;
}

void Mailwire::ClearErrorStatus() {
    SetErrorStatus(0, 0, QString());
    m_errorMessage.clear();
}

void Mailwire::copyTransportError() {
    SetErrorStatus(m_tcp.ErrorStatus(), m_tcp.ErrorNumber(), m_tcp.ErrorDescription());
}

// Skips continuation lines up to the final "### " line of a reply. The
// whole reply shares one time-out, and its lines are capped: a peer that
// keeps sending continuation lines must not hold the alarms behind the mail.
bool Mailwire::readReply(QString& code) {
    const QDeadlineTimer deadline(m_tcp.timeoutMs());
    for (int lines = 0;; ++lines) {
        if (lines == kMaxReplyLines) {
            m_tcp.fail(winTcpClient::kLineTooLong,
                       QStringLiteral("A reply of more than %1 lines").arg(kMaxReplyLines));
            return false;
        }
        QString line;
        m_tcp.GetResponseOneLine(line, deadline);
        if (m_tcp.ErrorStatus() != 0)
            return false;
        if (isFinalReplyLine(line)) {
            code = line.left(3);
            return true;
        }
    }
}

void Mailwire::ConnectServer(QString& code) {
    m_tcp.Connect(m_serverName, m_serverPort);
    if (!readReply(code))
        copyTransportError();
}

void Mailwire::SendCommand(const QString& command, QString& code) {
    m_tcp.Send(command);
    if (!readReply(code))
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
    for (QString& line : lines) {
        if (line.startsWith(QLatin1Char('.')))
            line.prepend(QLatin1Char('.'));
        m_tcp.Send(line + kCrLf);
        if (m_tcp.ErrorStatus() != 0) {
            copyTransportError();
            return;
        }
    }
    SendCommand(QStringLiteral(".") + kCrLf, code);
}

void Mailwire::DisconnectServer() {
    m_tcp.DisConnect();
    if (m_tcp.ErrorStatus() != 0)
        copyTransportError();
}

// Steps 2 (connect) to 7 (QUIT) from fromStep on; false with the failing
// check's number and description.
bool Mailwire::dialogue(int fromStep, QString& code, int& number, QString& description) {
    auto fail = [&](int n, const char* text) {
        number = n;
        description = QLatin1String(text);
        return false;
    };
    switch (fromStep) {
    case kConnect:
        ConnectServer(code);
        if (code != QLatin1String("220"))
            return fail(9001, "SMTP CODE 220 to Connection");
        [[fallthrough]];
    case kHelo:
        SendCommand(QStringLiteral("HELO ") + m_clientName + kCrLf, code);
        if (code != QLatin1String("250"))
            return fail(9002, "SMTP CODE 250 to HELO");
        [[fallthrough]];
    case kMailFrom:
        SendCommand(QStringLiteral("MAIL FROM:<") + m_reversePath + QLatin1Char('>') + kCrLf, code);
        if (code != QLatin1String("250"))
            return fail(9003, "SMTP CODE 250 to MAIL FROM:");
        [[fallthrough]];
    case kRcptTo:
        for (const QString& address : std::as_const(m_forwardPaths)) {
            SendCommand(QStringLiteral("RCPT TO:<") + address + QLatin1Char('>') + kCrLf, code);
            if (!(code.size() == 3 && code.startsWith(QLatin1String("25")) && code[2].isDigit()))
                return fail(9004, "SMTP CODE NOT 25x to RCPT TO:");
        }
        [[fallthrough]];
    case kData:
        SendDataBlock(code);
        if (code != QLatin1String("250"))
            return fail(9005, "SMTP CODE NOT 250 to DATA");
        [[fallthrough]];
    case kQuit:
    default:
        SendCommand(QStringLiteral("QUIT") + kCrLf, code);
        if (code != QLatin1String("221"))
            return fail(9006, "SMTP CODE NOT 221 to QUIT");
        return true;
    }
}

void Mailwire::Send() {
    ClearErrorStatus();
    const QString unsafe = unsafeValue();
    if (!unsafe.isEmpty()) {
        refuse(unsafe);
        return;
    }
    QString code;
    bool quitting = false;
    int from = kConnect;
    for (;;) {
        int number = 0;
        QString description;
        if (dialogue(from, code, number, description))
            break;
        AddErrorLog("Mailwire", "Send", number, description);
        if (quitting) {
            m_errorMessage = QStringLiteral("QUIT & Disconnect Failure / ") + m_errorMessage;
            break;
        }
        if (number > kTransportError && m_errorStatus == 0) {
            // The server refused a step: say which, and still say goodbye.
            m_errorMessage =
                code + QStringLiteral(" SMTP Defined Error: ") + QString::number(number);
            quitting = true;
            from = kQuit;
            continue;
        }
        const char* prefix = m_errorStatus == 1 ? "??? " : m_errorStatus == 2 ? "$$$ " : "+++ ";
        m_errorMessage = QLatin1String(prefix) + QString::number(m_errorNumber) + QLatin1Char(' ') +
                         m_errorDescription;
        break;
    }
    DisconnectServer();
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

void Mailwire::refuse(const QString& reason) {
    const QString description = reason + QStringLiteral(": the message was not sent");
    AddErrorLog("Mailwire", "Send", kRefusedText, description);
    m_errorMessage =
        QStringLiteral("+++ ") + QString::number(kRefusedText) + QLatin1Char(' ') + description;
}

void Mailwire::clearMessage() {
    m_reversePath.clear();
    m_forwardPaths.clear();
    m_data.clear();
}

} // namespace mailwire
