#pragma once

#include <QString>

namespace mailwire {

/// "=?ISO-2022-JP?B?" + Base64 of the JIS form of text + "?=".
QString EncodeWord(const QString& text);

/// Replaces every run of non-ASCII characters by encoded words of at most
/// 18 characters each; each run gets a space before it and each word one
/// after it. An ASCII word too long for a 998-octet line is encoded too, in
/// words of 42 characters. A character code page 932 lacks comes out as
/// "?", the byte it goes on the wire as.
QString EncodeHeaderText(const QString& text);

/// Folds each CR LF line at single spaces so no line grows beyond 75
/// characters (a continuation line starts with one space; a word longer
/// than that is never split). Every output line ends in CR LF.
QString FoldHeader(const QString& text);

} // namespace mailwire
