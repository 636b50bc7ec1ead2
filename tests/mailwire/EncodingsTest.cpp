#include "ServiceBase64EncodeUC.h"
#include "ServiceCharCode.h"
#include "ServiceJisSjis.h"
#include "support/SmtpSink.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace mailwire;

namespace {

QByteArray bytes(const QString& oneCharPerByte) {
    return oneCharPerByte.toLatin1();
}

std::pair<int, int> pair(int b1, int b2) {
    unsigned char a = static_cast<unsigned char>(b1), b = static_cast<unsigned char>(b2);
    SjisToJisPair(a, b);
    return {a, b};
}

QStringList encodedWords(const QString& header) {
    QStringList words;
    for (const QString& w : header.split(QLatin1Char(' ')))
        if (w.startsWith(QStringLiteral("=?")))
            words << w;
    return words;
}

} // namespace

// Each code goes to the first JIS place of its character; what has none
// becomes 〓 (0x22 0x2E), never the pair 0, 0.
TEST(SjisToJis, PairsTakeTheFirstJisPlaceOfTheirCharacter) {
    const struct {
        int b1, b2, row, cell;
    } cases[] = {
        {0x82, 0xA0, 0x24, 0x22}, // あ
        {0x81, 0x40, 0x21, 0x21}, // ideographic space
        {0x93, 0xFA, 0x46, 0x7C}, // 日
        {0xE0, 0x40, 0x5F, 0x21}, // first lead of the upper area
        {0x87, 0x40, 0x2D, 0x21}, // ① in NEC row 13
        {0x87, 0x90, 0x22, 0x62}, // ≒ in row 13 also stands in row 2
        {0xEE, 0xE0, 0x7C, 0x62}, // 髙 among the NEC-selected IBM extensions
        {0xFB, 0xFC, 0x7C, 0x62}, // 髙 as an IBM extension
        {0xFA, 0x40, 0x7C, 0x71}, // ⅰ
        {0xFA, 0x54, 0x22, 0x4C}, // ￢
        {0xFA, 0x58, 0x2D, 0x6A}, // ㈱
        {0xFA, 0x5C, 0x79, 0x21}, // 纊
        {0xF0, 0x40, 0x22, 0x2E}, // user-defined area
        {0xF9, 0xFC, 0x22, 0x2E}, {0x85, 0x40, 0x22, 0x2E}, // undefined in code page 932
        {0xEF, 0x40, 0x22, 0x2E}, {0x82, 0x3F, 0x22, 0x2E}, // trail byte out of range
        {0x82, 0x7F, 0x22, 0x2E},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1%2").arg(c.b1, 2, 16).arg(c.b2, 2, 16).toStdString());
        EXPECT_EQ(pair(c.b1, c.b2), std::make_pair(c.row, c.cell));
    }
}

TEST(SjisToJis, RunsAreWrappedInOneEscapePairEach) {
    EXPECT_EQ(bytes(SjisToJis(QStringLiteral("plain ASCII\r\n"))), QByteArray("plain ASCII\r\n"));
    EXPECT_EQ(bytes(SjisToJis(QStringLiteral("日本"))),
              QByteArray::fromHex("1B2442467C4B5C1B2842"));
    EXPECT_EQ(bytes(SjisToJis(QStringLiteral("a日本\r\nb本"))),
              QByteArray("a\x1B$BF|K\\\x1B(B\r\nb\x1B$BK\\\x1B(B"));
    // Extensions of code page 932 beyond JIS X 0208 keep their row and cell.
    EXPECT_EQ(bytes(SjisToJis(QStringLiteral("①"))), QByteArray("\x1B$B-!\x1B(B"));
    // A character code page 932 lacks goes out as "?".
    EXPECT_EQ(bytes(SjisToJis(QStringLiteral("é"))), QByteArray("?"));
    // ¥ and ‾ in JIS-Roman: code page 932 would make a backslash and a tilde
    // of them (RFC 1468).
    EXPECT_EQ(bytes(SjisToJis(QStringLiteral("価格¥100‾\\"))),
              QByteArray("\x1B$B2A3J\x1B(J\\\x1B(B100\x1B(J~\x1B(B\\"));
}

