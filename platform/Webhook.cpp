#include "platform/Webhook.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>

#include <memory>

namespace platform {
namespace {

// What went wrong on the way, without Qt's own text: it quotes the URL.
QString transportError(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("接続を拒否されました");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("応答の前に接続を切られました");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("ホスト名を解決できません");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("時間内に応答がありません");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("TLS の接続に失敗しました");
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return QStringLiteral("ネットワークに接続できません");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return QStringLiteral("プロキシに接続できません");
    default:
        return QStringLiteral("送信できません (エラー %1)").arg(static_cast<int>(error));
    }
}

} // namespace

QString webhookUrlProblem(const QString& url) {
    const QUrl u(url.trimmed(), QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")) ||
        u.host().isEmpty())
        return QStringLiteral("http:// または https:// で始まる URL を入力してください。");
    return QString();
}

QString webhookOrigin(const QUrl& url) {
    QString origin = url.scheme() + QStringLiteral("://") + url.host(QUrl::FullyEncoded);
    if (url.port() > 0)
        origin += QLatin1Char(':') + QString::number(url.port());
    return origin;
}

QString postWebhook(const WebhookTarget& target, const QString& text, const QDeadlineTimer& until,
                    const Ending& ending) {
    if (const QString problem = webhookUrlProblem(target.url); !problem.isEmpty())
        return problem;
    const QUrl url(target.url.trimmed());
    if (until.hasExpired())
        return QStringLiteral("送信に使える時間が残っていません");

    QNetworkRequest request(url);
    QByteArray body;
    if (target.format.trimmed().compare(QLatin1String("text"), Qt::CaseInsensitive) == 0) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("text/plain; charset=utf-8"));
        body = text.toUtf8();
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/json; charset=utf-8"));
        body = QJsonDocument(QJsonObject{{QStringLiteral("text"), text}})
                   .toJson(QJsonDocument::Compact);
    }
    if (!target.caFile.isEmpty()) {
        const QList<QSslCertificate> cas = QSslCertificate::fromPath(
            target.caFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (cas.isEmpty())
            return QStringLiteral("CA ファイルに証明書がありません: %1").arg(target.caFile);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(cas);
        request.setSslConfiguration(tls);
    }
    request.setTransferTimeout(static_cast<int>(std::max<qint64>(1, until.remainingTime())));

    QNetworkAccessManager manager;
    const std::unique_ptr<QNetworkReply> reply(manager.post(request, body));
    QString tlsProblem;
    QObject::connect(reply.get(), &QNetworkReply::sslErrors, reply.get(),
                     [&tlsProblem](const QList<QSslError>& errors) {
                         if (!errors.isEmpty() && tlsProblem.isEmpty())
                             tlsProblem = errors.first().errorString();
                     });
    const WaitResult waited = waitFor(ending, until, [&] { return reply->isFinished(); });
    if (waited != WaitResult::Ready) {
        reply->abort();
        return waited == WaitResult::Ended ? QStringLiteral("プログラムの終了で中止しました")
                                           : QStringLiteral("時間内に応答がありません");
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300)
        return QString();
    if (status > 0)
        return QStringLiteral("HTTP %1 %2")
            .arg(status)
            .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
            .trimmed();
    if (!tlsProblem.isEmpty())
        return QStringLiteral("サーバーの証明書を確認できません (%1)").arg(tlsProblem);
    return transportError(reply->error());
}

} // namespace platform
