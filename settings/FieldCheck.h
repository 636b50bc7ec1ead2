#pragma once

#include <QString>

namespace settings {

/// The settings files hold text in code page 932, where a character outside
/// it would be stored as "?". This is the settings windows' refusal of such
/// text: "【label】に使用できない文字が含まれています。", or "" when every
/// character of text can be saved.
QString unsavableTextMessage(const QString& label, const QString& text);

} // namespace settings
