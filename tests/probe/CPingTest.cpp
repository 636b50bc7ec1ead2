#include "probe/C_PING.h"
#include "probe/ProbeEvents.h"

#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Time a loaded machine may need for a loopback reply; a reply ends the
// wait at once.
constexpr int kWaitMs = 1000;

// Loopback echoes need a ping socket or a raw one; say plainly when neither
// is allowed instead of failing on every check.
bool icmpAvailable() {
    probe::IcmpSocket s;
    return s.open(nullptr);
}

} // namespace

TEST(CPingProperties, WritesAreClampedAndTrimmed) {
    C_PING p;
    EXPECT_EQ(p.CharsPackets(), 32);
    EXPECT_EQ(p.Packets(), 1);
    EXPECT_EQ(p.Timeout(), 5);
    EXPECT_EQ(p.TTL(), 255);

    p.setCharsPackets(10);
    EXPECT_EQ(p.CharsPackets(), 32);
    p.setCharsPackets(500);
    EXPECT_EQ(p.CharsPackets(), 128);
    p.setCharsPackets(100);
    EXPECT_EQ(p.CharsPackets(), 100);
    p.setPackets(0);
    EXPECT_EQ(p.Packets(), 1);
    p.setPackets(-5);
    EXPECT_EQ(p.Packets(), 1);
    p.setTTL(1);
    EXPECT_EQ(p.TTL(), 2);
    p.setTTL(300);
    EXPECT_EQ(p.TTL(), 255);
    p.setTTL(-1);
    EXPECT_EQ(p.TTL(), 2);
    p.setTimeout(-7);
    EXPECT_EQ(p.Timeout(), -7);
    p.setHostName(QStringLiteral("  host  "));
    EXPECT_EQ(p.HostName(), QStringLiteral("host"));
    p.setIPAddress(QStringLiteral(" 1.2.3.4 "));
    EXPECT_EQ(p.IPAddress(), QStringLiteral("1.2.3.4"));

    EXPECT_EQ(C_PING::kPayload.size(), 128);
    EXPECT_TRUE(C_PING::kPayload.endsWith("wabcdefghijklm"));
}

TEST(CPingStatus, TextsAndIcmpErrorMapping) {
    EXPECT_EQ(C_PING::statusText(0), QStringLiteral("Success"));
    EXPECT_EQ(C_PING::statusText(11003), QStringLiteral("Dest Host Not Reachable"));
    EXPECT_EQ(C_PING::statusText(11013), QStringLiteral("TTL Exprd in Transit"));
    EXPECT_EQ(C_PING::statusText(11050), QStringLiteral("General Failure"));
    EXPECT_EQ(C_PING::statusText(11023), QString());

    EXPECT_EQ(probe::statusForIcmpError(3, 0), 11002);
    EXPECT_EQ(probe::statusForIcmpError(3, 1), 11003);
    EXPECT_EQ(probe::statusForIcmpError(3, 2), 11004);
    EXPECT_EQ(probe::statusForIcmpError(3, 3), 11005);
    EXPECT_EQ(probe::statusForIcmpError(3, 4), 11009);
    EXPECT_EQ(probe::statusForIcmpError(3, 13), 11003);
    EXPECT_EQ(probe::statusForIcmpError(11, 0), 11013);
    EXPECT_EQ(probe::statusForIcmpError(11, 1), 11014);
    EXPECT_EQ(probe::statusForIcmpError(12, 0), 11015);
    EXPECT_EQ(probe::statusForIcmpError(4, 0), 11016);
    EXPECT_EQ(probe::statusForIcmpError(5, 1), 0); // a redirect is no answer
}

