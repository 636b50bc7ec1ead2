#include "ServiceBase64EncodeUC.h"

namespace mailwire {
namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

QString Base64Encode(const QByteArray& bytes) {
    const qsizetype n = bytes.size();
    QString out((n + 2) / 3 * 4, Qt::Uninitialized);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    QChar* o = out.data();
    for (qsizetype i = 0; i < n; i += 3) {
        const unsigned v =
            (p[i] << 16) | (i + 1 < n ? p[i + 1] << 8 : 0) | (i + 2 < n ? p[i + 2] : 0);
        *o++ = QLatin1Char(kAlphabet[(v >> 18) & 63]);
        *o++ = QLatin1Char(kAlphabet[(v >> 12) & 63]);
        *o++ = i + 1 < n ? QLatin1Char(kAlphabet[(v >> 6) & 63]) : QLatin1Char('=');
        *o++ = i + 2 < n ? QLatin1Char(kAlphabet[v & 63]) : QLatin1Char('=');
    }
    return out;
}

QString Base64Char(int value) {
    if (value < 0 || value > 63)
        return QString();
    return QString(QLatin1Char(kAlphabet[value]));
}

} // namespace mailwire
