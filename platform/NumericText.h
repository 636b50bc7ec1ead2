#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

/// The numeric value at the start of text: blanks, tabs and line feeds are
/// skipped wherever they stand; then an optional sign, digits, an optional
/// fraction and an optional exponent (E or D), or &H / &O followed by
/// hexadecimal / octal digits. Reading stops at the first other character;
/// a text without a number is 0.
double numericValue(const QString& text);

/// numericValue rounded half to even and clamped to the 16-bit range.
qint16 toInt16(const QString& text);

/// Plain decimal text of a value: "3", "-1", "2.5"; up to 15 significant
/// digits as the desktop's number-to-text conversion gives.
QString numberText(double value);

} // namespace platform
