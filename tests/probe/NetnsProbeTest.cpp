// The probe against hosts in network namespaces made by the test:
//
//   A 10.99.1.2 -- 10.99.1.1 R1 10.99.2.1 -- 10.99.2.2 R2 10.99.3.1 -- 10.99.3.2 B
//
// R1 answers 10.99.9.0/24 with "host unreachable" and silently drops
// 10.99.8.0/24; B also answers as 10.99.3.11 to 10.99.3.19. The probe runs inside A, once through
// a raw socket and once through a ping socket (A's ping_group_range decides
// which).
#include "probe/C_PING.h"
#include "probe/ProbeEvents.h"
#include "support/Netns.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using testsupport::EnterNetns;
using testsupport::Netns;

namespace {

const QStringList kMoreOfB = [] {
    QStringList out;
    for (int i = 11; i <= 19; ++i)
        out << QStringLiteral("10.99.3.%1").arg(i);
    return out;
}();

struct Topology {
    Netns netns;
    QString a, r1, r2, b;

    bool build() {
        a = netns.add(QStringLiteral("A"));
        r1 = netns.add(QStringLiteral("R1"));
        r2 = netns.add(QStringLiteral("R2"));
        b = netns.add(QStringLiteral("B"));
        if (a.isEmpty() || r1.isEmpty() || r2.isEmpty() || b.isEmpty())
            return false;
        auto ip = [](const QString& ns, const QString& args) {
            return Netns::sh(QStringLiteral("ip -n %1 %2").arg(ns, args));
        };
        return netns.link(a, QStringLiteral("vA"), QStringLiteral("10.99.1.2/24"), r1,
                          QStringLiteral("vR1a"), QStringLiteral("10.99.1.1/24")) &&
               netns.link(r1, QStringLiteral("vR1b"), QStringLiteral("10.99.2.1/24"), r2,
                          QStringLiteral("vR2a"), QStringLiteral("10.99.2.2/24")) &&
               netns.link(r2, QStringLiteral("vR2b"), QStringLiteral("10.99.3.1/24"), b,
                          QStringLiteral("vB"), QStringLiteral("10.99.3.2/24")) &&
               ip(a, QStringLiteral("route add 10.99.0.0/16 via 10.99.1.1")) &&
               ip(r1, QStringLiteral("route add 10.99.3.0/24 via 10.99.2.2")) &&
               ip(r1, QStringLiteral("route add unreachable 10.99.9.0/24")) &&
               ip(r1, QStringLiteral("route add blackhole 10.99.8.0/24")) &&
               ip(r2, QStringLiteral("route add 10.99.0.0/16 via 10.99.2.1")) &&
               ip(b, QStringLiteral("route add 10.99.0.0/16 via 10.99.3.1")) &&
               std::all_of(kMoreOfB.begin(), kMoreOfB.end(),
                           [&](const QString& addr) {
                               return ip(b, QStringLiteral("addr add %1/24 dev vB").arg(addr));
                           }) &&
               netns.exec(r1, QStringLiteral("sysctl -qw net.ipv4.ip_forward=1")) &&
               netns.exec(r2, QStringLiteral("sysctl -qw net.ipv4.ip_forward=1")) &&
               // Routers limit ICMP errors; the tests ask for a few on purpose.
               netns.exec(r1, QStringLiteral("sysctl -qw net.ipv4.icmp_ratelimit=0")) &&
               netns.exec(r2, QStringLiteral("sysctl -qw net.ipv4.icmp_ratelimit=0"));
    }

    bool allowPingSockets(bool allow) {
        return netns.exec(a,
                          QStringLiteral("sysctl -qw net.ipv4.ping_group_range='%1'")
                              .arg(allow ? QStringLiteral("0 2147483647") : QStringLiteral("1 0")));
    }
};

std::unique_ptr<Topology> g_topology;
QString g_skipReason;

class NetnsProbe : public ::testing::TestWithParam<probe::SocketKind> {
public:
    static void SetUpTestSuite() {
        g_skipReason = Netns::unavailableReason();
        if (!g_skipReason.isEmpty())
            return;
        g_topology = std::make_unique<Topology>();
        if (!g_topology->build())
            g_skipReason = QStringLiteral("could not build the namespace topology with ip(8)");
    }
    static void TearDownTestSuite() { g_topology.reset(); }

protected:
    void SetUp() override {
        if (!g_skipReason.isEmpty())
            GTEST_SKIP() << g_skipReason.toStdString();
        ASSERT_TRUE(g_topology->allowPingSockets(GetParam() == probe::SocketKind::Datagram));
    }

