#include "settings/FieldCheck.h"

#include "platform/AnsiText.h"

namespace settings {

QString unsavableTextMessage(const QString& label, const QString& text) {
    if (platform::isAnsiRepresentable(text))
        return QString();
    return QStringLiteral("【") + label + QStringLiteral("】に使用できない文字が含まれています。");
}

} // namespace settings
