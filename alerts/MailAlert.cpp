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
        m_libraryPath = m_state.AppFolder + QStringLiteral("libmailwire.so");
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
    m_lastError.clear();
    QLibrary library(m_libraryPath);
    const auto create = reinterpret_cast<MailwireCreateFn>(library.resolve(kMailwireCreateSymbol));
    const auto release =
        reinterpret_cast<MailwireReleaseFn>(library.resolve(kMailwireReleaseSymbol));
    // Without its release an object could not be given back: make none.
    MailwireObject* object = create && release ? create("VBMailwire.SmtpMailer") : nullptr;
    _SmtpMailer* mailer = object ? object->querySmtpMailer() : nullptr;
    if (!mailer) {
        m_lastError = create && release ? QStringLiteral("VBMailwire.SmtpMailer を作成できません。")
                                        : library.errorString();
        if (object)
            release(object);
        return false;
    }
    if (m_timeoutMs > 0)
        mailer->setTimeoutMs(m_timeoutMs);
    // "host:port" reaches a relay on a port of its own; a plain host (or an
    // IPv6 address, colons and all) keeps the library's port 25.
    const QStringList hostPort = strServer.split(QLatin1Char(':'));
    bool portOk = false;
    const int port = hostPort.size() == 2 ? hostPort[1].toInt(&portOk) : 0;
    if (portOk && port > 0 && port <= 0xFFFF) {
        mailer->setServerName(hostPort[0]);
        // The library's port is 16-bit signed; its transport reads the same
        // bits back as unsigned, so ports above 32767 arrive intact.
        mailer->setServerPort(static_cast<qint16>(static_cast<quint16>(port)));
    } else {
        mailer->setServerName(strServer);
    }
    mailer->setClientMailAddress(strFrom);
    mailer->setClientRealName(strRealName);
    mailer->SetTo(strTo);
    mailer->SetSubject(strSubject);
    mailer->SetSentense(reportBody(m_state, m_clock.now(), strClosing));
    mailer->SendMail();
    m_lastError = mailer->ErrorMessage();
    release(object);
    return m_lastError.isEmpty();
}

} // namespace alerts
