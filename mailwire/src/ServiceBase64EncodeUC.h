#pragma once

#include <QByteArray>
#include <QString>

namespace mailwire {

/// Base64 (RFC 2045 alphabet, "=" padding, no line breaks); "" for no bytes.
QString Base64Encode(const QByteArray& bytes);

/// The Base64 character of a value 0..63; "" for any other value.
QString Base64Char(int value);

} // namespace mailwire
