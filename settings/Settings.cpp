#include "settings/Settings.h"

#include "platform/FileIo.h"
#include "platform/NumericText.h"
#include "settings/IniFile.h"

#include <QCoreApplication>
#include <QtDebug>

namespace {

// Mode: a choice among small numbers, where a value that is no number reads
// as -1 (refused where it is used) rather than as the 0 Integer would give.
enum class Kind { Text, Integer, Number, Mode };

struct GeneralKey {
    const char* key;
    Kind kind;
    QString AppState::*text;
    qint16 AppState::*integer;
};

// Every key of the general settings file, in the order they are loaded.
const GeneralKey kGeneralKeys[] = {
    {"DIAL_ENTRY", Kind::Text, &AppState::DIAL_ENTRY, nullptr},
    {"DIAL_USER", Kind::Text, &AppState::DIAL_USER, nullptr},
    {"DIAL_PWD", Kind::Text, &AppState::DIAL_PWD, nullptr},
    {"EMARGE_SOUND", Kind::Text, &AppState::EMARGE_SOUND, nullptr},
    {"mINTERVAL", Kind::Integer, nullptr, &AppState::mINTERVAL},
    {"EMARGE_SERVER", Kind::Text, &AppState::EMARGE_SERVER, nullptr},
    {"EMARGE_MAIL", Kind::Text, &AppState::EMARGE_MAIL, nullptr},
    {"EMARGE_MAIL2", Kind::Text, &AppState::EMARGE_MAIL2, nullptr},
    {"USED_LAN", Kind::Integer, nullptr, &AppState::USED_LAN},
    {"TEL1", Kind::Text, &AppState::TEL1, nullptr},
    {"TEL2", Kind::Text, &AppState::TEL2, nullptr},
    {"TEL3", Kind::Text, &AppState::TEL3, nullptr},
    {"TEL4", Kind::Text, &AppState::TEL4, nullptr},
    {"TEL5", Kind::Text, &AppState::TEL5, nullptr},
    {"TEL6", Kind::Text, &AppState::TEL6, nullptr},
    {"RETRY", Kind::Number, &AppState::RETRY, nullptr},
    {"COMPORT", Kind::Text, &AppState::COMPORT, nullptr},
    {"COMSETTING", Kind::Text, &AppState::COMSETTING, nullptr},
    {"EMARGE_PORT", Kind::Text, &AppState::EMARGE_PORT, nullptr},
    {"EMARGE_SECURITY", Kind::Mode, nullptr, &AppState::EMARGE_SECURITY},
    {"EMARGE_USER", Kind::Text, &AppState::EMARGE_USER, nullptr},
    {"EMARGE_PWD", Kind::Text, &AppState::EMARGE_PWD, nullptr},
    {"EMARGE_CAFILE", Kind::Text, &AppState::EMARGE_CAFILE, nullptr},
    {"EMARGE_FROM", Kind::Text, &AppState::EMARGE_FROM, nullptr},
    {"RECOVERY_NOTICE", Kind::Integer, nullptr, &AppState::RECOVERY_NOTICE},
    {"WEBHOOK_URL", Kind::Text, &AppState::WEBHOOK_URL, nullptr},
    {"WEBHOOK_FORMAT", Kind::Text, &AppState::WEBHOOK_FORMAT, nullptr},
    {"WEBHOOK_CAFILE", Kind::Text, &AppState::WEBHOOK_CAFILE, nullptr},
    {"DESKTOP_NOTICE", Kind::Integer, nullptr, &AppState::DESKTOP_NOTICE},
    {"EVENT_DB", Kind::Text, &AppState::EVENT_DB, nullptr},
    {"STATION_NAME", Kind::Text, &AppState::STATION_NAME, nullptr},
};

QString readServerKey(const AppState& state, const char* word, int index) {
    return ReadIniKey(state, kSettingsSection, QLatin1String(word) + QString::number(index),
                      kServerListFile);
}

} // namespace

bool WriteIniKey(const AppState& state, const QString& section, const QString& key,
                 const QString& value, const QString& fileName, int* error) {
    return settings::writeProfileString(state.AppFolder + fileName, section, key, value, error);
}

QString saveFailureMessage(const SaveFailure& failure) {
    return QStringLiteral("【") + failure.path + QStringLiteral("】に保存できませんでした（") +
           platform::failureReason(failure.error) + QStringLiteral("）。");
}

QString ReadIniKey(const AppState& state, const QString& section, const QString& key,
                   const QString& fileName) {
    return settings::readProfileString(state.AppFolder + fileName, section, key, QString());
}

QString GetAppFolder() {
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void LoadSettings(AppState& state) {
    // Saves run on the one thread that loads, so none is under way now: a
    // copy beside a file is what a save cut short by a kill or a crash left,
    // and it may hold the passwords.
    for (const QString& file : {kServerListFile, kGeneralFile})
        for (const QString& left : platform::removeSaveLeftovers(state.AppFolder + file))
            qInfo().noquote() << "removed" << left << "(left by a save that was cut short)";
    qint16 count = platform::toInt16(
        ReadIniKey(state, kSettingsSection, QStringLiteral("SERVER_CNT"), kServerListFile));
    if (count > AppState::kMaxServers) {
        qWarning().noquote() << "ServerList: SERVER_CNT" << count << "is more than"
                             << AppState::kMaxServers << "- only the first" << AppState::kMaxServers
                             << "servers are watched";
        count = AppState::kMaxServers;
    }
    state.SERVER_CNT = std::max<qint16>(count, 0);
    for (int i = 1; i <= state.SERVER_CNT; ++i) {
        ServerEntry& s = state.Servers[i];
        s.Name = readServerKey(state, "SERVER_NAME", i);
        s.Remark = readServerKey(state, "SERVER_ETC", i);
        s.Check = platform::toInt16(readServerKey(state, "SERVER_CHECK", i));
    }

    for (const GeneralKey& k : kGeneralKeys) {
        const QString value =
            ReadIniKey(state, kSettingsSection, QLatin1String(k.key), kGeneralFile);
        switch (k.kind) {
        case Kind::Text:
            state.*k.text = value;
            break;
        case Kind::Integer:
            state.*k.integer = platform::toInt16(value);
            break;
        case Kind::Number:
            state.*k.text = platform::numberText(platform::numericValue(value));
            break;
        case Kind::Mode: {
            bool number = false;
            const short mode = value.trimmed().toShort(&number);
            state.*k.integer = value.trimmed().isEmpty() ? 0 : number ? mode : -1;
            break;
        }
        }
    }
}

SaveFailure WriteServerList(const AppState& state) {
    SaveFailure failure;
    const auto write = [&](const QString& key, const QString& value) {
        int error = 0;
        if (!WriteIniKey(state, kSettingsSection, key, value, kServerListFile, &error) &&
            !failure.failed())
            failure = {state.AppFolder + kServerListFile, error};
    };
    const int count = state.serverCount();
    for (int i = 1; i <= count; ++i) {
        const ServerEntry& s = state.Servers[i];
        const QString n = QString::number(i);
        write(QStringLiteral("SERVER_NAME") + n, s.Name);
        write(QStringLiteral("SERVER_ETC") + n, s.Remark);
        write(QStringLiteral("SERVER_CHECK") + n, QString::number(s.Check));
    }
    write(QStringLiteral("SERVER_CNT"), QString::number(count));
    return failure;
}

QString GetFileExt(const QString& path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        const QChar c = path[i];
        if (c == u'.')
            return path.mid(i + 1).toUpper();
        if (c == u'\\' || c == u'/')
            return QString();
    }
    return QString();
}
