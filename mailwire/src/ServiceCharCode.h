#pragma once

#include <QString>

namespace mailwire {

/// "=?ISO-2022-JP?B?" + Base64 of the JIS form of text + "?=".
QString EncodeWord(const QString& text);

/// Replaces every run of non-ASCII characters by encoded words of at most
/// 75 characters (18 double-byte characters) each; each run gets a space
/// before it and each word one after it. An ASCII word too long for a
/// 998-octet line is encoded too, in words of 42 characters. A character
/// code page 932 lacks comes out as "?", the byte it goes on the wire as;
/// ¥ and ‾ go into encoded words, in JIS-Roman.
QString EncodeHeaderText(const QString& text);

/// A display name as the phrase of an address (RFC 5322), so that every
/// reader takes it as one name: plain words (atext and spaces) as they
/// are; other ASCII as a quoted string; anything else whole as encoded
/// words of at most 75 characters each, one space between them.
QString EncodePhrase(const QString& name);

/// Folds each CR LF line at single spaces so no line grows beyond 75
/// characters (a continuation line starts with one space; a word longer
/// than that is never split). Every output line ends in CR LF.
QString FoldHeader(const QString& text);

} // namespace mailwire
