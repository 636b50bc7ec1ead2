#include "settings/FieldCheck.h"

#include "platform/AnsiText.h"

#include <QList>

#include <algorithm>

namespace settings {

QString unsavableTextMessage(const QString& label, const QString& text,
                             platform::TextEncoding encoding) {
    const bool control = std::any_of(text.begin(), text.end(),
                                     [](QChar c) { return c.category() == QChar::Other_Control; });
    if (!control &&
        (encoding == platform::TextEncoding::Utf8 || platform::isAnsiRepresentable(text)))
        return QString();
    return QStringLiteral("【") + label + QStringLiteral("】に使用できない文字が含まれています。");
}

namespace {

bool dotted(QStringView text, bool (*allowed)(QChar)) {
    if (text.isEmpty() || text.startsWith(u'.') || text.endsWith(u'.') || text.contains(u".."))
        return false;
    return std::all_of(text.begin(), text.end(), [&](QChar c) { return c == u'.' || allowed(c); });
}

bool letterOrDigit(QChar c) {
    return c.unicode() < 0x80 && c.isLetterOrNumber();
}

// The characters of an atom (RFC 5322 atext).
bool atomCharacter(QChar c) {
    return letterOrDigit(c) || QStringView(u"!#$%&'*+-/=?^_`{|}~").contains(c);
}

bool hostCharacter(QChar c) {
    return letterOrDigit(c) || c == u'-';
}

} // namespace

bool isMailAddress(const QString& text) {
    const qsizetype at = text.lastIndexOf(u'@');
    if (at <= 0)
        return false;
    const QStringView local = QStringView(text).left(at);
    const QStringView domain = QStringView(text).mid(at + 1);
    if (!dotted(local, atomCharacter))
        return false;
    if (domain.startsWith(u'[') && domain.endsWith(u']') && domain.size() > 2) {
        const QStringView literal = domain.mid(1, domain.size() - 2);
        return std::all_of(literal.begin(), literal.end(), [](QChar c) {
            return c.unicode() > 0x20 && c.unicode() < 0x7F && c != u'[' && c != u']' && c != u'\\';
        });
    }
    if (!dotted(domain, hostCharacter))
        return false;
    for (const QStringView label : domain.split(u'.'))
        if (label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
    return true;
}

} // namespace settings
