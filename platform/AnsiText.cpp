#include "platform/AnsiText.h"

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace platform {
namespace {

// One converter per direction and thread: iconv_open costs more than a short
// conversion, and a handle must not be shared between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts in, calling onBad(in, left, out) at every sequence iconv
    // refuses; onBad consumes input and appends a stand-in. Returns false
    // when onBad was called.
    template <typename OnBad> bool run(const QByteArray& in, QByteArray& out, OnBad onBad) {
        bool clean = true;
        out.clear();
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            return false;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.constData());
        size_t left = static_cast<size_t>(in.size());
        char buffer[4096];
        while (left > 0) {
            char* dst = buffer;
            size_t room = sizeof buffer;
            const size_t rc = iconv(m_cd, &src, &left, &dst, &room);
            out.append(buffer, dst - buffer);
            if (rc != static_cast<size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ, or EINVAL for a sequence cut off at the end.
            clean = false;
            onBad(src, left, out);
        }
        char* dst = buffer;
        size_t room = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &dst, &room);
        out.append(buffer, dst - buffer);
        return clean;
    }

private:
    iconv_t m_cd;
};

Converter& encoder() {
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

Converter& decoder() {
    thread_local Converter c("UTF-8", "CP932");
    return c;
}

size_t utf8Length(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

bool encode(const QString& text, QByteArray& out) {
    return encoder().run(text.toUtf8(), out, [](char*& src, size_t& left, QByteArray& o) {
        const size_t n = std::min(left, utf8Length(static_cast<unsigned char>(*src)));
        src += n;
        left -= n;
        o.append('?');
    });
}

} // namespace

QByteArray toAnsi(const QString& text) {
    QByteArray out;
    encode(text, out);
    return out;
}

bool isAnsiRepresentable(const QString& text) {
    QByteArray out;
    return encode(text, out);
}

QString fromAnsi(const QByteArray& bytes) {
    QByteArray utf8;
    decoder().run(bytes, utf8, [](char*& src, size_t& left, QByteArray& o) {
        ++src;
        --left;
        o.append("\xEF\xBF\xBD");
    });
    return QString::fromUtf8(utf8);
}

TextEncoding encodingOf(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return TextEncoding::Utf8;
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return TextEncoding::Ansi;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = utf8(bytes);
    return utf8.hasError() ? TextEncoding::Ansi : TextEncoding::Utf8;
}

QString decodeText(const QByteArray& bytes, TextEncoding encoding) {
    return encoding == TextEncoding::Utf8 ? QString::fromUtf8(bytes) : fromAnsi(bytes);
}

QString decodeTextFile(const QByteArray& bytes) {
    const TextEncoding encoding = encodingOf(bytes);
    return decodeText(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes, encoding);
}

QByteArray encodeText(const QString& text, TextEncoding encoding) {
    return encoding == TextEncoding::Utf8 ? text.toUtf8() : toAnsi(text);
}

} // namespace platform
