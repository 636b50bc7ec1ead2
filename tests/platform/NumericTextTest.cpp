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

// An input method in full-width mode types "１０" and "０３ー１２３４":
// digits of any width are digits, as the log viewer reads them.
TEST(NumericText, FullWidthFormsBecomeTheirAsciiForms) {
    EXPECT_EQ(platform::halfWidth(QStringLiteral("１０")), QStringLiteral("10"));
    EXPECT_EQ(platform::halfWidth(QStringLiteral("－１．５　回")), QStringLiteral("-1.5 回"));
    EXPECT_EQ(platform::halfWidth(QStringLiteral("٣")), QStringLiteral("3"));
    EXPECT_EQ(platform::halfWidth(QStringLiteral("ｶﾅ①")), QStringLiteral("ｶﾅ①"));
    EXPECT_DOUBLE_EQ(numericValue(platform::halfWidth(QStringLiteral("１２"))), 12);
}

// What a telephone field may hold and what the modem is sent: digits, the
// tone keys and the dial modifiers; blanks, hyphens and brackets are for
// the eye and are not sent; anything else cannot be dialled.
TEST(NumericText, TelephoneNumbersAsTypedAndAsDialled) {
    struct Case {
        const char* typed;
        const char* kept; // what the settings file holds
        int undialable;   // position of the first character no modem dials
        const char* dialled;
    } cases[] = {
        {"０３-1234-5678", "03-1234-5678", -1, "0312345678"},
        {"０３ー１２３４－５６７８", "03-1234-5678", -1, "0312345678"},
        {"(03) 1234 5678", "(03) 1234 5678", -1, "0312345678"},
        {"0w,*12#", "0w,*12#", -1, "0W,*12#"},
        {"+81 3 1234", "+81 3 1234", -1, "+8131234"},
        {"03?1234", "03?1234", 2, ""},
        {"03;ATH", "03;ATH", 2, ""},
        {"03\r1234", "03\r1234", 2, ""},
        {"０３１２３４ｘ", "031234x", 6, ""},
        {"", "", -1, ""},
    };
    for (const Case& c : cases) {
        const QString typed = QString::fromUtf8(c.typed);
        EXPECT_EQ(platform::telephoneText(typed), QString::fromUtf8(c.kept)) << c.typed;
        EXPECT_EQ(platform::firstUndialable(typed), c.undialable) << c.typed;
        EXPECT_EQ(platform::dialString(typed), QString::fromUtf8(c.dialled)) << c.typed;
    }
}
