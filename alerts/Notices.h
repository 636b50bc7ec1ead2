#pragma once

#include "alerts/Alarms.h"
#include "events/EventLog.h"
#include "platform/Ending.h"
#include "settings/AppState.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

namespace alerts {

/// How long a server was down, as the notices say it: "1時間5分".
QString downTime(const QDateTime& from, const QDateTime& to);

/// The down report as the chat webhook and the desktop get it (UTF-8
/// Japanese): the same facts as the mail.
QString downNoticeText(const AppState& state, const QDateTime& now);
/// The recovery notice likewise.
QString recoveryNoticeText(const QList<Recovered>& servers);

/// The notices beside the mail: a chat webhook (WEBHOOK_URL) and the
/// desktop's notification service (DESKTOP_NOTICE), each off unless set
/// up. A webhook that fails leaves one line in the text log with the HTTP
/// status or what went wrong, never its URL's path or login; a desktop
/// without the service is said once.
class Notices {
public:
    Notices(const AppState& state, events::EventLog& log, const platform::Ending& ending);

    void down(const QDateTime& now, const QDeadlineTimer& until);
    void recovery(const QList<Recovered>& servers, const QDeadlineTimer& until);

private:
    void send(const QString& summary, const QString& text, bool critical,
              const QDeadlineTimer& until);

    const AppState& m_state;
    events::EventLog& m_log;
    const platform::Ending& m_ending;
    bool m_desktopFailureTold = false;
};

} // namespace alerts
