#include "platform/NumericText.h"

#include <gtest/gtest.h>

using platform::numberText;
using platform::numericValue;
using platform::toInt16;

TEST(NumericText, ReadsTheNumberAtTheStart) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"3 words", 3},     {"  -1", -1},       {"+7", 7},     {"1 2 3", 123}, {"\t\n42x", 42},
        {"2.5", 2.5},       {".5", 0.5},        {"1E3", 1000}, {"1e+2", 100},  {"2D1", 20},
        {"3E", 3},          {"4Ex", 4},         {"- 5", -5},   {"abc", 0},     {"", 0},
        {".", 0},           {"-", 0},           {"&H10", 16},  {"&hff", 255},  {"&HFFFF", -1},
        {"&H8000", -32768}, {"&H10000", 65536}, {"&O17", 15},  {"&O8", 0},     {"&X1", 0},
        {"１２", 0}, // full-width digits are not a number here
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(numericValue(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(NumericText, IntegersRoundHalfToEvenAndClampTo16Bits) {
    EXPECT_EQ(toInt16(QStringLiteral("2.5")), 2);
    EXPECT_EQ(toInt16(QStringLiteral("3.5")), 4);
    EXPECT_EQ(toInt16(QStringLiteral("-2.5")), -2);
    EXPECT_EQ(toInt16(QStringLiteral("0.5")), 0);
    EXPECT_EQ(toInt16(QStringLiteral("2.51")), 3);
    EXPECT_EQ(toInt16(QStringLiteral("32767")), 32767);
    EXPECT_EQ(toInt16(QStringLiteral("32768")), 32767);
    EXPECT_EQ(toInt16(QStringLiteral("99999999999")), 32767);
    EXPECT_EQ(toInt16(QStringLiteral("-70000")), -32768);
    EXPECT_EQ(toInt16(QStringLiteral("1E400")), 32767);
    EXPECT_EQ(toInt16(QStringLiteral("&H10000")), 32767);
}

TEST(NumericText, NumberTextIsPlainDecimal) {
    EXPECT_EQ(numberText(3), QStringLiteral("3"));
    EXPECT_EQ(numberText(-1), QStringLiteral("-1"));
    EXPECT_EQ(numberText(2.5), QStringLiteral("2.5"));
    EXPECT_EQ(numberText(-0.0), QStringLiteral("0"));
    EXPECT_EQ(numberText(numericValue(QStringLiteral("10 times"))), QStringLiteral("10"));
}
