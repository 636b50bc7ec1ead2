// The notices beside the mail against real counterparts: an HTTPS webhook
// on loopback with a throw-away CA, and a notification service of the
// test's own on a private session bus.
#include "alerts/Notices.h"

#include "platform/AnsiText.h"
#include "support/PeerProcess.h"
#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTest>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QString kSecretPath = QStringLiteral("/services/T0001/B0002/s3cr3tT0ken");

class NoticesTest : public ::testing::Test {
protected:
    TestFolder folder;
    AppState state{folder.folder()};
    FixedClock clock{QDateTime(QDate(2026, 12, 8), QTime(3, 4, 5))};
    events::EventLog log{state, clock};
    platform::Ending ending;
    alerts::Notices notices{state, log, ending};
    const QList<alerts::Recovered> recovered{{QStringLiteral("db1"), QStringLiteral("本社"),
                                              QDateTime(QDate(2026, 12, 8), QTime(1, 0)),
                                              QDateTime(QDate(2026, 12, 8), QTime(3, 4, 5))}};

    void SetUp() override {
        state.SERVER_CNT = 2;
        state.Servers[1] = {QStringLiteral("db1"), QStringLiteral("ICMP Request Timeout"),
                            QString(), 1, -1};
        state.Servers[2] = {QStringLiteral("web"), QString(), QString(), 1, 1};
    }
    QStringList textLog() const {
        return platform::fromAnsi(folder.read(QStringLiteral("Pulsewatch.LOG")))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
};

} // namespace

TEST_F(NoticesTest, DownAndRecoveryReachAnHttpsWebhook) {
    WebhookServer hook(true);
    ASSERT_EQ(hook.failure(), QString());
    state.WEBHOOK_URL = QStringLiteral("https://127.0.0.1:%1").arg(hook.port()) + kSecretPath;
    state.WEBHOOK_CAFILE = testCertificates() + QStringLiteral("/ca.pem");
    notices.down(clock.now(), QDeadlineTimer(10000));
    notices.recovery(recovered, QDeadlineTimer(10000));
    state.WEBHOOK_FORMAT = QStringLiteral("text");
    notices.recovery(recovered, QDeadlineTimer(10000));

    const QList<QJsonObject> posts = hook.logged();
    ASSERT_EQ(posts.size(), 3);
    for (const QJsonObject& p : posts)
        EXPECT_EQ(p[QStringLiteral("path")].toString(), kSecretPath);
    const auto text = [&](int i) {
        return QJsonDocument::fromJson(posts[i][QStringLiteral("body")].toString().toUtf8())
            .object()[QStringLiteral("text")]
            .toString();
    };
    EXPECT_EQ(posts[0][QStringLiteral("type")].toString(),
              QStringLiteral("application/json; charset=utf-8"));
    EXPECT_EQ(text(0), QStringLiteral("【Pulsewatch】サーバーダウンの可能性\n発生時刻: 2026/12/08 "
                                      "3:04:05\n・db1: ICMP Request Timeout"));
    EXPECT_EQ(text(1), QStringLiteral("【Pulsewatch】サーバー復旧\n・db1（本社）: ダウン検出 "
                                      "2026/12/08 1:00:00、復旧 2026/12/08 3:04:05、ダウン時間 "
                                      "2時間4分"));
    EXPECT_EQ(posts[2][QStringLiteral("type")].toString(),
              QStringLiteral("text/plain; charset=utf-8"));
    EXPECT_EQ(posts[2][QStringLiteral("body")].toString(), text(1));
    EXPECT_EQ(textLog(), QStringList());
}

// A webhook that fails leaves one line that says why, never the secret
// path; one that never answers costs no more than the time it was given.
TEST_F(NoticesTest, AWebhookThatFailsIsOneLineWithoutItsSecret) {
    const struct {
        QStringList server;
        bool tls, trusted;
        const char* said;
    } cases[] = {
        {{QStringLiteral("--status"), QStringLiteral("404")}, false, true, "HTTP 404"},
        {{QStringLiteral("--silent")}, false, true, "時間内に応答がありません"},
        {{}, true, false, "サーバーの証明書を確認できません"},
    };
    int lines = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        WebhookServer hook(c.tls, c.server);
        ASSERT_EQ(hook.failure(), QString());
        state.WEBHOOK_URL = QStringLiteral("%1://user:pass@127.0.0.1:%2")
                                .arg(c.tls ? "https" : "http")
                                .arg(hook.port()) +
                            kSecretPath;
        QElapsedTimer t;
        t.start();
        notices.down(clock.now(), QDeadlineTimer(1000));
        EXPECT_LT(t.elapsed(), 3000);
        const QStringList logged = textLog();
        ASSERT_EQ(logged.size(), ++lines);
        EXPECT_TRUE(logged.last().contains(QString::fromUtf8(c.said))) << logged.last();
        EXPECT_TRUE(logged.last().contains(QStringLiteral("127.0.0.1"))) << logged.last();
        for (const char* secret : {"s3cr3t", "services", "pass"})
            EXPECT_FALSE(logged.last().contains(QLatin1String(secret))) << logged.last();
    }
}

// Down notices are critical and recovery notices normal, through the
// desktop's own service; without one the cost is a single line, once.
TEST_F(NoticesTest, TheDesktopGetsTheNoticesOrOneLineOnce) {
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    if (!bus.waitForStarted(5000) || !bus.waitForReadyRead(5000))
        GTEST_SKIP() << "dbus-daemon cannot run here (scripts/install-deps.sh installs it)";
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(address));
    PeerProcess service(QStringLiteral("notification_service.py"), {}, env);
    ASSERT_EQ(service.failure(), QString());

    state.DESKTOP_NOTICE = 1;
    notices.down(clock.now(), QDeadlineTimer(1000));
    notices.recovery(recovered, QDeadlineTimer(1000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.logged().size() == 2; }, 5000));
    const QList<QJsonObject> shown = service.logged();
    EXPECT_EQ(shown[0][QStringLiteral("app")].toString(), QStringLiteral("Pulsewatch"));
    EXPECT_EQ(shown[0][QStringLiteral("icon")].toString(), QStringLiteral("pulsewatch"));
    EXPECT_EQ(shown[0][QStringLiteral("summary")].toString(),
              QStringLiteral("サーバーダウンの可能性"));
    EXPECT_TRUE(shown[0][QStringLiteral("body")].toString().contains(QStringLiteral("db1")));
    EXPECT_EQ(shown[0][QStringLiteral("urgency")].toInt(), 2);
    EXPECT_EQ(shown[1][QStringLiteral("summary")].toString(), QStringLiteral("サーバー復旧"));
    EXPECT_EQ(shown[1][QStringLiteral("urgency")].toInt(), 1);

    service.stop();
    QElapsedTimer t;
    t.start();
    notices.down(clock.now(), QDeadlineTimer(1000));
    notices.down(clock.now(), QDeadlineTimer(1000));
    EXPECT_LT(t.elapsed(), 500) << "the notice waited for the desktop";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !textLog().isEmpty(); }, 10000));
    QTest::qWait(300);
    const QStringList logged = textLog();
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].contains(QStringLiteral("デスクトップ通知を表示できません")));
    bus.kill();
    bus.waitForFinished(3000);
}
