#include "alerts/MailAlert.h"

#include "alerts/Notices.h"

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
    return send(
        strServer,
        {strSubject, strTo, strRealName, reportBody(m_state, m_clock.now(), strClosing), strFrom},
        until);
}

bool MailAlert::SendRecovery(const QString& strServer, const QString& strTo,
                             const QList<Recovered>& servers, const QDateTime& now,
                             const QDeadlineTimer& until) {
    return send(strServer,
                {QStringLiteral("サーバー復旧"), strTo, QStringLiteral("Pulsewatch"),
                 recoveryBody(servers, now), QStringLiteral("P/L/W(Pulsewatch)")},
                until);
}

QString MailAlert::recoveryBody(const QList<Recovered>& servers, const QDateTime& now) {
    QString b = QStringLiteral("☆サーバー復旧報告書") + kCrLf + kCrLf;
    b += kSeparator;
    b += QStringLiteral("確認時刻　　　　　= ") + platform::generalDate(now) + kCrLf;
    b += kSeparator + kCrLf;
    for (const Recovered& r : servers) {
        b += kSeparator;
        b += QStringLiteral("サーバー名　　　　= ") + r.name + kCrLf;
        b += QStringLiteral("備考　　　　　　　= ") + r.remark + kCrLf;
        b += QStringLiteral("ダウン検出時刻　　= ") + platform::generalDate(r.downSince) + kCrLf;
        b += QStringLiteral("復旧時刻　　　　　= ") + platform::generalDate(r.upAt) + kCrLf;
        b += QStringLiteral("ダウン時間　　　　= ") + downTime(r.downSince, r.upAt) + kCrLf;
        b += kSeparator + kCrLf;
    }
    b += kSeparator + kCrLf;
    b += QStringLiteral("以上サーバーが復旧しました。");
    return b;
}

bool MailAlert::send(const QString& server, const MailText& mail, const QDeadlineTimer& until) {
    if (until.hasExpired()) {
        m_lastError = QStringLiteral("メールに使える時間が残っていないため、送信しませんでした。");
        return false;
    }
    // The whole send, every step of it, gets no more than the time left.
    const int totalMs =
        until.isForever() ? 0 : static_cast<int>(std::max<qint64>(until.remainingTime(), 1));
    m_lastError = platform::sendMail(m_libraryPath, relayFromSettings(m_state, server), mail,
                                     m_timeoutMs, totalMs, m_ending);
    return m_lastError.isEmpty();
}

} // namespace alerts
