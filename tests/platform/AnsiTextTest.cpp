#include "platform/AnsiText.h"

#include <gtest/gtest.h>

using platform::fromAnsi;
using platform::toAnsi;

namespace {
QByteArray bytes(std::initializer_list<int> list) {
    QByteArray b;
    for (int v : list)
        b.append(static_cast<char>(v));
    return b;
}
} // namespace

TEST(AnsiText, EncodesCodePage932NotStrictShiftJis) {
    EXPECT_EQ(toAnsi(QStringLiteral("日本")), bytes({0x93, 0xFA, 0x96, 0x7B}));
    EXPECT_EQ(toAnsi(QStringLiteral("ｱ")), bytes({0xB1}));
    EXPECT_EQ(toAnsi(QStringLiteral("\u3000")), bytes({0x81, 0x40}));
    EXPECT_EQ(toAnsi(QStringLiteral("㈱")), bytes({0x87, 0x8A}));
    // 5C is the backslash of a Windows path, not a yen sign.
    EXPECT_EQ(toAnsi(QStringLiteral("C:\\dir")), QByteArray("C:\\dir"));
    EXPECT_EQ(fromAnsi(QByteArray("\\")), QStringLiteral("\\"));
}

TEST(AnsiText, VendorCharactersRoundTrip) {
    const QString text = QStringLiteral("①㈱髙～－∥￢漢字ｶﾅ");
    EXPECT_TRUE(platform::isAnsiRepresentable(text));
    EXPECT_EQ(fromAnsi(toAnsi(text)), text);
}

TEST(AnsiText, UnmappableCharactersBecomeQuestionMarks) {
    const QString text = QStringLiteral("a\u00E9b\U0001F600c");
    EXPECT_FALSE(platform::isAnsiRepresentable(text));
    EXPECT_EQ(toAnsi(text), QByteArray("a?b?c"));
}

TEST(AnsiText, InvalidBytesDecodeToReplacementCharacters) {
    // A lone trail byte, an undefined lead pair, and a lead byte cut off at
    // the end: each costs one U+FFFD, the ASCII around them survives.
    const QString text = fromAnsi(bytes({'A', 0x81, 0x20, 'B', 0xFD, 'C', 0x93}));
    EXPECT_TRUE(text.startsWith(QLatin1Char('A')));
    EXPECT_TRUE(text.contains(QLatin1Char('B')));
    EXPECT_TRUE(text.contains(QLatin1Char('C')));
    EXPECT_TRUE(text.endsWith(QChar(0xFFFD)));
    EXPECT_GE(text.count(QChar(0xFFFD)), 2);
}

// A file is UTF-8 when it says so (a byte-order mark) or when its non-ASCII
// bytes are valid UTF-8 throughout; anything else is code page 932.
TEST(AnsiText, TellsUtf8FilesFromCodePage932Ones) {
    using platform::TextEncoding;
    const struct {
        QByteArray bytes;
        TextEncoding encoding;
    } cases[] = {
        {"SERVER_CNT=1\r\n", TextEncoding::Ansi},
        {"\xEF\xBB\xBF[Pulsewatch]", TextEncoding::Utf8},
        {QStringLiteral("警報 ①ｶﾅ").toUtf8(), TextEncoding::Utf8},
        {platform::toAnsi(QStringLiteral("警報 ①ｶﾅ")), TextEncoding::Ansi},
        {"A=\xC0\xAF", TextEncoding::Ansi},     // an overlong "/"
        {"A=\xED\xA0\x80", TextEncoding::Ansi}, // a surrogate
        {"A=\xE8\xAD", TextEncoding::Ansi},     // cut off
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::encodingOf(c.bytes), c.encoding) << c.bytes.toHex().toStdString();
    EXPECT_EQ(platform::decodeText(QStringLiteral("警").toUtf8(), TextEncoding::Utf8),
              QStringLiteral("警"));
    EXPECT_EQ(platform::encodeText(QStringLiteral("警"), TextEncoding::Ansi),
              QByteArray("\x8C\x78"));
}
