#pragma once

#include <QByteArray>
#include <QString>

namespace mailwire {

/// Rewrites a code page 932 double-byte code as its JIS X 0208 pair (row and
/// cell, each + 0x20). Codes outside the convertible area give 0, 0.
void SjisToJisPair(unsigned char& b1, unsigned char& b2);

/// Code page 932 bytes to ISO-2022-JP: every run of double-byte characters
/// is wrapped in ESC "$B" ... ESC "(B"; ASCII is copied. Returns false when
/// the text holds half-width katakana or other single 8-bit bytes, which
/// ISO-2022-JP cannot carry (they are left out of the result).
bool sjisBytesToJis(const QByteArray& sjis, QByteArray* jis);

/// Text to ISO-2022-JP, one character per byte. Characters code page 932
/// lacks arrive as "?". ok (when given) is false when the text held
/// half-width katakana; the composer replaces those first.
QString SjisToJis(const QString& text, bool* ok = nullptr);

} // namespace mailwire
