#include "alerts/MailAlert.h"

#include <algorithm>


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
    return platform::mailLibraryIn(state.AppFolder);
}

MailRelay MailAlert::relayFromSettings(const AppState& state, const QString& server) {
    return {server,           state.EMARGE_PORT,   state.EMARGE_SECURITY, state.EMARGE_USER,
            state.EMARGE_PWD, state.EMARGE_CAFILE, state.EMARGE_FROM};
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
                          const QString& strFrom, const QDeadlineTimer& until) {
    if (until.hasExpired()) {
        m_lastError = QStringLiteral("メールに使える時間が残っていないため、送信しませんでした。");
        return false;
    }
    // Each wait of the library gets no more than the time left.
    int timeoutMs = m_timeoutMs > 0 ? m_timeoutMs : kLibraryTimeoutMs;
    if (!until.isForever())
        timeoutMs = static_cast<int>(std::min<qint64>(timeoutMs, until.remainingTime()));
    m_lastError = platform::sendMail(
        m_libraryPath, relayFromSettings(m_state, strServer),
        {strSubject, strTo, strRealName, reportBody(m_state, m_clock.now(), strClosing), strFrom},
        std::max(timeoutMs, 1));
    return m_lastError.isEmpty();
}

} // namespace alerts
