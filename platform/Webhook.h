#pragma once

#include "platform/Ending.h"

#include <QDeadlineTimer>
#include <QString>
#include <QUrl>

namespace platform {

/// Where a chat webhook is and what it takes.
struct WebhookTarget {
    QString url;
    /// "text": the text alone as text/plain; anything else a JSON body
    /// {"text": "..."}, which chat services' incoming webhooks take.
    QString format;
    QString caFile; ///< PEM CA certificates to trust instead of the system's; "" for those
};

/// Why url cannot be a webhook ("" when it can): an http:// or https:// URL
/// with a host.
QString webhookUrlProblem(const QString& url);

/// scheme://host[:port] of url: all of it a log line may show, since the
/// path of a webhook is its secret and the URL may carry a login.
QString webhookOrigin(const QUrl& url);

/// Posts text (UTF-8) to the webhook, waiting with the event loop running
/// until the answer, until or the program's end. "" when the server
/// answered 2xx; otherwise why not (the HTTP status, or what went wrong on
/// the way), in words that never hold the URL's path, query or login.
QString postWebhook(const WebhookTarget& target, const QString& text, const QDeadlineTimer& until,
                    const Ending& ending);

} // namespace platform
