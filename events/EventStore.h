#pragma once

#include "settings/AppState.h"

#include <QString>

namespace events {

/// Where the event rows go: the file PLW beside the program, or a
/// PostgreSQL database that several watch stations share (EVENT_DB).
struct EventStore {
    QString plwPath; ///< the PLW file, used while uri is empty
    QString uri;     ///< a libpq connection URI; "" for PLW
    QString station; ///< this station's name in a shared store

    bool shared() const { return !uri.isEmpty(); }

    /// The store the settings in state name: EVENT_DB, STATION_NAME (this
    /// machine's host name when absent), DatabasePath.
    static EventStore of(const AppState& state);

    /// What the operator is shown of the store: "PLW", or the URI without
    /// its password.
    QString shown() const;
};

/// uri with any password left out (a user:password@ part, a password=
/// parameter), for display and for the log.
QString uriWithoutPassword(const QString& uri);

} // namespace events
