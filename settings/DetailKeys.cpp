#include "settings/DetailKeys.h"

#include "settings/FieldCheck.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

#include <QLineEdit>
#include <QSslCertificate>
#include <QWidget>

namespace settings {

bool saveDetailKeys(AppState& state, platform::WindowSystem& ui, const QList<DetailKey>& keys) {
    const platform::TextEncoding encoding = profileEncoding(state.AppFolder + kGeneralFile);
    for (const DetailKey& k : keys) {
        const QString refusal = unsavableTextMessage(QString::fromUtf8(k.label), k.value, encoding);
        if (!refusal.isEmpty()) {
            ui.messageBox(refusal, platform::MessageIcon::Critical);
            k.field->setFocus();
            return false;
        }
    }
    SaveFailure failure;
    for (const DetailKey& k : keys) {
        int error = 0;
        if (!WriteIniKey(state, kSettingsSection, QLatin1String(k.key), k.value, kGeneralFile,
                         &error) &&
            !failure.failed())
            failure = {state.AppFolder + kGeneralFile, error};
    }
    LoadSettings(state);
    if (failure.failed())
        ui.messageBox(saveFailureMessage(failure), platform::MessageIcon::Critical);
    return true;
}

bool refuseField(platform::WindowSystem& ui, const QString& message, QWidget* focus) {
    ui.messageBox(message, platform::MessageIcon::Critical);
    if (focus)
        focus->setFocus();
    return false;
}

void chooseCaFile(platform::WindowSystem& ui, QWidget* parent, QLineEdit* field) {
    const QString chosen = ui.getOpenFileName(parent, QStringLiteral("/etc/ssl/certs"));
    if (!chosen.isEmpty())
        field->setText(chosen);
}

bool holdsCertificates(const QString& path) {
    return !QSslCertificate::fromPath(path, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString)
                .isEmpty();
}

} // namespace settings
