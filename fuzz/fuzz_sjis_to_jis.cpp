// Arbitrary code page 932 bytes: the JIS form holds no NUL and nothing above
// 0x7F, its escapes pair up, it always ends in ASCII mode, and the text entry
// point gives the same bytes for the same characters.
#include "ServiceJisSjis.h"

#include "platform/AnsiText.h"

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
        if (c == 0 || c >= 0x80)
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
    // The text path: the characters these bytes stand for come out as the
    // same JIS bytes, whenever the bytes are exactly their code page 932 form.
    const QString text = platform::fromAnsi(sjis);
    const QByteArray viaText = mailwire::SjisToJis(text).toLatin1();
    if (platform::toAnsi(text) == sjis && viaText != jis)
        abort();
    for (char c : viaText)
        if (c <= 0)
            abort();
    return 0;
}
