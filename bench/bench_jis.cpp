// The JIS conversion over 10 MB of Japanese text against
// `iconv -f CP932 -t ISO-2022-JP` on the same bytes, in the same run. Both
// the byte path (code page 932 in, as iconv gets it) and the text path the
// composer uses (Unicode text in, code page 932 conversion included) are
// timed. The text uses JIS X 0208 only, since glibc's ISO-2022-JP refuses
// the code page 932 extensions.
#include "BenchUtil.h"
#include "ServiceJisSjis.h"
#include "platform/AnsiText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    QTextStream out(stdout);

    const QString line =
        QStringLiteral("監視対象のサーバー「fileserver」が応答しません。ICMP Request Timeout "
                       "至急、ネットワークと電源を確認してください。\r\n");
    const qsizetype lineBytes = platform::toAnsi(line).size();
    QString text;
    for (qsizetype bytes = 0; bytes < 10 * 1000 * 1000; bytes += lineBytes)
        text += line;
    const QByteArray sjis = platform::toAnsi(text);

    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("text.sjis"));
    {
        QFile f(input);
        if (!f.open(QIODevice::WriteOnly) || f.write(sjis) != sjis.size()) {
            out << "cannot write " << input << "\n";
            return 1;
        }
    }

    std::vector<double> bytesPath, textPath, peer;
    QByteArray jis;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        mailwire::sjisBytesToJis(sjis, &jis);
        bytesPath.push_back(t.nsecsElapsed() / 1e6);

        t.restart();
        const QString viaText = mailwire::SjisToJis(text);
        textPath.push_back(t.nsecsElapsed() / 1e6);
        if (viaText.size() != jis.size()) {
            out << "the two paths disagree\n";
            return 1;
        }

        QProcess iconv;
        iconv.setStandardInputFile(input);
        iconv.setStandardOutputFile(QProcess::nullDevice());
        t.restart();
        iconv.start(QStringLiteral("iconv"), {QStringLiteral("-f"), QStringLiteral("CP932"),
                                              QStringLiteral("-t"), QStringLiteral("ISO-2022-JP")});
        if (!iconv.waitForFinished(60000) || iconv.exitCode() != 0) {
            out << "iconv failed: " << iconv.readAllStandardError() << "\n";
            return 1;
        }
        peer.push_back(t.nsecsElapsed() / 1e6);
    }
    const double mb = sjis.size() / 1e6;
    const double a = median(bytesPath), b = median(textPath), c = median(peer);
    out << "input " << QString::number(mb, 'f', 1) << " MB of code page 932, rounds: " << rounds
        << "\n";
    out << "sjisBytesToJis median " << QString::number(a, 'f', 1) << " ms ("
        << QString::number(mb / a * 1000, 'f', 0) << " MB/s)\n";
    out << "SjisToJis(text) median " << QString::number(b, 'f', 1) << " ms ("
        << QString::number(mb / b * 1000, 'f', 0) << " MB/s)\n";
    out << "iconv           median " << QString::number(c, 'f', 1) << " ms ("
        << QString::number(mb / c * 1000, 'f', 0) << " MB/s)\n";
    out << "ratio bytes / iconv: " << QString::number(a / c, 'f', 2)
        << ", text / iconv: " << QString::number(b / c, 'f', 2) << "\n";
    return 0;
}
