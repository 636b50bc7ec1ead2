#include "ServiceJisSjis.h"

#include "platform/AnsiText.h"

#include <algorithm>
#include <iterator>

namespace mailwire {
namespace {

const char kToKanji[] = "\x1B$B";
const char kToAscii[] = "\x1B(B";
constexpr unsigned char kGetaRow = 0x22, kGetaCell = 0x2E; // 〓

struct Run {
    int from;   // Shift_JIS pointer of the run's first code
    int length; // codes in the run
    int place;  // JIS place of the first code: (row - 1) * 94 + (cell - 1)
};

// Every code page 932 double-byte code that has a JIS place, in runs of
// consecutive codes going to consecutive places. See make_jis_positions.py.
constexpr Run kRuns[] = {
#include "JisPositions.inc"
};

bool isLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool isTrail(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// The code's JIS place, or -1 when it has none.
int jisPlace(unsigned char b1, unsigned char b2) {
    if (!isLead(b1) || !isTrail(b2))
        return -1;
    const int pointer = (b1 - (b1 < 0xA0 ? 0x81 : 0xC1)) * 188 + b2 - (b2 < 0x7F ? 0x40 : 0x41);
    const Run* next = std::upper_bound(std::begin(kRuns), std::end(kRuns), pointer,
                                       [](int p, const Run& r) { return p < r.from; });
    if (next == std::begin(kRuns))
        return -1;
    const Run& run = *(next - 1);
    return pointer < run.from + run.length ? run.place + pointer - run.from : -1;
}

} // namespace

void SjisToJisPair(unsigned char& b1, unsigned char& b2) {
    const int place = jisPlace(b1, b2);
    if (place < 0) {
        b1 = kGetaRow;
        b2 = kGetaCell;
        return;
    }
    b1 = static_cast<unsigned char>(place / 94 + 0x21);
    b2 = static_cast<unsigned char>(place % 94 + 0x21);
}

bool hasJisPlace(const QString& character) {
    const QByteArray b = platform::toAnsi(character);
    return b.size() != 2 ||
           jisPlace(static_cast<unsigned char>(b[0]), static_cast<unsigned char>(b[1])) >= 0;
}

bool sjisBytesToJis(const QByteArray& sjis, QByteArray* jis) {
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
            if (c == 0) {
                clean = false; // a NUL has no place in mail (RFC 5322)
                continue;
            }
            if (kanji) {
                out.append(kToAscii, 3);
                kanji = false;
            }
            out.append(static_cast<char>(c));
            continue;
        }
        if (!isLead(c)) {
            clean = false; // half-width katakana or a stray byte
            continue;
        }
        if (!kanji) {
            out.append(kToKanji, 3);
            kanji = true;
        }
        unsigned char b1 = c;
        unsigned char b2 = i + 1 < n ? p[i + 1] : 0;
        // A broken character becomes 〓; an ASCII byte after it is read again.
        if (isTrail(b2) || b2 >= 0x80)
            ++i;
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

QString breakLongLines(const QString& jis, int maxOctets) {
    const QString toKanji = QLatin1String(kToKanji), toAscii = QLatin1String(kToAscii);
    QString out;
    out.reserve(jis.size() + jis.size() / maxOctets * 8);
    int length = 0; // octets on the current line
    bool kanji = false;
    for (qsizetype i = 0; i < jis.size();) {
        const QChar c = jis[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            out += c;
            length = 0;
            ++i;
            continue;
        }
        qsizetype size = 1;
        bool kanjiAfter = kanji;
        if (c == QLatin1Char('\x1B') && jis.mid(i, 3) == toKanji) {
            size = 3;
            kanjiAfter = true;
        } else if (c == QLatin1Char('\x1B') && jis.mid(i, 3) == toAscii) {
            size = 3;
            kanjiAfter = false;
        } else if (kanji) {
            size = std::min<qsizetype>(2, jis.size() - i);
        }
        // Room is kept for the escape back to ASCII while in JIS mode, and a
        // switch into it brings at least one character along.
        const qsizetype need = size + (kanjiAfter ? 3 : 0) + (kanjiAfter && !kanji ? 2 : 0);
        if (length > 0 && length + need > maxOctets && !(kanji && !kanjiAfter)) {
            if (kanji)
                out += toAscii;
            out += QStringLiteral("\r\n");
            length = 0;
            if (kanji) {
                out += toKanji;
                length = 3;
            }
        }
        out += jis.mid(i, size);
        length += static_cast<int>(size);
        kanji = kanjiAfter;
        i += size;
    }
    return out;
}

} // namespace mailwire
