#include "alerts/MailAlert.h"

#include "mailwire/mailwire.h"

#include <QLibrary>
#include <QStringList>

namespace alerts {
namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kSeparator = QString(100, QLatin1Char('-')) + kCrLf;

} // namespace

MailAlert::MailAlert(const AppState& state, const platform::Clock& clock, QString libraryPath)
    : m_state(state), m_clock(clock), m_libraryPath(std::move(libraryPath)) {
    if (m_libraryPath.isEmpty())
        m_libraryPath = libraryIn(m_state);
}

QString MailAlert::libraryIn(const AppState& state) {
    return state.AppFolder + QStringLiteral("libmailwire.so");
}

MailRelay MailRelay::fromSettings(const AppState& state, const QString& server) {
    return {server,           state.EMARGE_PORT,  state.EMARGE_SECURITY, state.EMARGE_USER,
            state.EMARGE_PWD, state.EMARGE_CAFILE};
}

QString MailAlert::reportBody(const AppState& state, const QDateTime& now, const QString& closing) {
    QString b = QStringLiteral("☆サーバーダウン報告書（可能性）") + kCrLf + kCrLf;
    b += kSeparator;
    b += QStringLiteral("発生時刻　　　　　= ") + platform::generalDate(now) + kCrLf;
    b += kSeparator + kCrLf;
    const int count = state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& s = state.Servers[i];
        if (s.Check != 1 || s.Status != -1)
            continue;
        b += kSeparator;
        b += QStringLiteral("サーバー名　　　　= ") + s.Name + kCrLf;
        b += QStringLiteral("エラーメッセージ  = ") + s.Message + kCrLf;
        b += kSeparator + kCrLf;
    }
    b += kSeparator + kCrLf;
    b += closing;
    return b;
}

bool MailAlert::SendEmail(const QString& strServer, const QString& strSubject, const QString& strTo,
                          const QString& strRealName, const QString& strClosing,
                          const QString& strFrom) {
    m_lastError = send(
        m_libraryPath, MailRelay::fromSettings(m_state, strServer),
        {strSubject, strTo, strRealName, reportBody(m_state, m_clock.now(), strClosing), strFrom},
        m_timeoutMs);
    return m_lastError.isEmpty();
}

namespace {

// A port from 1 to 65535, or 0.
int portIn(const QString& text) {
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    return ok && port > 0 && port <= 0xFFFF ? port : 0;
}

} // namespace

QString MailAlert::send(const QString& libraryPath, const MailRelay& relay, const MailText& mail,
                        int timeoutMs) {
    QLibrary library(libraryPath);
    const auto create = reinterpret_cast<MailwireCreateFn>(library.resolve(kMailwireCreateSymbol));
    const auto release =
        reinterpret_cast<MailwireReleaseFn>(library.resolve(kMailwireReleaseSymbol));
    // Without its release an object could not be given back: make none.
    MailwireObject* object = create && release ? create("VBMailwire.SmtpMailer") : nullptr;
    _SmtpMailer* mailer = object ? object->querySmtpMailer() : nullptr;
    if (!mailer) {
        if (object)
            release(object);
        return create && release ? QStringLiteral("VBMailwire.SmtpMailer を作成できません。")
                                 : library.errorString();
    }
    if (timeoutMs > 0)
        mailer->setTimeoutMs(timeoutMs);
    // "host:port" reaches a relay on a port of its own; a plain host (or an
    // IPv6 address, colons and all) takes the port setting, or the usual
    // port of the security mode.
    const QStringList hostPort = relay.server.split(QLatin1Char(':'));
    int port = hostPort.size() == 2 ? portIn(hostPort[1]) : 0;
    mailer->setServerName(port ? hostPort[0] : relay.server);
    if (!port)
        port = portIn(relay.port);
    if (!port)
        port = MailRelay::usualPort(relay.security);
    // The library's port is 16-bit signed; its transport reads the same
    // bits back as unsigned, so ports above 32767 arrive intact.
    mailer->setServerPort(static_cast<qint16>(static_cast<quint16>(port)));
    mailer->setSecurityMode(relay.security);
    mailer->setUserName(relay.user);
    mailer->setPassword(relay.password);
    mailer->setCaFile(relay.caFile);
    mailer->setClientMailAddress(relay.user.contains(QLatin1Char('@')) ? relay.user : mail.from);
    mailer->setClientRealName(mail.realName);
    mailer->SetTo(mail.to);
    mailer->SetSubject(mail.subject);
    mailer->SetSentense(mail.body);
    mailer->SendMail();
    const QString error = mailer->ErrorMessage();
    release(object);
    return error;
}

} // namespace alerts
