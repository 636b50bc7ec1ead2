#include "monitor/OutcomeLine.h"

#include <gtest/gtest.h>

TEST(OutcomeLine, SuccessHasNoBlankAfterTheAddressFailureHasOne) {
    EXPECT_EQ(monitor::outcomeLine(0, QStringLiteral("Success"), QStringLiteral("host1"),
                                   QStringLiteral("192.168.1.5"), 32, 1, 128),
              QStringLiteral("Reply from 192.168.1.5:host1: Bytes = 32 RTT = 1 ms TTL = 128"));
    EXPECT_EQ(monitor::outcomeLine(-1, QStringLiteral("ICMP Request Timeout"),
                                   QStringLiteral("host1"), QStringLiteral("192.168.1.5"), 0, 0, 0),
              QStringLiteral("Reply from 192.168.1.5: host1: ICMP Request Timeout"));
    EXPECT_EQ(
        monitor::outcomeLine(11023, QString(), QString(), QStringLiteral("10.0.0.1"), 0, 0, 0),
        QStringLiteral("Reply from 10.0.0.1: : "));
}
