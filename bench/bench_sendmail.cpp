// One complete SendMail to a local aiosmtpd against swaks sending the same
// message to the same server, alternating, median of 20 each.
#include "BenchUtil.h"
#include "SmtpMailer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTextStream out(stdout);
    QTemporaryDir dir;

    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(PW_SMTP_SINK), dir.filePath(QStringLiteral("mail.jsonl"))});
    QByteArray ready;
    while (!ready.contains('\n') && server.waitForReadyRead(10000))
        ready += server.readAllStandardOutput();
    if (!ready.startsWith("READY ")) {
        out << "aiosmtpd did not start: " << server.readAllStandardError() << "\n";
        return 1;
    }
    const quint16 port = static_cast<quint16>(ready.mid(6).trimmed().toUInt());

    auto fill = [port](mailwire::SmtpMailer& m) {
        m.setServerName(QStringLiteral("127.0.0.1"));
        m.setServerPort(static_cast<qint16>(port));
        m.setClientMailAddress(QStringLiteral("watch@example.jp"));
        m.setClientRealName(QStringLiteral("Pulsewatch"));
        m.SetTo(QStringLiteral("ops@example.jp"));
        m.SetSubject(QStringLiteral("サーバーダウンの可能性"));
        m.SetSentense(QStringLiteral("【fileserver】 - ICMP Request Timeout"));
    };
    // swaks gets the very message the library composes.
    const QString message = dir.filePath(QStringLiteral("message.eml"));
    {
        mailwire::SmtpMailer m;
        fill(m);
        m.ComposeMessage(QDateTime::currentDateTime());
        QFile f(message);
        if (!f.open(QIODevice::WriteOnly)) {
            out << "cannot write " << message << "\n";
            return 1;
        }
        f.write(m.message().toLatin1());
    }

    std::vector<double> ours, peer;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        {
            mailwire::SmtpMailer m;
            fill(m);
            m.SendMail();
            if (!m.ErrorMessage().isEmpty()) {
                out << "SendMail failed: " << m.ErrorMessage() << "\n";
                return 1;
            }
        }
        ours.push_back(t.nsecsElapsed() / 1e6);

        QProcess swaks;
        t.restart();
        swaks.start(QStringLiteral("swaks"),
                    {QStringLiteral("--server"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("--port"), QString::number(port), QStringLiteral("--from"),
                     QStringLiteral("watch@example.jp"), QStringLiteral("--to"),
                     QStringLiteral("ops@example.jp"), QStringLiteral("--data"), message,
                     QStringLiteral("--silent"), QStringLiteral("2")});
        if (!swaks.waitForFinished(30000) || swaks.exitCode() != 0) {
            out << "swaks failed: " << swaks.readAllStandardError() << "\n";
            return 1;
        }
        peer.push_back(t.nsecsElapsed() / 1e6);
    }
    server.closeWriteChannel();
    server.waitForFinished(5000);

    const double a = median(ours), b = median(peer);
    out << "rounds: " << rounds << "\n";
    out << "SendMail median " << QString::number(a, 'f', 2) << " ms\n";
    out << "swaks    median " << QString::number(b, 'f', 2) << " ms\n";
    out << "ratio SendMail / swaks: " << QString::number(a / b, 'f', 2) << "\n";
    return 0;
}
