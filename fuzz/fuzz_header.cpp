// Any header text a caller can hand the composer (subject, names,
// addresses): encoding and folding must not crash, every encoded word stays
// within its limit, no line grows beyond 998 characters, and folding only
// turns single spaces into CR LF + space.
#include "ServiceCharCode.h"
#include "platform/AnsiText.h"

#include <QRegularExpression>
#include <QStringList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString encoded = mailwire::EncodeHeaderText(text);
    // Words of the caller's own that start with "=?" are no encoded words;
    // a character code page 932 lacks goes out as "?", so "=" before one
    // makes such a word too.
    if (!platform::toAnsi(text).contains("=?"))
        for (const QString& word : encoded.split(QLatin1Char(' ')))
            if (word.startsWith(QStringLiteral("=?")) && word.size() > 74)
                abort();
    const QString folded = mailwire::FoldHeader(encoded + QStringLiteral("\r\n"));
    if (!folded.endsWith(QStringLiteral("\r\n")))
        abort();
    // No line over RFC 5322's 998 octets, whatever words the text holds.
    for (const QString& line : folded.split(QRegularExpression(QStringLiteral("\r\n|\r|\n"))))
        if (line.size() > 998)
            abort();
    if (!encoded.contains(QStringLiteral("\r\n "))) {
        QString unfolded = folded;
        unfolded.replace(QStringLiteral("\r\n "), QStringLiteral(" "));
        if (unfolded != encoded + QStringLiteral("\r\n"))
            abort();
    }
    return 0;
}
