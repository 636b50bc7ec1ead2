#include "platform/NumericText.h"

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace platform {
namespace {

bool skipped(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

// Radix numbers: up to 16 bits they read as a signed 16-bit value, up to 32
// bits as a signed 32-bit one (&HFFFF is -1, &H10000 is 65536).
double radixValue(const QString& text, qsizetype i, int base) {
    quint64 value = 0;
    bool any = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (skipped(c))
            continue;
        const char16_t u = c.toUpper().unicode();
        const int digit = (u >= u'0' && u <= u'9')   ? u - u'0'
                          : (u >= u'A' && u <= u'F') ? u - u'A' + 10
                                                     : -1;
        if (digit < 0 || digit >= base)
            break;
        any = true;
        value = value * base + digit;
        if (value > 0xFFFFFFFFull)
            return static_cast<double>(value); // already beyond any setting's range
    }
    if (!any)
        return 0;
    if (value <= 0xFFFF)
        return static_cast<qint16>(static_cast<quint16>(value));
    return static_cast<qint32>(static_cast<quint32>(value));
}

// What a number is written with for the eye only; the modem is not sent it.
bool dialSeparator(QChar c) {
    return c == u' ' || c == u'-' || c == u'(' || c == u')';
}

bool dialable(QChar c) {
    const char16_t u = c.toUpper().unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'D') ||
           QStringView(u"*#+,WPT!@").contains(QChar(u)) || dialSeparator(c);
}

} // namespace

QString halfWidth(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u >= 0xFF01 && u <= 0xFF5E)
            c = QChar(u - 0xFF01 + 0x21);
        else if (u == 0x3000)
            c = QChar(u' ');
        else if (c.isDigit())
            c = QChar(u'0' + c.digitValue());
    }
    return out;
}

QString telephoneText(const QString& typed) {
    QString out = halfWidth(typed);
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        // The long vowel marks, hyphens, dashes and minus signs an input
        // method offers where a hyphen is meant.
        if (u == 0x30FC || u == 0xFF70 || (u >= 0x2010 && u <= 0x2015) || u == 0x2212)
            c = QChar(u'-');
    }
    return out;
}

qsizetype firstUndialable(const QString& typed) {
    const QString number = telephoneText(typed);
    for (qsizetype i = 0; i < number.size(); ++i)
        if (!dialable(number[i]))
            return i;
    return -1;
}

QString dialString(const QString& typed) {
    if (firstUndialable(typed) >= 0)
        return QString();
    QString dial;
    for (const QChar c : telephoneText(typed))
        if (!dialSeparator(c))
            dial += c.toUpper();
    return dial;
}

double numericValue(const QString& text) {
    qsizetype i = 0;
    auto next = [&]() {
        while (i < text.size() && skipped(text[i]))
            ++i;
        return i < text.size() ? text[i] : QChar();
    };

    if (next() == u'&' && i + 1 < text.size()) {
        const QChar radix = text[i + 1].toUpper();
        if (radix == u'H')
            return radixValue(text, i + 2, 16);
        if (radix == u'O')
            return radixValue(text, i + 2, 8);
        return 0;
    }

    std::string number;
    if (next() == u'+' || (i < text.size() && text[i] == u'-')) {
        number += static_cast<char>(text[i].unicode());
        ++i;
    }
    auto digits = [&]() {
        bool any = false;
        while (next().isDigit() && text[i].unicode() < 128) {
            number += static_cast<char>(text[i++].unicode());
            any = true;
        }
        return any;
    };
    bool mantissa = digits();
    if (next() == u'.') {
        number += '.';
        ++i;
        mantissa = digits() || mantissa;
    }
    if (!mantissa)
        return 0;
    const QChar e = next().toUpper();
    if (e == u'E' || e == u'D') {
        const qsizetype mark = i;
        const std::size_t kept = number.size();
        number += 'e';
        ++i;
        if (next() == u'+' || (i < text.size() && text[i] == u'-')) {
            number += static_cast<char>(text[i].unicode());
            ++i;
        }
        if (!digits()) { // "3E" or "2Dx": the letter ends the number
            number.resize(kept);
            i = mark;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

qint16 toInt16(const QString& text) {
    const double v = numericValue(text);
    if (std::isnan(v))
        return 0;
    // nearbyint honours the current rounding mode, which is to-nearest-even
    // unless someone changed it; std::round would send halves away from 0.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(v);
    std::fesetround(saved);
    if (r < std::numeric_limits<qint16>::min())
        return std::numeric_limits<qint16>::min();
    if (r > std::numeric_limits<qint16>::max())
        return std::numeric_limits<qint16>::max();
    return static_cast<qint16>(r);
}

QString numberText(double value) {
    if (value == 0)
        return QStringLiteral("0"); // never "-0"
    return QString::number(value, 'g', 15).toUpper();
}

} // namespace platform
