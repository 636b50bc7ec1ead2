#pragma once

#include "platform/AnsiText.h"

#include <QString>

namespace settings {

/// The settings files hold one line of text per value: a control character
/// would split or cut the entry, and in a code page 932 file a character
/// outside the code page would be stored as "?". This is the settings
/// windows' refusal of such text: "【label】に使用できない文字が含まれています。",
/// or "" when every character of text can be saved in a file of that
/// encoding.
QString unsavableTextMessage(const QString& label, const QString& text,
                             platform::TextEncoding encoding = platform::TextEncoding::Ansi);

/// True when text is a mail address a mail server takes as a sender
/// (RFC 5321 Mailbox): local@domain, the local part of letters, digits, the
/// signs of an atom and single dots, the domain a host name or an address
/// literal in brackets. No blank, control or non-ASCII character.
bool isMailAddress(const QString& text);

} // namespace settings
