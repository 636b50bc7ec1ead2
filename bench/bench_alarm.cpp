// Time from Timer1's tick to the emergency window when a peer fails, against
// the same run with healthy peers, and time from SIGTERM to the end of the
// process in each wait of a cycle. The program is program_run (the shipped
// wiring, ticking every 300 ms) in a network namespace with loopback only:
// its one server, 10.200.0.1, is down at once; the relay and the modem are
// the tests' scripted ones. Medians of ROUNDS (default 3 for the window,
// 5 for the quit). Needs root.
#include "BenchUtil.h"

#include "support/Netns.h"
#include "support/ScriptedSmtp.h"
#include "support/TestFolder.h"
#include "support/VirtualModem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTextStream>

#include <memory>

using namespace testsupport;
using Pieces = QList<VirtualModem::Piece>;

namespace {

struct Peers {
    bool relay = true;        // a relay at all
    bool relaySilent = false; // it never greets
    QByteArray modem;         // the modem's answer to a dial; "" for no telephone
    bool dialup = false;      // USED_LAN 0 with a link that connects at once
    bool deadDns = false;     // the server named, and the DNS server drops every query
};

class Run {
public:
    Run(Netns& netns, const QString& ns, const Peers& peers) {
        if (peers.deadDns) {
            netns.setResolvConf(ns, "nameserver 127.0.0.53\n");
            Netns::startDns(m_dns, ns, QStringLiteral("127.0.0.53"), false, {});
        }
        {
            EnterNetns in(ns);
            m_relay = std::make_unique<ScriptedSmtp>();
        }
        if (peers.relaySilent)
            m_relay->greeting(ScriptedSmtp::Action{{}, false, true});
        m_modem = std::make_unique<VirtualModem>([answer = peers.modem](const QByteArray& c) {
            return Pieces{{0, c.startsWith("ATDT") ? answer : QByteArray("\r\nOK\r\n")}};
        });
        QFile::copy(QStringLiteral(PROGRAM_RUN), m_folder.path(QStringLiteral("program_run")));
        QFile::setPermissions(m_folder.path(QStringLiteral("program_run")),
                              QFile::ReadOwner | QFile::ExeOwner);
        QFile::copy(QStringLiteral(MAILWIRE_LIBRARY),
                    m_folder.path(QStringLiteral("libmailwire.so")));
        m_folder.write(QStringLiteral("ServerList"),
                       "[Pulsewatch]\r\nSERVER_CNT=1\r\nSERVER_NAME1=" +
                           QByteArray(peers.deadDns ? "srv.pulsewatch.test" : "10.200.0.1") +
                           "\r\nSERVER_CHECK1=1\r\n");
        QByteArray general = "[Pulsewatch]\r\nmINTERVAL=1\r\nRETRY=0\r\nCOMSETTING=9600,N,8,1\r\n";
        if (peers.relay)
            general += "EMARGE_SERVER=127.0.0.1:" + QByteArray::number(m_relay->port()) +
                       "\r\nEMARGE_MAIL=ops@example.jp\r\nEMARGE_MAIL2=boss@example.jp\r\n";
        if (!peers.modem.isEmpty())
            general += "TEL1=03\r\nTEL2=1234\r\nTEL3=5678\r\nTEL4=090\r\nTEL5=1111\r\nTEL6=2222\r\n"
                       "COMPORT=" +
                       m_modem->programSide().toUtf8() + "\r\n";
        general += peers.dialup ? "USED_LAN=0\r\nDIAL_ENTRY=isp\r\n" : "USED_LAN=1\r\n";
        m_folder.write(QStringLiteral("Pulsewatch"), general);
        m_program.setStandardErrorFile(QProcess::nullDevice());
        QObject::connect(&m_program, &QProcess::readyReadStandardOutput,
                         [this] { m_out += m_program.readAllStandardOutput(); });
        QStringList args{QStringLiteral("netns"), QStringLiteral("exec"), ns,
                         m_folder.path(QStringLiteral("program_run")), QStringLiteral("300")};
        if (peers.dialup)
            args << QStringLiteral("fake-dialup");
        m_program.start(QStringLiteral("ip"), args);
    }
    ~Run() {
        m_program.kill();
        m_program.waitForFinished(5000);
        m_dns.kill();
        m_dns.waitForFinished(5000);
    }
    qint64 at(const char* what) const {
        const auto m = QRegularExpression(QLatin1String(what) + QStringLiteral(" (\\d+)"))
                           .match(QString::fromUtf8(m_out));
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    }
    bool waitFor(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }
    QString said() const { return QString::fromUtf8(m_out); }
    ScriptedSmtp& relay() { return *m_relay; }
    VirtualModem& modem() { return *m_modem; }
    // SIGTERM; milliseconds until the process was gone.
    double end() {
        QElapsedTimer t;
        t.start();
        m_program.terminate();
        m_program.waitForFinished(10000);
        return t.nsecsElapsed() / 1e6;
    }

private:
    TestFolder m_folder;
    std::unique_ptr<ScriptedSmtp> m_relay;
    std::unique_ptr<VirtualModem> m_modem;
    QProcess m_program;
    QProcess m_dns;
    QByteArray m_out;
};

} // namespace

