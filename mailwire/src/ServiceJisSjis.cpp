#include "ServiceJisSjis.h"

#include "platform/AnsiText.h"

#include <algorithm>
#include <iterator>

namespace mailwire {
namespace {

const char kToKanji[] = "\x1B$B";
const char kToAscii[] = "\x1B(B";
const char kToRoman[] = "\x1B(J";
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

namespace {

// ISO-2022-JP out of code page 932 bytes and JIS-Roman characters, with the
// escapes between the three sets; it starts and ends in ASCII.
class JisWriter {
public:
    explicit JisWriter(qsizetype size) {
        // Worst case: every double-byte character alone between two escapes.
        m_out.reserve(size + size / 2 * 6 + 8);
    }

    void sjis(const QByteArray& bytes) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
        const qsizetype n = bytes.size();
        for (qsizetype i = 0; i < n; ++i) {
            const unsigned char c = p[i];
            if (c < 0x80) {
                if (c == 0) {
                    m_clean = false; // a NUL has no place in mail (RFC 5322)
                    continue;
                }
                to(Mode::Ascii);
                m_out.append(static_cast<char>(c));
                continue;
            }
            if (!isLead(c)) {
                m_clean = false; // half-width katakana or a stray byte
                continue;
            }
            to(Mode::Kanji);
            unsigned char b1 = c;
            unsigned char b2 = i + 1 < n ? p[i + 1] : 0;
            // A broken character becomes 〓; an ASCII byte after it is read again.
            if (isTrail(b2) || b2 >= 0x80)
                ++i;
            SjisToJisPair(b1, b2);
            m_out.append(static_cast<char>(b1));
            m_out.append(static_cast<char>(b2));
        }
    }

    // 0x5C is ¥ and 0x7E is ‾ in JIS-Roman (JIS X 0201), which ISO-2022-JP
    // reaches with ESC "(J" (RFC 1468).
    void roman(char c) {
        to(Mode::Roman);
        m_out.append(c);
    }

    QByteArray finish() {
        to(Mode::Ascii);
        return std::move(m_out);
    }
    bool clean() const { return m_clean; }

private:
    enum class Mode { Ascii, Roman, Kanji };

    void to(Mode mode) {
        if (mode == m_mode)
            return;
        m_out.append(mode == Mode::Kanji ? kToKanji : mode == Mode::Roman ? kToRoman : kToAscii, 3);
        m_mode = mode;
    }

    QByteArray m_out;
    Mode m_mode = Mode::Ascii;
    bool m_clean = true;
};

} // namespace

bool sjisBytesToJis(const QByteArray& sjis, QByteArray* jis) {
    JisWriter writer(sjis.size());
    writer.sjis(sjis);
    *jis = writer.finish();
    return writer.clean();
}

bool isJisRoman(QChar c) {
    return c == QChar(0x00A5) || c == QChar(0x203E);
}

QString SjisToJis(const QString& text, bool* ok) {
    // Code page 932 would write ¥ and ‾ as the ASCII backslash and tilde:
    // they go out in JIS-Roman instead, so they arrive as themselves.
    JisWriter writer(text.size() * 2);
    qsizetype from = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isJisRoman(text[i]))
            continue;
        writer.sjis(platform::toAnsi(text.mid(from, i - from)));
        if (i < text.size())
            writer.roman(text[i] == QChar(0x00A5) ? '\x5C' : '\x7E');
        from = i + 1;
    }
    const QByteArray jis = writer.finish();
    if (ok)
        *ok = writer.clean();
    return QString::fromLatin1(jis);
}

QString breakLongLines(const QString& jis, int maxOctets) {
    enum class Mode { Ascii, Roman, Kanji };
    const QString toKanji = QLatin1String(kToKanji), toAscii = QLatin1String(kToAscii),
                  toRoman = QLatin1String(kToRoman);
    auto escape = [&](Mode m) {
        return m == Mode::Kanji ? toKanji : m == Mode::Roman ? toRoman : toAscii;
    };
    QString out;
    out.reserve(jis.size() + jis.size() / maxOctets * 8);
    int length = 0; // octets on the current line
    Mode mode = Mode::Ascii;
    for (qsizetype i = 0; i < jis.size();) {
        const QChar c = jis[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            out += c;
            length = 0;
            ++i;
            continue;
        }
        qsizetype size = 1;
        Mode after = mode;
        if (c == QLatin1Char('\x1B') && jis.mid(i, 3) == toKanji) {
            size = 3;
            after = Mode::Kanji;
        } else if (c == QLatin1Char('\x1B') && jis.mid(i, 3) == toAscii) {
            size = 3;
            after = Mode::Ascii;
        } else if (c == QLatin1Char('\x1B') && jis.mid(i, 3) == toRoman) {
            size = 3;
            after = Mode::Roman;
        } else if (mode == Mode::Kanji) {
            size = std::min<qsizetype>(2, jis.size() - i);
        }
        // Room is kept for the escape back to ASCII while in another set,
        // and a switch into one brings at least one character along.
        const qsizetype need = size + (after != Mode::Ascii ? 3 : 0) +
                               (after != mode ? (after == Mode::Kanji ? 2 : 1) : 0);
        if (length > 0 && length + need > maxOctets &&
            !(mode != Mode::Ascii && after == Mode::Ascii)) {
            if (mode != Mode::Ascii)
                out += toAscii;
            out += QStringLiteral("\r\n");
            length = 0;
            if (mode != Mode::Ascii) {
                out += escape(mode);
                length = 3;
            }
        }
        out += jis.mid(i, size);
        length += static_cast<int>(size);
        mode = after;
        i += size;
    }
    return out;
}

} // namespace mailwire
