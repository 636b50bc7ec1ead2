#include "ServiceCharCode.h"

#include "ServiceBase64EncodeUC.h"
#include "ServiceJisSjis.h"

#include "platform/AnsiText.h"

#include <QStringList>

namespace mailwire {
namespace {

constexpr int kMaxLine = 75;
constexpr int kMaxWordEstimate = 75;

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

bool isAsciiClass(const QString& character) {
    if (character.size() == 1 && character[0].unicode() < 0x80)
        return true;
    const QByteArray b = platform::toAnsi(character);
    return b.size() == 1 && static_cast<unsigned char>(b[0]) < 0x80;
}

QString EncodeWord(const QString& text) {
    return QStringLiteral("=?ISO-2022-JP?B?") + Base64Encode(SjisToJis(text).toLatin1()) +
           QStringLiteral("?=");
}

QString EncodeHeaderText(const QString& text) {
    QString out;
    QString run;
    int runLength = 0; // characters, a surrogate pair counting once
    bool inRun = false;
    forEachCharacter(text, [&](const QString& ch) {
        if (isAsciiClass(ch)) {
            if (inRun) {
                out += EncodeWord(run) + QLatin1Char(' ');
                run.clear();
                runLength = 0;
                inRun = false;
            }
            out += ch;
            return;
        }
        if (!inRun) {
            out += QLatin1Char(' ');
            inRun = true;
        }
        const int h = 2 * runLength + 8;
        const int estimate = 4 * ((h + 2) / 3) + 16 + 2;
        if (estimate >= kMaxWordEstimate) {
            out += EncodeWord(run) + QLatin1Char(' ');
            run.clear();
            runLength = 0;
        }
        run += ch;
        ++runLength;
    });
    if (inRun)
        out += EncodeWord(run) + QLatin1Char(' ');
    return out;
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