int main(int argc, char** argv) {
    // The program runs without a display; its window opens offscreen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QTextStream out(stdout);
    if (const QString why = Netns::unavailableReason(); !why.isEmpty()) {
        out << "bench_alarm: " << why << "\n";
        return 1;
    }
    Netns netns;
    const QString ns = netns.add(QStringLiteral("bench"));

    const struct {
        const char* label;
        Peers peers;
    } windows[] = {
        {"healthy relay, no telephone", {true, false, {}, false}},
        {"relay that never greets", {true, true, {}, false}},
        {"healthy modem (two calls held 10 s each)", {true, false, "\r\nOK\r\n", false}},
        {"modem answering BUSY", {true, false, "\r\nBUSY\r\n", false}},
        {"relay that never greets + BUSY modem", {true, true, "\r\nBUSY\r\n", false}},
        {"server by name, DNS server dead", {true, false, {}, false, true}},
    };
    out << "tick to emergency window (median of " << rounds << "):\n";
    for (const auto& w : windows) {
        std::vector<double> ms;
        for (int r = 0; r < rounds; ++r) {
            Run run(netns, ns, w.peers);
            if (!run.waitFor([&] { return run.at("sound") > 0; }, 60000)) {
                out << "  " << w.label << ": no window (" << run.said() << ")\n";
                return 1;
            }
            ms.push_back(run.at("sound") - run.at("tick"));
        }
        out << "  " << w.label << ": " << QString::number(median(ms), 'f', 0) << " ms\n";
    }

    const struct {
        const char* label;
        Peers peers;
        std::function<bool(Run&)> inState;
    } quits[] = {
        {"relay wait", {true, true, {}, false}, [](Run& r) { return r.relay().connections() > 0; }},
        // A modem that dials and never says how it went.
        {"modem dialling",
         {false, false, "\r\n", false},
         [](Run& r) { return r.modem().received().contains("ATDT"); }},
        {"modem holding the line",
         {false, false, "\r\nOK\r\n", false},
         [](Run& r) { return r.modem().received().contains("ATDT"); }},
        {"pause after hang-up",
         {false, false, {}, true},
         [](Run& r) { return r.at("hangup") > 0; }},
        {"name lookup, DNS server dead",
         {false, false, {}, false, true},
         [](Run& r) { return r.at("tick") > 0; }},
    };
    out << "SIGTERM to exit (median of " << std::max(rounds, 5) << "):\n";
    for (const auto& q : quits) {
        std::vector<double> ms;
        for (int r = 0; r < std::max(rounds, 5); ++r) {
            Run run(netns, ns, q.peers);
            if (!run.waitFor([&] { return q.inState(run); }, 30000)) {
                out << "  " << q.label << ": never got there\n";
                return 1;
            }
            QTest::qWait(300);
            ms.push_back(run.end());
        }
        out << "  " << q.label << ": " << QString::number(median(ms), 'f', 0) << " ms\n";
    }
    return 0;
}