TEST(SjisToJis, NoNulAndNo8BitByteEverLeaves) {
    const struct {
        QByteArray sjis;
        bool clean;
        QByteArray jis;
    } cases[] = {
        {"\xB1\x93\xFA", false, "\x1B$BF|\x1B(B"}, // half-width ｱ is left out
        {QByteArray("a\0b", 3), false, "ab"},
        {"\xF0\x40", true,
         "\x1B$B\"."
         "\x1B(B"}, // user-defined
        {"\x82", true,
         "\x1B$B\"."
         "\x1B(B"}, // cut-off character
        {"\x82 x", true,
         "\x1B$B\"."
         "\x1B(B x"}, // an ASCII trail is read again
        {"\xFB\xFC\xFA\x40", true, "\x1B$B|b|q\x1B(B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sjis.toHex().toStdString());
        QByteArray jis;
        EXPECT_EQ(sjisBytesToJis(c.sjis, &jis), c.clean);
        EXPECT_EQ(jis, c.jis);
    }
    bool ok = true;
    const QString text = QStringLiteral("ｱ髙") + QChar(0xE000) + QChar(0);
    for (QChar c : SjisToJis(text, &ok))
        EXPECT_TRUE(c.unicode() > 0 && c.unicode() < 0x80) << int(c.unicode());
    EXPECT_FALSE(ok);
}

// Lines over 998 octets are broken; a break inside Japanese closes and
// reopens the JIS mode, so every line stands on its own.
TEST(SjisToJis, LongLinesAreBrokenAt998Octets) {
    const QString ascii(2500, QLatin1Char('a'));
    const QString kanji = QString(600, QChar(0x65E5)); // 日
    const struct {
        const char* name;
        QString text;
        int lines;
    } cases[] = {
        {"998 octets", QString(998, QLatin1Char('b')) + QStringLiteral("\r\nshort"), 2},
        {"ASCII", ascii, 3},
        {"Japanese", kanji, 2},
        {"mixed", ascii.left(990) + kanji.left(10) + QStringLiteral("\nz"), 3},
        {"JIS-Roman", QString(1500, QChar(0x00A5)), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString jis = SjisToJis(c.text);
        const QString broken = breakLongLines(jis);
        const QStringList lines = broken.split(QRegularExpression(QStringLiteral("\r\n|\n")));
        EXPECT_EQ(lines.size(), c.lines);
        for (const QString& line : lines) {
            EXPECT_LE(line.size(), 998);
            EXPECT_EQ(line.count(QStringLiteral("\x1B$B")) + line.count(QStringLiteral("\x1B(J")),
                      line.count(QStringLiteral("\x1B(B")));
        }
        // Nothing but line breaks (and the escapes around them) was added.
        auto flat = [](QString t) {
            return t.remove(QStringLiteral("\r\n"))
                .remove(QStringLiteral("\x1B(B\x1B$B"))
                .remove(QStringLiteral("\x1B(B\x1B(J"));
        };
        EXPECT_EQ(flat(broken), flat(jis));
    }
}

TEST(Base64, PaddingAndAlphabet) {
    EXPECT_EQ(Base64Encode("M"), QStringLiteral("TQ=="));
    EXPECT_EQ(Base64Encode("Ma"), QStringLiteral("TWE="));
    EXPECT_EQ(Base64Encode("Man"), QStringLiteral("TWFu"));
    EXPECT_EQ(Base64Encode(QByteArray::fromHex("FBFF")), QStringLiteral("+/8="));
    EXPECT_EQ(Base64Encode(QByteArray()), QString());
    const QByteArray all = [] {
        QByteArray b;
        for (int i = 0; i < 256; ++i)
            b.append(static_cast<char>(i));
        return b;
    }();
    EXPECT_EQ(Base64Encode(all), QString::fromLatin1(all.toBase64()));
    EXPECT_EQ(Base64Char(0), QStringLiteral("A"));
    EXPECT_EQ(Base64Char(26), QStringLiteral("a"));
    EXPECT_EQ(Base64Char(52), QStringLiteral("0"));
    EXPECT_EQ(Base64Char(62), QStringLiteral("+"));
    EXPECT_EQ(Base64Char(63), QStringLiteral("/"));
    EXPECT_EQ(Base64Char(64), QString());
    EXPECT_EQ(Base64Char(-1), QString());
}

TEST(HeaderText, EncodedWordsAreSpacedAndLimitedTo18Characters) {
    EXPECT_EQ(EncodeWord(QStringLiteral("日本")),
              QStringLiteral("=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?="));
    EXPECT_EQ(EncodeWord(QStringLiteral("日本")).size(), 34);

    EXPECT_EQ(EncodeHeaderText(QStringLiteral("Subject: ASCII only\r\n")),
              QStringLiteral("Subject: ASCII only\r\n"));
    EXPECT_EQ(EncodeHeaderText(QStringLiteral("Subject: 日本\r\n")),
              QStringLiteral("Subject:  =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?= \r\n"));

    QString forty;
    for (int i = 0; i < 40; ++i)
        forty += QChar(0x3041 + i); // hiragana: all double-byte in code page 932
    const QString encoded = EncodeHeaderText(forty);
    const QStringList words = encodedWords(encoded);
    ASSERT_EQ(words.size(), 3);
    EXPECT_EQ(words[0], EncodeWord(forty.mid(0, 18)));
    EXPECT_EQ(words[1], EncodeWord(forty.mid(18, 18)));
    EXPECT_EQ(words[2], EncodeWord(forty.mid(36, 4)));
    EXPECT_EQ(encoded, QLatin1Char(' ') + words.join(QLatin1Char(' ')) + QLatin1Char(' '));
    for (const QString& w : words)
        EXPECT_LE(w.size(), 74);
}

TEST(HeaderText, FoldingAt75Characters) {
    const QString exactly75 =
        QString(40, QLatin1Char('a')) + QLatin1Char(' ') + QString(34, QLatin1Char('b'));
    ASSERT_EQ(exactly75.size(), 75);
    EXPECT_EQ(FoldHeader(exactly75 + QStringLiteral("\r\n")), exactly75 + QStringLiteral("\r\n"));

    const QString of76 = QStringLiteral("x y ") + QString(40, QLatin1Char('a')) + QLatin1Char(' ') +
                         QString(31, QLatin1Char('b'));
    ASSERT_EQ(of76.size(), 76);
    EXPECT_EQ(FoldHeader(of76 + QStringLiteral("\r\n")),
              QStringLiteral("x y ") + QString(40, QLatin1Char('a')) + QStringLiteral("\r\n ") +
                  QString(31, QLatin1Char('b')) + QStringLiteral("\r\n"));

    const QString longWord(100, QLatin1Char('w'));
    EXPECT_EQ(FoldHeader(QStringLiteral("A: ") + longWord + QStringLiteral(" z\r\nB: c\r\n")),
              QStringLiteral("A:\r\n ") + longWord + QStringLiteral("\r\n z\r\nB: c\r\n"));
    EXPECT_EQ(FoldHeader(QString()), QStringLiteral("\r\n"));
    EXPECT_EQ(FoldHeader(QStringLiteral("no line end")), QStringLiteral("no line end\r\n"));
    EXPECT_EQ(FoldHeader(QStringLiteral("a  b\r\n")), QStringLiteral("a  b\r\n"));
}

// Python's email package and its iso-2022-jp codec read back what we wrote.
TEST(HeaderText, AnIndependentDecoderReadsTheTextBack) {
    const QString subject =
        QStringLiteral("監視サーバー「ファイルサーバー」が応答しません。至急確認してください。"
                       "（漢字・ひらがな・カタカナ・¥‾） and ") +
        QString(1200, QLatin1Char('w')) + QStringLiteral(" end");
    const QString body = QStringLiteral("日本語の本文です。\r\nASCII line\r\n全角スペース「　」\r\n"
                                        "価格¥1,000 C:\\temp ¥¥‾\r\n");
    const QString header =
        FoldHeader(EncodeHeaderText(QStringLiteral("Subject: ") + subject +
                                    QStringLiteral("\r\nFrom: a@b\r\nMIME-Version: 1.0\r\n"
                                                   "Content-Type: text/plain; "
                                                   "charset=iso-2022-jp\r\n")));
    for (const QString& line : header.split(QStringLiteral("\r\n")))
        EXPECT_LE(line.size(), 76) << line.toStdString();
    const QByteArray raw = (header + QStringLiteral("\r\n") + SjisToJis(body)).toLatin1();
    const auto decoded = testsupport::decodeWithPython(raw);
    ASSERT_EQ(decoded.error, QString());
    EXPECT_EQ(decoded.subject.simplified(), subject);
    EXPECT_EQ(decoded.charset, QStringLiteral("iso-2022-jp"));
    EXPECT_EQ(QString(decoded.body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
              QString(body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

// A display name is one name to every reader: plain words as they are,
// ASCII specials in a quoted string, anything else whole in encoded words.
TEST(HeaderText, DisplayNamesArePlainQuotedOrEncodedWhole) {
    EXPECT_EQ(EncodePhrase(QStringLiteral("Pulsewatch")), QStringLiteral("Pulsewatch"));
    EXPECT_EQ(EncodePhrase(QStringLiteral("Ops Team #2")), QStringLiteral("Ops Team #2"));
    EXPECT_EQ(EncodePhrase(QString()), QString());
    EXPECT_EQ(EncodePhrase(QStringLiteral("Yamada, Taro")), QStringLiteral("\"Yamada, Taro\""));
    EXPECT_EQ(EncodePhrase(QStringLiteral("P/L/W(Pulsewatch)")),
              QStringLiteral("\"P/L/W(Pulsewatch)\""));
    EXPECT_EQ(EncodePhrase(QStringLiteral("say \"hi\" \\ ok")),
              QStringLiteral("\"say \\\"hi\\\" \\\\ ok\""));
    EXPECT_EQ(EncodePhrase(QStringLiteral("山田 (運用)")),
              EncodeWord(QStringLiteral("山田 (運用)")));
    const QString longName =
        QString(30, QChar(0x5C71)) + QStringLiteral(", ") + QString(30, QChar(0x7530));
    const QStringList words = EncodePhrase(longName).split(QLatin1Char(' '));
    ASSERT_GT(words.size(), 2);
    for (const QString& w : words) {
        EXPECT_LE(w.size(), 75);
        EXPECT_TRUE(w.startsWith(QStringLiteral("=?ISO-2022-JP?B?"))) << w.toStdString();
    }
}
