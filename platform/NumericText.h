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

/// text with what an input method in full-width mode types for ASCII in
/// ASCII: the full-width forms of letters, digits and signs ("１０", "－")
/// and the ideographic space; digits of any script become 0-9, as the log
/// viewer reads them. Everything else stays.
QString halfWidth(const QString& text);

/// A telephone number as it is kept: halfWidth, and the dashes an input
/// method gives for a hyphen ("ー", "－", "‐") as "-".
QString telephoneText(const QString& typed);

/// Position in telephoneText(typed) of the first character that no modem
/// dials, or -1 when there is none. A modem dials the digits, * # + and A to
/// D, and takes , W P T ! @ as dial modifiers (ITU-T V.250); blanks,
/// hyphens and brackets are for the eye. A ";" would end the dial command
/// early, and a line end would end the command line.
qsizetype firstUndialable(const QString& typed);

/// What the modem is sent after ATDT for a typed number: telephoneText
/// without the blanks, hyphens and brackets, letters in capitals; "" when
/// the number holds a character no modem dials.
QString dialString(const QString& typed);

} // namespace platform
