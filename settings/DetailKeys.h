#pragma once

#include "platform/WindowSystem.h"
#include "settings/AppState.h"

#include <QList>
#include <QString>

class QLineEdit;
class QWidget;

namespace settings {

/// One key of the general settings file as a details window (送信サーバーの
/// 詳細, 通知の詳細) saves it: its value, the field it comes from and that
/// field's label.
struct DetailKey {
    const char* key;
    QString value;
    QWidget* field;
    const char* label;
};

/// What a details window's OK does with its keys: the first value the file
/// cannot hold is refused (its field focused) and nothing is saved; else
/// every key is written, the settings are reloaded so that memory holds what
/// the file now holds, and a save that failed is said. False when refused.
bool saveDetailKeys(AppState& state, platform::WindowSystem& ui, const QList<DetailKey>& keys);

/// A settings window's refusal of a field: the message box, then the field
/// focused. Always false, for "return refuseField(...)".
bool refuseField(platform::WindowSystem& ui, const QString& message, QWidget* focus);

/// The chooser of a CA file field, starting in the system's certificates.
void chooseCaFile(platform::WindowSystem& ui, QWidget* parent, QLineEdit* field);

/// True when path is a PEM file with at least one certificate: what a CA
/// file field takes, read as the TLS code will read it.
bool holdsCertificates(const QString& path);

} // namespace settings
