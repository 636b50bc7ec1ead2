#include "settings/FieldCheck.h"

#include "platform/AnsiText.h"

#include <algorithm>

namespace settings {

QString unsavableTextMessage(const QString& label, const QString& text) {
    const bool control = std::any_of(text.begin(), text.end(),
                                     [](QChar c) { return c.category() == QChar::Other_Control; });
    if (!control && platform::isAnsiRepresentable(text))
        return QString();
    return QStringLiteral("【") + label + QStringLiteral("】に使用できない文字が含まれています。");
}

} // namespace settings