    // Probes from inside A and checks the socket kind this case is about.
    // Each request waits waitMs for its answer; an answer ends the wait.
    QList<PingEventArgs> probe(const QString& host, int packets = 1, int ttl = 255,
                               bool* result = nullptr, int waitMs = 1000) {
        EnterNetns inA(g_topology->a);
        EXPECT_TRUE(inA.ok());
        C_PING p;
        QList<PingEventArgs> events;
        recordEvents(p, events);
        p.setPackets(packets);
        p.setTTL(ttl);
        p.setTimeout(waitMs);
        const bool ok = p.Ping(host);
        if (result)
            *result = ok;
        EXPECT_EQ(p.socketKind(), GetParam());
        return events;
    }
};

} // namespace

TEST_P(NetnsProbe, AHostTwoRoutersAwayAnswers) {
    const auto events = probe(QStringLiteral("10.99.3.2"));
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].code, 0);
    EXPECT_EQ(events[0].text, QStringLiteral("Success"));
    EXPECT_EQ(events[0].ip, QStringLiteral("10.99.3.2"));
    EXPECT_EQ(events[0].host, QString()); // no reverse name: probed all the same
    EXPECT_EQ(events[0].bytes, 32);
    EXPECT_EQ(events[0].ttl, 62);
}

TEST_P(NetnsProbe, SilenceGivesOneTimeoutPerPacket) {
    bool result = false;
    const auto events = probe(QStringLiteral("10.99.8.1"), 3, 255, &result, 100);
    EXPECT_TRUE(result);
    ASSERT_EQ(events.size(), 3);
    for (const PingEventArgs& e : events) {
        EXPECT_EQ(e.code, -1);
        EXPECT_EQ(e.text, QStringLiteral("ICMP Request Timeout"));
        EXPECT_EQ(e.ip, QStringLiteral("10.99.8.1"));
        EXPECT_EQ(e.bytes, 0);
        EXPECT_EQ(e.rtt, 0);
        EXPECT_EQ(e.ttl, 0);
    }
}

TEST_P(NetnsProbe, TheRouterReportsTheHostUnreachable) {
    const auto events = probe(QStringLiteral("10.99.9.9"));
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].code, 11003);
    EXPECT_EQ(events[0].text, QStringLiteral("Dest Host Not Reachable"));
    EXPECT_EQ(events[0].ip, QStringLiteral("10.99.1.1"));
    EXPECT_EQ(events[0].bytes, 0);
    EXPECT_EQ(events[0].ttl, 0);
}

TEST_P(NetnsProbe, TtlTwoExpiresAtTheSecondRouter) {
    const auto events = probe(QStringLiteral("10.99.3.2"), 2, 2);
    ASSERT_EQ(events.size(), 2);
    for (const PingEventArgs& e : events) {
        EXPECT_EQ(e.code, 11013);
        EXPECT_EQ(e.text, QStringLiteral("TTL Exprd in Transit"));
        EXPECT_EQ(e.ip, QStringLiteral("10.99.2.2"));
    }
}

TEST_P(NetnsProbe, AnUnreachableReplyDoesNotStickToTheNextRequest) {
    // After an error from R1, a later answer names the host again.
    auto events = probe(QStringLiteral("10.99.9.9"));
    ASSERT_EQ(events.size(), 1);
    events = probe(QStringLiteral("10.99.3.2"));
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].code, 0);
    EXPECT_EQ(events[0].ip, QStringLiteral("10.99.3.2"));
}

// On the ping socket an ICMP error for one request of a batch becomes the
// socket's pending error, which the next send reports as its own: each
// server's outcome must be its own all the same. R1 sends 5 such errors at
// once, then one a second (the kernel's route error limit, which is not
// per namespace), so a round that got none waits long enough for the next.
TEST_P(NetnsProbe, AnErrorForOneRequestOfABatchIsNeverAnothersOutcome) {
    const QStringList batch = QStringList{QStringLiteral("10.99.9.9")} + kMoreOfB;
    int errors = 0;
    for (int round = 0; round < 3; ++round) {
        EnterNetns inA(g_topology->a);
        ASSERT_TRUE(inA.ok());
        C_PING p;
        p.setTimeout(1100);
        const std::vector<C_PING::Outcome> out = p.PingEach(batch);
        EXPECT_EQ(p.socketKind(), GetParam());
        ASSERT_EQ(out.size(), static_cast<size_t>(batch.size()));
        errors += out[0].code == 11003;
        EXPECT_TRUE(out[0].code == 11003 || out[0].code == -1) << out[0].code;
        for (qsizetype i = 1; i < batch.size(); ++i)
            EXPECT_EQ(out[i].code, 0) << batch[i].toStdString() << ", round " << round << ": "
                                      << out[i].strCode.toStdString();
    }
    EXPECT_GT(errors, 0) << "R1 reported nothing: the case was not tried";
}

