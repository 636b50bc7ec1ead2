// One recovery notice through the mail (the program's loader and the mail
// library, to a local aiosmtpd) and a webhook (a local HTTP server), as the
// alarm step sends it, median of 50. Target: under 10 ms. Also shows each
// channel alone.
#include "BenchUtil.h"

#include "alerts/MailAlert.h"
#include "alerts/Notices.h"
#include "support/PeerProcess.h"
#include "support/TestFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    QTextStream out(stdout);
    testsupport::PeerProcess sink(QStringLiteral("smtp_sink.py"), {});
    testsupport::WebhookServer hook(false);
    if (!sink.failure().isEmpty() || !hook.failure().isEmpty()) {
        out << "bench_notice: " << sink.failure() << hook.failure() << "\n";
        return 1;
    }
    testsupport::TestFolder folder(true);
    AppState state(folder.folder());
    state.DatabasePath = state.AppFolder + QStringLiteral("PLW");
    state.EMARGE_SERVER = QStringLiteral("127.0.0.1:") + sink.firstLine().section(' ', 1);
    state.WEBHOOK_URL = QStringLiteral("http://127.0.0.1:%1/hook").arg(hook.port());
    testsupport::FixedClock clock(QDateTime::currentDateTime());
    events::EventLog log(state, clock);
    platform::Ending ending;
    alerts::MailAlert mail(state, clock, QStringLiteral(MAILWIRE_LIBRARY));
    alerts::Notices notices(state, log, ending);
    const QList<alerts::Recovered> servers{
        {QStringLiteral("db1"), QStringLiteral("本社"), clock.now().addSecs(-3600), clock.now()}};

    std::vector<double> both, mailOnly, hookOnly;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        const bool sent = mail.SendRecovery(state.EMARGE_SERVER, QStringLiteral("ops@example.jp"),
                                            servers, clock.now(), QDeadlineTimer(15000));
        const double m = t.nsecsElapsed() / 1e6;
        notices.recovery(servers, QDeadlineTimer(10000));
        both.push_back(t.nsecsElapsed() / 1e6);
        mailOnly.push_back(m);
        hookOnly.push_back(both.back() - m);
        if (!sent) {
            out << "the mail failed: " << mail.lastError() << "\n";
            return 1;
        }
    }
    if (QFile::exists(log.textLogPath()) || hook.logged().size() != rounds) {
        out << "the webhook failed: " << folder.read(QStringLiteral("Pulsewatch.LOG")) << "\n";
        return 1;
    }
    const double a = median(both);
    out << "rounds: " << rounds << "\n";
    out << "recovery notice, mail + webhook: median " << QString::number(a, 'f', 2) << " ms\n";
    out << "  mail alone " << QString::number(median(mailOnly), 'f', 2) << " ms, webhook alone "
        << QString::number(median(hookOnly), 'f', 2) << " ms\n";
    out << (a < 10.0 ? "target met" : "target missed") << " (under 10 ms)\n";
    return a < 10.0 ? 0 : 1;
}
