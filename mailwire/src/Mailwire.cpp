#include "Mailwire.h"

#include "ServiceLog.h"

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

// Skips continuation lines up to the final "### " line of a reply.
bool Mailwire::readReply(QString& code) {
    for (;;) {
        QString line;
        m_tcp.GetResponseOneLine(line);
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
    const QString unsafe = unsafeEnvelopeValue();
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

QString Mailwire::unsafeEnvelopeValue() const {
    if (hasLineBreak(m_clientName))
        return QStringLiteral("the client name (HELO)");
    if (hasLineBreak(m_reversePath))
        return QStringLiteral("the sender address (MAIL FROM)");
    for (const QString& a : m_forwardPaths)
        if (hasLineBreak(a))
            return QStringLiteral("a recipient address (RCPT TO)");
    return QString();
}

void Mailwire::refuse(const QString& what) {
    const QString description =
        QStringLiteral("Line break in %1: the message was not sent").arg(what);
    AddErrorLog("Mailwire", "Send", kRefusedText, description);
    m_errorMessage =
        QStringLiteral("+++ ") + QString::number(kRefusedText) + QLatin1Char(' ') + description;
}

} // namespace mailwire