INSTANTIATE_TEST_SUITE_P(Sockets, NetnsProbe,
                         ::testing::Values(probe::SocketKind::Raw, probe::SocketKind::Datagram),
                         [](const auto& info) {
                             return info.param == probe::SocketKind::Raw ? "Raw" : "Datagram";
                         });

TEST(NetnsProbePermission, WithoutAnySocketTheEventSaysWhatToAllow) {
    const QString reason = Netns::unavailableReason();
    if (!reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    if (!QFile::exists(QStringLiteral("/usr/bin/setpriv")))
        GTEST_SKIP() << "setpriv (util-linux) is needed to run the probe as another user";
    Netns netns;
    const QString ns = netns.add(QStringLiteral("P"));
    ASSERT_FALSE(ns.isEmpty());
    ASSERT_TRUE(netns.exec(ns, QStringLiteral("sysctl -qw net.ipv4.ping_group_range='1 0'")));

    QTemporaryDir dir;
    const QStringList cli = Netns::copiesForNobody(dir, {QStringLiteral(PROBE_CLI)});
    ASSERT_EQ(cli.size(), 1);
    QProcess p;
    p.start(QStringLiteral("ip"),
            Netns::execAsNobody(ns, {cli[0], QStringLiteral("127.0.0.1"), QStringLiteral("2")}));
    ASSERT_TRUE(p.waitForFinished(20000));
    const QStringList lines =
        QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << p.readAllStandardError().toStdString();
    for (int i = 0; i < 2; ++i) {
        const QStringList f = lines[i].split(QLatin1Char('\t'));
        ASSERT_EQ(f.size(), 7);
        EXPECT_EQ(f[0], QStringLiteral("11050"));
        EXPECT_TRUE(f[1].startsWith(QStringLiteral("General Failure: ICMP socket not permitted")));
        EXPECT_TRUE(f[1].contains(QStringLiteral("net.ipv4.ping_group_range")));
        EXPECT_TRUE(f[1].contains(QStringLiteral("cap_net_raw")));
        EXPECT_EQ(f[3], QStringLiteral("127.0.0.1"));
    }
    EXPECT_EQ(lines[2], QStringLiteral("result\ttrue"));
}

// The manual ping window's probe with the namespace's DNS server dead (it
// drops every query, and glibc waits 10 s for each): the lookup ends at its
// bound, a name counts as unresolvable, an address is probed without a
// name, and the event loop runs all the while.
TEST(NetnsProbeLookups, ADeadDnsServerNeitherHoldsTheEventLoopNorOutlastsTheBound) {
    const QString reason = Netns::unavailableReason();
    if (!reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    Netns netns;
    const QString a = netns.add(QStringLiteral("A"));
    const QString d = netns.add(QStringLiteral("D"));
    ASSERT_TRUE(netns.link(a, QStringLiteral("vD"), QStringLiteral("10.99.5.2/24"), d,
                           QStringLiteral("vA"), QStringLiteral("10.99.5.53/24")));
    QProcess dns;
    ASSERT_TRUE(Netns::startDns(dns, d, QStringLiteral("10.99.5.53"), false));
    ASSERT_TRUE(netns.setResolvConf(a, "nameserver 10.99.5.53\n"));

    const struct {
        const char* host;
        QStringList lines; // without the ticks
    } cases[] = {
        {"srv.pulsewatch.test", {"result\tfalse"}},
        {"10.99.5.53", {"0\tSuccess\t\t10.99.5.53\t32\t#\t64", "result\ttrue"}},
    };
    for (const auto& c : cases) {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), a,
                                       QStringLiteral(PROBE_CLI), QLatin1String(c.host)});
        ASSERT_TRUE(p.waitForFinished(30000));
        QStringList lines = QString::fromUtf8(p.readAllStandardOutput())
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_FALSE(lines.isEmpty());
        const int ticks = lines.takeLast().section(QLatin1Char('\t'), 1).toInt();
        for (QString& l : lines)
            if (l.startsWith(QLatin1Char('0')))
                l = l.section(QLatin1Char('\t'), 0, 4) + QStringLiteral("\t#\t") +
                    l.section(QLatin1Char('\t'), 6);
        EXPECT_EQ(lines, c.lines) << c.host;
        EXPECT_GE(ticks, 10) << c.host << ": the lookup held the event loop";
        EXPECT_LT(t.elapsed(), 8000) << c.host << ": the lookup waited for glibc";
    }
    dns.kill();
    dns.waitForFinished();
}
