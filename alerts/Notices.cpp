#include "alerts/Notices.h"

#include "platform/DesktopNotice.h"
#include "platform/Webhook.h"

#include <QUrl>

namespace alerts {

QString downTime(const QDateTime& from, const QDateTime& to) {
    const qint64 minutes = std::max<qint64>(from.secsTo(to), 0) / 60;
    return QStringLiteral("%1時間%2分").arg(minutes / 60).arg(minutes % 60);
}

QString downNoticeText(const AppState& state, const QDateTime& now) {
    QString t = QStringLiteral("【Pulsewatch】サーバーダウンの可能性\n発生時刻: ") +
                platform::generalDate(now);
    const int count = state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& s = state.Servers[i];
        if (s.Check == 1 && s.Status == -1)
            t += QStringLiteral("\n・") + s.Name + QStringLiteral(": ") +
                 (s.Message.isEmpty() ? QStringLiteral("原因不明") : s.Message);
    }
    return t;
}

QString recoveryNoticeText(const QList<Recovered>& servers) {
    QString t = QStringLiteral("【Pulsewatch】サーバー復旧");
    for (const Recovered& r : servers)
        t += QStringLiteral("\n・") + r.name +
             (r.remark.isEmpty() ? QString()
                                 : QStringLiteral("（") + r.remark + QStringLiteral("）")) +
             QStringLiteral(": ダウン検出 ") + platform::generalDate(r.downSince) +
             QStringLiteral("、復旧 ") + platform::generalDate(r.upAt) +
             QStringLiteral("、ダウン時間 ") + downTime(r.downSince, r.upAt);
    return t;
}

Notices::Notices(const AppState& state, events::EventLog& log, const platform::Ending& ending)
    : m_state(state), m_log(log), m_ending(ending) {}

void Notices::down(const QDateTime& now, const QDeadlineTimer& until) {
    send(QStringLiteral("サーバーダウンの可能性"), downNoticeText(m_state, now), true, until);
}

void Notices::recovery(const QList<Recovered>& servers, const QDeadlineTimer& until) {
    send(QStringLiteral("サーバー復旧"), recoveryNoticeText(servers), false, until);
}

void Notices::send(const QString& summary, const QString& text, bool critical,
                   const QDeadlineTimer& until) {
    // The desktop first: it costs nothing and waits for nothing.
    if (m_state.DESKTOP_NOTICE == 1)
        platform::notifyDesktop(summary, text, critical, [this](const QString& why) {
            if (why.isEmpty() || m_desktopFailureTold)
                return;
            m_desktopFailureTold = true;
            m_log.appendTextLog(QStringLiteral("デスクトップ通知を表示できません: ") + why);
        });
    if (m_state.WEBHOOK_URL.isEmpty())
        return;
    const QString failure =
        platform::postWebhook({m_state.WEBHOOK_URL, m_state.WEBHOOK_FORMAT, m_state.WEBHOOK_CAFILE},
                              text, until, m_ending);
    if (!failure.isEmpty() && !m_ending.requested())
        m_log.appendTextLog(
            QStringLiteral("Webhook (%1) に送信できませんでした: %2")
                .arg(platform::webhookOrigin(QUrl(m_state.WEBHOOK_URL.trimmed())), failure));
}

} // namespace alerts
