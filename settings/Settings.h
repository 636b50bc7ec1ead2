#pragma once

#include "settings/AppState.h"

#include <QString>

// The two settings files in the program folder, both with the one section
// "Pulsewatch": "Pulsewatch" holds the general settings, "ServerList" the
// watched servers.
inline const QString kSettingsSection = QStringLiteral("Pulsewatch");
inline const QString kGeneralFile = QStringLiteral("Pulsewatch");
inline const QString kServerListFile = QStringLiteral("ServerList");

/// Writes one key into fileName in the program folder of state. False when
/// the file was not written, with the errno in *error; the window that saved
/// tells the operator (saveFailureMessage).
bool WriteIniKey(const AppState& state, const QString& section, const QString& key,
                 const QString& value, const QString& fileName, int* error = nullptr);

/// A save that failed: the settings file and the errno. Empty when every
/// write went through.
struct SaveFailure {
    QString path;
    int error = 0;
    bool failed() const { return !path.isEmpty(); }
};

/// What the window that saved shows when a save failed: the file and why.
QString saveFailureMessage(const SaveFailure& failure);

/// The text of one key, or "" when the file, section or key is missing.
QString ReadIniKey(const AppState& state, const QString& section, const QString& key,
                   const QString& fileName);

/// Folder of the running executable with exactly one trailing "/".
QString GetAppFolder();

/// Loads both files into the in-memory settings and the server table. A
/// server count above 10 loads the first 10; below 0 loads none. Copies
/// that saves cut short left beside the files are removed first.
void LoadSettings(AppState& state);

/// Writes servers 1..SERVER_CNT of the table (name, remark, check value)
/// and then SERVER_CNT into the server list file. Keys of positions beyond
/// the count stay in the file, unread. The first write that failed, if any.
SaveFailure WriteServerList(const AppState& state);

/// Upper-cased extension of a file path; "" when the last name has no dot
/// (a dot in a folder name does not count) or ends in one.
QString GetFileExt(const QString& path);
