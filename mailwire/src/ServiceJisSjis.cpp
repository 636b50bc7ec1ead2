#include "ServiceJisSjis.h"

#include "platform/AnsiText.h"

namespace mailwire {

void SjisToJisPair(unsigned char& b1, unsigned char& b2) {
    int d;
    if (b1 >= 0x81 && b1 <= 0x9F)
        d = b1 - 0x81;
    else if (b1 >= 0xE0 && b1 <= 0xEF)
        d = b1 - 0xC1;
    else {
        b1 = b2 = 0;
        return;
    }
    int c;
    if (b2 >= 0x40 && b2 <= 0x7E)
        c = b2 - 0x3F;
    else if (b2 >= 0x80 && b2 <= 0xFC)
        c = b2 - 0x40;
    else {
        b1 = b2 = 0;
        return;
    }
    int r = 2 * d + 1;
    if (c > 94) {
        c -= 94;
        ++r;
    }
    b1 = static_cast<unsigned char>(r + 0x20);
    b2 = static_cast<unsigned char>(c + 0x20);
}

bool sjisBytesToJis(const QByteArray& sjis, QByteArray* jis) {
    static const char kToKanji[] = "\x1B$B";
    static const char kToAscii[] = "\x1B(B";
    bool clean = true;
    bool kanji = false;
    const auto* p = reinterpret_cast<const unsigned char*>(sjis.constData());
    const qsizetype n = sjis.size();
    QByteArray out;
    // Worst case: every double-byte character alone between two escapes.
    out.reserve(n + n / 2 * 6 + 8);
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (kanji) {
                out.append(kToAscii, 3);
                kanji = false;
            }
            out.append(static_cast<char>(c));
            continue;
        }
        const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        if (!lead || i + 1 >= n) {
            clean = false; // half-width katakana or a stray byte
            continue;
        }
        if (!kanji) {
            out.append(kToKanji, 3);
            kanji = true;
        }
        unsigned char b1 = c;
        unsigned char b2 = p[++i];
        SjisToJisPair(b1, b2);
        out.append(static_cast<char>(b1));
        out.append(static_cast<char>(b2));
    }
    if (kanji)
        out.append(kToAscii, 3);
    *jis = std::move(out);
    return clean;
}

QString SjisToJis(const QString& text, bool* ok) {
    QByteArray jis;
    const bool clean = sjisBytesToJis(platform::toAnsi(text), &jis);
    if (ok)
        *ok = clean;
    return QString::fromLatin1(jis);
}

} // namespace mailwire
