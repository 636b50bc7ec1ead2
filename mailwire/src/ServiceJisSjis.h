#pragma once

#include <QByteArray>
#include <QString>

namespace mailwire {

/// Rewrites a code page 932 double-byte code as the JIS row and cell (each
/// + 0x20) at which ISO-2022-JP decoders read its character: the first place
/// of that character in rows 1-94, so an IBM extension goes out as its
/// NEC-selected twin. A code with no such place gives 〓 (0x22 0x2E).
void SjisToJisPair(unsigned char& b1, unsigned char& b2);

/// False for a double-byte character that SjisToJisPair turns into 〓 (the
/// user-defined area, for one).
bool hasJisPlace(const QString& character);

/// Code page 932 bytes to ISO-2022-JP: every run of double-byte characters
/// is wrapped in ESC "$B" ... ESC "(B"; ASCII is copied. Nothing comes out as
/// NUL or above 0x7F. Returns false when the input held half-width katakana,
/// other single 8-bit bytes or NUL, which mail cannot carry (they are left
/// out of the result).
bool sjisBytesToJis(const QByteArray& sjis, QByteArray* jis);

/// Text to ISO-2022-JP, one character per byte. ¥ and ‾ go out in JIS-Roman
/// (ESC "(J" 0x5C and 0x7E, RFC 1468), not as the backslash and tilde code
/// page 932 makes of them. Characters code page 932 lacks arrive as "?". ok
/// (when given) is false when the text held half-width katakana or NUL; the
/// composer replaces those first.
QString SjisToJis(const QString& text, bool* ok = nullptr);

/// True for ¥ (U+00A5) and ‾ (U+203E), which go out in JIS-Roman.
bool isJisRoman(QChar c);

/// Breaks every line (ended by CR LF, CR or LF) of ISO-2022-JP text that is
/// longer than maxOctets: RFC 5322 caps a line at 998. A break inside a JIS
/// (or JIS-Roman) run closes it before the CR LF and opens it again after,
/// so each line decodes on its own.
QString breakLongLines(const QString& jis, int maxOctets = 998);

} // namespace mailwire
