#include "ServiceCharCode.h"

#include "ServiceBase64EncodeUC.h"
#include "ServiceJisSjis.h"

#include "platform/AnsiText.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace mailwire {
namespace {

constexpr int kMaxLine = 75;
constexpr int kMaxWord = 75; // an encoded word's own limit (RFC 2047)
constexpr size_t kMaxPlainWord = 997;
constexpr int kAsciiPerWord = 42; // 56 Base64 characters: a 74-character word

// The characters of a text one by one, a surrogate pair kept together.
template <typename F> void forEachCharacter(const QString& text, F f) {
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len =
            (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2
                                                                                               : 1;
        f(text.mid(i, len));
        i += len;
    }
}

} // namespace

QString EncodeWord(const QString& text) {
    return QStringLiteral("=?ISO-2022-JP?B?") + Base64Encode(SjisToJis(text).toLatin1()) +
           QStringLiteral("?=");
}

QString EncodeHeaderText(const QString& text) {
    struct Character {
        QString text;
        bool plain; // goes into the header as itself
    };
    std::vector<Character> chars;
    forEachCharacter(text, [&](const QString& ch) {
        if (ch.size() == 1 && ch[0].unicode() < 0x80)
            chars.push_back({ch, true});
        else if (ch.size() == 1 && isJisRoman(ch[0]))
            chars.push_back({ch, false}); // in an encoded word, as JIS-Roman
        else if (const QByteArray b = platform::toAnsi(ch); b.size() == 1 && b[0] > 0)
            chars.push_back({QString::fromLatin1(b), true}); // "?" for what code page 932 lacks
        else
            chars.push_back({ch, false});
    });
    // An ASCII word too long for any line (RFC 5322 caps one at 998 octets,
    // a folded word has a space before it) goes out as encoded words too:
    // readers join adjacent encoded words, so the word comes back whole.
    auto blank = [](const QString& ch) {
        return ch == QLatin1String(" ") || ch == QLatin1String("\r") || ch == QLatin1String("\n");
    };
    std::vector<bool> longWord(chars.size(), false);
    for (size_t i = 0; i < chars.size();) {
        size_t end = i;
        while (end < chars.size() && chars[end].plain && !blank(chars[end].text))
            ++end;
        if (end - i > kMaxPlainWord)
            std::fill(longWord.begin() + i, longWord.begin() + end, true);
        i = std::max(end, i + 1);
    }

    QString out;
    QString run;
    int runLength = 0; // characters, a surrogate pair counting once
    bool inRun = false;
    bool runIsAscii = false;
    auto endWord = [&] {
        out += EncodeWord(run) + QLatin1Char(' ');
        run.clear();
        runLength = 0;
    };
    for (size_t i = 0; i < chars.size(); ++i) {
        const QString& ch = chars[i].text;
        if (chars[i].plain && !longWord[i]) {
            if (inRun) {
                endWord();
                inRun = false;
            }
            out += ch;
            continue;
        }
        if (!inRun) {
            out += QLatin1Char(' ');
            inRun = true;
        }
        // A word ends before the character that would take it past 75
        // characters (18 double-byte characters); an ASCII word is cut into
        // pieces of the same encoded length.
        const bool ascii = longWord[i];
        if (runLength > 0 && ascii != runIsAscii) {
            endWord();
        } else if (ascii) {
            if (runLength == kAsciiPerWord)
                endWord();
        } else if (runLength > 0 && EncodeWord(run + ch).size() > kMaxWord) {
            endWord();
        }
        runIsAscii = ascii;
        run += ch;
        ++runLength;
    }
    if (inRun)
        endWord();
    return out;
}

QString EncodePhrase(const QString& name) {
    if (name.isEmpty())
        return name;
    // RFC 5322 atext: what a phrase may hold without quotes.
    static const QString kAtextSigns = QStringLiteral("!#$%&'*+-/=?^_`{|}~ ");
    bool ascii = true, plain = true;
    for (QChar c : name) {
        ascii = ascii && c.unicode() < 0x80;
        plain = plain && c.unicode() < 0x80 && (c.isLetterOrNumber() || kAtextSigns.contains(c));
    }
    if (plain)
        return name;
    if (ascii) {
        QString quoted = name;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
            .replace(QLatin1Char('"'), QStringLiteral("\\\""));
        return QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    // The whole name, its spaces and signs included, goes into the encoded
    // words: nothing of it is left to be read as a comment or a list. One
    // word holds 18 double-byte characters; a longer name is cut into
    // several, which RFC 2047 readers join (Python's email keeps a space
    // where the cut was).
    QStringList words;
    QString word;
    forEachCharacter(name, [&](const QString& ch) {
        if (!word.isEmpty() && EncodeWord(word + ch).size() > kMaxWord) {
            words << EncodeWord(word);
            word.clear();
        }
        word += ch;
    });
    words << EncodeWord(word);
    return words.join(QLatin1Char(' '));
}

QString FoldHeader(const QString& text) {
    QString out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype crlf = text.indexOf(QStringLiteral("\r\n"), pos);
        const QString line = text.mid(pos, crlf < 0 ? -1 : crlf - pos);
        const QStringList words = line.split(QLatin1Char(' '));
        QString cur = words.first();
        for (qsizetype i = 1; i < words.size(); ++i) {
            const QString& w = words[i];
            if (cur.size() + w.size() + 1 > kMaxLine) {
                out += cur + QStringLiteral("\r\n ");
                cur = w;
            } else {
                cur += QLatin1Char(' ') + w;
            }
        }
        out += cur + QStringLiteral("\r\n");
        if (crlf < 0)
            break;
        pos = crlf + 2;
        if (pos >= text.size())
            break;
    }
    return out;
}

} // namespace mailwire