TEST(CPingResolution, BlankOrUnknownNamesRaiseNoEvent) {
    C_PING p;
    QList<PingEventArgs> events;
    recordEvents(p, events);
    EXPECT_FALSE(p.Ping(QString()));
    EXPECT_FALSE(p.Ping(QStringLiteral("   ")));
    EXPECT_FALSE(p.Ping(QStringLiteral("no-such-host.invalid")));
    EXPECT_FALSE(p.Ping(QStringLiteral("0.0.0.0")));
    EXPECT_TRUE(events.isEmpty());
    EXPECT_TRUE(p.HostName().isEmpty());
    EXPECT_TRUE(p.IPAddress().isEmpty());
}

TEST(CPingLoopback, EveryPacketGetsOneSuccessEvent) {
    if (!icmpAvailable())
        GTEST_SKIP() << "no ICMP socket allowed here (needs net.ipv4.ping_group_range or root)";
    C_PING p;
    QList<PingEventArgs> events;
    recordEvents(p, events);
    p.setPackets(3);
    p.setCharsPackets(100);
    p.setTimeout(kWaitMs);
    ASSERT_TRUE(p.Ping(QStringLiteral("127.0.0.1")));
    ASSERT_EQ(events.size(), 3);
    for (const PingEventArgs& e : events) {
        EXPECT_EQ(e.code, 0);
        EXPECT_EQ(e.text, QStringLiteral("Success"));
        EXPECT_EQ(e.ip, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(e.host, QStringLiteral("localhost"));
        EXPECT_EQ(e.bytes, 100);
        EXPECT_GE(e.rtt, 0);
        EXPECT_LT(e.rtt, kWaitMs);
        EXPECT_EQ(e.ttl, 64);
    }
    EXPECT_EQ(p.HostName(), QStringLiteral("localhost"));
}

TEST(CPingLoopback, HostNamesResolveAndPayloadSizesFollowTheSetting) {
    if (!icmpAvailable())
        GTEST_SKIP() << "no ICMP socket allowed here (needs net.ipv4.ping_group_range or root)";
    for (int size : {32, 128}) {
        C_PING p;
        QList<PingEventArgs> events;
        recordEvents(p, events);
        p.setCharsPackets(size);
        p.setTimeout(kWaitMs);
        ASSERT_TRUE(p.Ping(QStringLiteral("localhost")));
        ASSERT_EQ(events.size(), 1);
        EXPECT_EQ(events[0].code, 0);
        EXPECT_EQ(events[0].bytes, size);
        EXPECT_EQ(events[0].ip, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(events[0].host, QStringLiteral("localhost"));
    }
}

TEST(CPingLoopback, YieldsToTheEventLoopBeforeEachRequest) {
    if (!icmpAvailable())
        GTEST_SKIP() << "no ICMP socket allowed here (needs net.ipv4.ping_group_range or root)";
    // A timer due now must fire inside Ping, before the first event.
    bool fired = false;
    bool firedBeforeEvent = false;
    QTimer::singleShot(0, [&fired] { fired = true; });
    C_PING p;
    p.setTimeout(kWaitMs);
    p.onPing([&](qint32, const QString&, const QString&, const QString&, qint32, qint32, qint32) {
        firedBeforeEvent = fired;
    });
    ASSERT_TRUE(p.Ping(QStringLiteral("127.0.0.1")));
    EXPECT_TRUE(firedBeforeEvent);
}

TEST(CPingLoopback, InstancesCanBeReused) {
    if (!icmpAvailable())
        GTEST_SKIP() << "no ICMP socket allowed here (needs net.ipv4.ping_group_range or root)";
    C_PING p;
    QList<PingEventArgs> events;
    recordEvents(p, events);
    p.setPackets(2);
    p.setTimeout(kWaitMs);
    ASSERT_TRUE(p.Ping(QStringLiteral("127.0.0.1")));
    EXPECT_FALSE(p.Ping(QStringLiteral("no-such-host.invalid")));
    ASSERT_TRUE(p.Ping(QStringLiteral("localhost")));
    EXPECT_EQ(events.size(), 4);
    EXPECT_EQ(p.Packets(), 2);
}
