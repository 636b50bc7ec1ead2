// Arbitrary code page 932 bytes: the JIS form is 7-bit, its escapes pair
// up, and it always ends in ASCII mode.
#include "ServiceJisSjis.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray sjis(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QByteArray jis;
    mailwire::sjisBytesToJis(sjis, &jis);
    bool kanji = false;
    const bool inputHasEsc = sjis.contains('\x1B');
    for (qsizetype i = 0; i < jis.size(); ++i) {
        const auto c = static_cast<unsigned char>(jis[i]);
        if (c >= 0x80)
            abort();
        if (c == 0x1B && !inputHasEsc) {
            if (jis.mid(i, 3) == "\x1B$B") {
                if (kanji)
                    abort();
                kanji = true;
            } else if (jis.mid(i, 3) == "\x1B(B") {
                if (!kanji)
                    abort();
                kanji = false;
            } else {
                abort();
            }
            i += 2;
        }
    }
    if (kanji && !inputHasEsc)
        abort();
    // The text entry point agrees with the byte one.
    (void)mailwire::SjisToJis(QString::fromLatin1(sjis));
    return 0;
}
